#include "report/segy_reader.h"

#include <cstdio>
#include <string>
#include <vector>

#include "report/bytes.h"
#include "report/civil_time.h"
#include "segy/segy_header.h"
#include "report/split.h"

namespace report {

namespace {

using pk::segy::kFileHeaderSize, pk::segy::kTraceHeaderSize, pk::segy::kSampleSize;
namespace sg = pk::segy;

// The wider field where it is set; the 16-bit one covers old files and small values.
uint32_t wide_or_narrow(std::string_view h, std::size_t wide, std::size_t narrow) {
  const uint32_t v = u32(h, wide, Order::big);
  return v != 0 ? v : u16(h, narrow, Order::big);
}

int field16(std::string_view h, std::size_t at) { return u16(h, at, Order::big); }

// Year, day of the year, hour, minute and second follow each other.
int time_field(std::string_view h, std::size_t n) { return field16(h, sg::at(sg::kTrYearRecorded) + 2 * n); }

// The stream digit of "YYYY_DDD_HH_MM_SS_0UUUU_S_C.RSY" and "..._0UUUU_S.EGY"; receiver
// gathers ("..._0UUUU.RGY") hold traces of every stream and name none.
std::string stream_of(std::string_view name) {
  const std::string_view stem = name.substr(0, name.rfind('.'));
  const std::vector<std::string_view> parts = split(stem, '_');
  return parts.size() >= 7 ? std::string(parts[6]) : std::string();
}

std::optional<Trace> trace_of(std::string_view h, std::string& error) {
  const DayTime t{time_field(h, 0), time_field(h, 1), time_field(h, 2), time_field(h, 3), time_field(h, 4),
                  int64_t{field16(h, sg::at(sg::kTrMilliseconds))} * 1000};
  const std::optional<int64_t> start = epoch_us(t);
  if (!start) {
    error = "start time out of range";
    return std::nullopt;
  }
  Trace tr;
  tr.format = Format::segy;
  char unit[8];
  std::snprintf(unit, sizeof unit, "%04X", field16(h, sg::at(sg::kTrInstrumentNumber)));
  tr.unit = unit;
  tr.channel = std::to_string(uint64_t{u32(h, sg::at(sg::kTrSequenceLine), Order::big)} + 1);
  tr.start_us = *start;
  const uint32_t interval = wide_or_narrow(h, sg::at(sg::kTrSampleInterval32), sg::at(sg::kTrSampleInterval));
  tr.rate = interval != 0 ? 1e6 / interval : 0;
  tr.samples = wide_or_narrow(h, sg::at(sg::kTrSampleCount32), sg::at(sg::kTrSampleCount));
  return tr;
}

}  // namespace

FileTraces read_segy(InputFile& file, std::string_view name, bool file_header) {
  FileTraces out;
  const std::string stream = stream_of(name);
  uint64_t at = file_header ? kFileHeaderSize : 0;
  if (file.size() < at + kTraceHeaderSize) out.error = "shorter than its headers";
  while (out.error.empty() && at < file.size()) {
    const std::string h = file.read_at(at, kTraceHeaderSize);
    if (h.size() != kTraceHeaderSize) {
      out.error = "trace header at byte " + std::to_string(at) + " cut short";
      break;
    }
    std::optional<Trace> t = trace_of(h, out.error);
    if (!t) break;
    t->stream = stream;
    const uint64_t next = at + kTraceHeaderSize + t->samples * kSampleSize;
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
