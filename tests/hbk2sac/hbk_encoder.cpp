#include "hbk_encoder.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <stdexcept>

namespace hbktest {

namespace {

void put_be32(hbk::Block& b, std::size_t at, std::uint32_t v) {
  b[at] = std::uint8_t(v >> 24);
  b[at + 1] = std::uint8_t(v >> 16);
  b[at + 2] = std::uint8_t(v >> 8);
  b[at + 3] = std::uint8_t(v);
}

void put_be16(hbk::Block& b, std::size_t at, std::uint16_t v) {
  b[at] = std::uint8_t(v >> 8);
  b[at + 1] = std::uint8_t(v);
}

}  // namespace

std::uint32_t text_to_id(const std::string& text, bool high_bit) {
  std::uint32_t v = 0;
  for (char c : text) {
    const unsigned digit = (c >= '0' && c <= '9') ? unsigned(c - '0') : unsigned(c - 'A' + 10);
    v = v * 36 + digit;
  }
  return high_bit ? (v | 0x80000000u) : v;
}

std::uint32_t make_timecode(std::uint32_t days, std::uint32_t seconds) {
  return days << 17 | (seconds & 0x1FFFFu);
}

std::uint32_t timecode_for_date(int year, int month, int day, std::uint32_t seconds) {
  using namespace std::chrono;
  const sys_days origin{1989y / November / 17};
  const sys_days date{std::chrono::year{year} / month / day};
  return make_timecode(std::uint32_t((date - origin).count()), seconds);
}

hbk::Block encode_block(const BlockSpec& spec) {
  hbk::Block b{};
  put_be32(b, hbk::off::sysid, spec.sysid);
  put_be32(b, hbk::off::streamid, spec.streamid);
  put_be32(b, hbk::off::timecode, spec.timecode);
  b[hbk::off::rate_code] = spec.rate_code;
  b[hbk::off::packing] = std::uint8_t((spec.fraction & 0x0Fu) << 4 | (spec.compression & 0x07u));
  put_be32(b, hbk::off::initial, std::uint32_t(spec.initial));

  const unsigned per_record =
      (spec.compression == 1 || spec.compression == 2 || spec.compression == 4) ? spec.compression
                                                                                : 1;
  const std::size_t records = (spec.diffs.size() + per_record - 1) / per_record;
  if (records > hbk::max_records) throw std::invalid_argument("too many differences");
  for (std::size_t i = 0; i < spec.diffs.size(); ++i) {
    const std::int32_t d = spec.diffs[i];
    switch (per_record) {
      case 1: put_be32(b, hbk::off::records + 4 * i, std::uint32_t(d)); break;
      case 2:
        if (d < -32768 || d > 32767) throw std::invalid_argument("16-bit difference");
        put_be16(b, hbk::off::records + 2 * i, std::uint16_t(d));
        break;
      case 4:
        if (d < -128 || d > 127) throw std::invalid_argument("8-bit difference");
        b[hbk::off::records + i] = std::uint8_t(d);
        break;
    }
  }
  b[hbk::off::record_count] = spec.record_count.value_or(std::uint8_t(records));
  const std::size_t trailing_at = hbk::off::records + 4 * std::min<std::size_t>(
                                                              b[hbk::off::record_count], 250);
  put_be32(b, trailing_at, spec.trailing);
  return b;
}

BlockSpec spec_from_samples(const std::vector<std::int32_t>& samples, unsigned compression) {
  BlockSpec s;
  s.compression = compression;
  if (samples.empty()) return s;
  s.initial = samples[0];
  std::int32_t prev = samples[0];
  for (std::int32_t v : samples) {
    s.diffs.push_back(std::int32_t(std::uint32_t(v) - std::uint32_t(prev)));
    prev = v;
  }
  return s;
}

void write_blocks(const std::string& path, const std::vector<hbk::Block>& blocks,
                  const std::string& tail) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const hbk::Block& b : blocks)
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  out << tail;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace hbktest
