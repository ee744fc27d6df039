#include "report/sac_reader.h"

#include <cmath>
#include <string>

#include "report/bytes.h"
#include "report/civil_time.h"
#include "hbk2sac/sac_writer.h"

namespace report {

namespace {

namespace sac = hbk::sac;

constexpr std::size_t kSampleBytes = 4, kTextWidth = 8;

// The byte offset of a numeric header word.
constexpr std::size_t word(int n) { return static_cast<std::size_t>(n) * 4; }

// A character field up to its first 0 byte, without trailing blanks; the undefined mark
// reads as empty.
std::string text_field(std::string_view h, std::size_t at) {
  std::string_view t = h.substr(at, kTextWidth);
  t = t.substr(0, t.find('\0'));
  t = t.substr(0, t.find_last_not_of(' ') + 1);
  return t == "-12345" ? std::string() : std::string(t);
}

std::optional<Order> byte_order(std::string_view h) {
  if (i32(h, word(sac::nvhdr), Order::big) == sac::kHeaderVersion) return Order::big;
  if (i32(h, word(sac::nvhdr), Order::little) == sac::kHeaderVersion) return Order::little;
  return std::nullopt;
}

std::optional<int64_t> reference_time_us(std::string_view h, Order o) {
  const float b = f32(h, word(sac::b), o);
  const double offset_us = b == sac::kUndefinedFloat || !std::isfinite(b) ? 0.0 : std::round(double{b} * 1e6);
  const int32_t msec = i32(h, word(sac::nzmsec), o);
  if (msec < 0 || msec > 999 || std::abs(offset_us) > 1e15) return std::nullopt;
  return epoch_us({i32(h, word(sac::nzyear), o), i32(h, word(sac::nzjday), o), i32(h, word(sac::nzhour), o),
                   i32(h, word(sac::nzmin), o), i32(h, word(sac::nzsec), o),
                   int64_t{msec} * 1000 + static_cast<int64_t>(offset_us)});
}

}  // namespace

FileTraces read_sac(InputFile& file) {
  FileTraces out;
  const std::string h = file.read_at(0, sac::kHeaderSize);
  const std::optional<Order> order = h.size() == sac::kHeaderSize ? byte_order(h) : std::nullopt;
  if (!order) {
    out.error = "no SAC header (version 6) in either byte order";
    return out;
  }
  const std::optional<int64_t> start = reference_time_us(h, *order);
  const int32_t npts = i32(h, word(sac::npts), *order);
  const float delta = f32(h, word(sac::delta), *order);
  if (!start) out.error = "reference time out of range";
  else if (npts < 0) out.error = "negative sample count";
  else if (file.size() < sac::kHeaderSize + uint64_t(npts) * kSampleBytes) out.error = "samples cut short";
  if (!out.error.empty()) return out;
  Trace t;
  t.format = Format::sac;
  t.unit = text_field(h, sac::kstnm);
  t.channel = text_field(h, sac::kcmpnm);
  t.start_us = *start;
  t.rate = delta > 0 && std::isfinite(delta) ? 1.0 / delta : 0;
  t.samples = static_cast<uint64_t>(npts);
  out.traces.push_back(std::move(t));
  return out;
}

}  // namespace report
