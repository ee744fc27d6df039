#include "segy_reader.h"

#include <cstdio>
#include <string>
#include <vector>

#include "bytes.h"
#include "civil_time.h"

namespace report {

namespace {

constexpr std::size_t kFileHeader = 3600, kTraceHeader = 240, kSampleBytes = 4;

// Trace header fields, offsets from the header's start.
namespace th {
constexpr std::size_t channel = 0, count16 = 114, interval16 = 116, year = 156, jday = 158, hour = 160,
                      minute = 162, second = 164, interval32 = 200, msec = 206, unit = 224, count32 = 228;
}

// The wider field where it is set; the 16-bit one covers old files and small values.
uint32_t wide_or_narrow(std::string_view h, std::size_t wide, std::size_t narrow) {
  const uint32_t v = u32(h, wide, Order::big);
  return v != 0 ? v : u16(h, narrow, Order::big);
}

int field16(std::string_view h, std::size_t at) { return u16(h, at, Order::big); }

// The stream digit of "YYYY_DDD_HH_MM_SS_0UUUU_S_C.RSY" and "..._0UUUU_S.EGY"; receiver
// gathers ("..._0UUUU.RGY") hold traces of every stream and name none.
std::string stream_of(std::string_view name) {
  const std::string_view stem = name.substr(0, name.rfind('.'));
  std::vector<std::string_view> parts;
  for (std::size_t from = 0;;) {
    const std::size_t to = stem.find('_', from);
    parts.push_back(stem.substr(from, to - from));
    if (to == std::string_view::npos) break;
    from = to + 1;
  }
  return parts.size() >= 7 ? std::string(parts[6]) : std::string();
}

std::optional<Trace> trace_of(std::string_view h, std::string& error) {
  const DayTime t{field16(h, th::year), field16(h, th::jday), field16(h, th::hour), field16(h, th::minute),
                  field16(h, th::second), int64_t{field16(h, th::msec)} * 1000};
  const std::optional<int64_t> start = epoch_us(t);
  if (!start) {
    error = "start time out of range";
    return std::nullopt;
  }
  Trace tr;
  tr.format = Format::segy;
  char unit[8];
  std::snprintf(unit, sizeof unit, "%04X", field16(h, th::unit));
  tr.unit = unit;
  tr.channel = std::to_string(uint64_t{u32(h, th::channel, Order::big)} + 1);
  tr.start_us = *start;
  const uint32_t interval = wide_or_narrow(h, th::interval32, th::interval16);
  tr.rate = interval != 0 ? 1e6 / interval : 0;
  tr.samples = wide_or_narrow(h, th::count32, th::count16);
  return tr;
}

}  // namespace

FileTraces read_segy(InputFile& file, std::string_view name, bool file_header) {
  FileTraces out;
  const std::string stream = stream_of(name);
  uint64_t at = file_header ? kFileHeader : 0;
  if (file.size() < at + kTraceHeader) out.error = "shorter than its headers";
  while (out.error.empty() && at < file.size()) {
    const std::string h = file.read_at(at, kTraceHeader);
    if (h.size() != kTraceHeader) {
      out.error = "trace header at byte " + std::to_string(at) + " cut short";
      break;
    }
    std::optional<Trace> t = trace_of(h, out.error);
    if (!t) break;
    t->stream = stream;
    const uint64_t next = at + kTraceHeader + t->samples * kSampleBytes;
    if (next > file.size()) {
      out.error = "samples of the trace at byte " + std::to_string(at) + " cut short";
      break;
    }
    out.traces.push_back(std::move(*t));
    at = next;
  }
  return out;
}

}  // namespace report
