#include "segy/segy_header.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "common/byte_order.h"

namespace pk::segy {

namespace {

struct FixedField {
  FieldByte field;
  uint8_t width;  // 2 or 4
  uint32_t value;
};

void put(uint8_t* base, const FixedField& f) {
  if (f.width == 4)
    put_be32(base + at(f.field), f.value);
  else
    put_be16(base + at(f.field), static_cast<uint16_t>(f.value));
}

// The non-zero fixed fields; every other field starts at zero.
constexpr FixedField kFileHeaderFixed[] = {
    {kBinLineNumber, 4, 1},        {kBinReelNumber, 4, 1},        {kBinTracesPerEnsemble, 2, 1},
    {kBinFormatCode, 2, 2},  // 32-bit integers
    {kBinSortingCode, 2, 1},       {kBinVerticalSumCode, 2, 1},   {kBinSweepTypeCode, 2, 1},
    {kBinSweepTaperType, 2, 1},    {kBinCorrelatedTraces, 2, 1},  {kBinGainRecovered, 2, 2},
    {kBinAmplitudeRecovery, 2, 1}, {kBinImpulsePolarity, 2, 1},
};

constexpr FixedField kTraceHeaderFixed[] = {
    {kTrEnergySourcePoint, 4, 1},   {kTrIdentificationCode, 2, 1},      {kTrVerticallySummed, 2, 1},
    {kTrHorizontallyStacked, 2, 1}, {kTrDataUse, 2, 1},                 {kTrElevationScalar, 2, 1},
    {kTrCoordinateScalar, 2, 1},    {kTrCoordinateUnits, 2, 2},         {kTrGainType, 2, 1},
    {kTrInstrumentGainConstant, 2, 1}, {kTrCorrelated, 2, 1},           {kTrSweepTaperType, 2, 1},
    {kTrTimeBasisCode, 2, 2},       {kTrDataForm, 2, 1},
};

constexpr std::size_t kTextSize = 3200;
constexpr std::size_t kStationAndSensorSize = 6 + 8;
constexpr std::size_t kChanNameSize = 4;

uint16_t digits_at(std::string_view s, std::size_t off, std::size_t width) {
  if (off >= s.size()) return 0;
  const std::string part(s.substr(off, width));
  return static_cast<uint16_t>(std::strtoul(part.c_str(), nullptr, 10));
}

void put_time_group(uint8_t* dest, const StartTime& t) {
  const uint16_t parts[] = {t.year, t.day, t.hour, t.min, t.sec};
  for (std::size_t i = 0; i < std::size(parts); ++i) put_be16(dest + 2 * i, parts[i]);
}

}  // namespace

uint32_t sample_interval(float rate) {
  constexpr float kMicro = 1000000.0f;
  constexpr double kMaxInterval = std::numeric_limits<uint32_t>::max();
  if (!(rate > 0.0f)) return 0;
  if (rate >= 4294967296.0f) return 0;
  const auto whole = static_cast<uint32_t>(rate);
  if (whole != 0) return 1000000u / whole;
  // Single precision on purpose: the rate was read into a float, and 0.1 must give
  // 10000000, not the 9999999 that double division of that float yields.
  const float interval = kMicro / rate;
  return static_cast<uint32_t>(std::min(kMaxInterval, std::trunc(static_cast<double>(interval))));
}

float channel_scale(std::string_view bit_weight, uint32_t chan) {
  constexpr std::size_t kEntry = 8;
  constexpr float kUnknown = 1.0f;
  if (chan >= bit_weight.size() / kEntry) return kUnknown;
  const std::string_view entry = bit_weight.substr(chan * kEntry, kEntry);
  if (entry.empty() || entry[0] == ' ') return kUnknown;
  const std::string number(entry.substr(0, 5));
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (end == number.c_str() || !std::isfinite(value)) return kUnknown;
  const char prefix = entry.size() > 6 ? entry[6] : ' ';
  switch (prefix) {
    case 'm': return static_cast<float>(value / 1e3);
    case 'u': return static_cast<float>(value / 1e6);
    case 'n': return static_cast<float>(value / 1e9);
    default: return static_cast<float>(value);  // already volts
  }
}

StartTime parse_start_time(std::string_view time16) {
  StartTime t;
  t.year = digits_at(time16, 0, 4);
  t.day = digits_at(time16, 4, 3);
  t.hour = digits_at(time16, 7, 2);
  t.min = digits_at(time16, 9, 2);
  t.sec = digits_at(time16, 11, 2);
  t.msec = digits_at(time16, 13, 3);
  return t;
}

void fill_file_header(FileHeader& h) {
  std::fill_n(h.begin(), kTextSize, uint8_t{' '});
  std::fill(h.begin() + kTextSize, h.end(), uint8_t{0});
  for (const auto& f : kFileHeaderFixed) put(h.data(), f);
}

void set_file_header_pass(FileHeader& h, uint32_t interval, uint32_t count) {
  put_be16(&h[at(kBinSampleInterval)], interval16(interval));
  put_be16(&h[at(kBinSampleIntervalOriginal)], interval16(interval));
  put_be16(&h[at(kBinSamplesPerTrace)], count16(count));
  put_be16(&h[at(kBinSamplesPerTraceOriginal)], count16(count));
  put_be32(&h[at(kBinSampleInterval32)], interval);
  put_be32(&h[at(kBinSampleIntervalOriginal32)], interval);
  put_be32(&h[at(kBinSamplesPerTrace32)], count);
  put_be32(&h[at(kBinSamplesPerTraceOriginal32)], count);
}

void fill_trace_header(TraceHeader& h, const TraceIdentity& id) {
  uint8_t* p = h.data();
  h.fill(0);
  for (const auto& f : kTraceHeaderFixed) put(p, f);
  put_be32(p + at(kTrSequenceLine), id.chan);
  put_be32(p + at(kTrSequenceFile), id.chan);
  put_be32(p + at(kTrFieldRecord), id.evt_num);
  put_be32(p + at(kTrNumberInFieldRecord), id.chan);
  put_time_group(p + at(kTrYearRecorded), id.start);
  put_be16(p + at(kTrGeophoneGroupFirstTrace), id.sp);
  std::fill_n(p + at(kTrStationName), kStationAndSensorSize + kChanNameSize, uint8_t{' '});
  put_be16(p + at(kTrMilliseconds), id.start.msec);
  put_time_group(p + at(kTrTriggerYear), id.start);
  put_be16(p + at(kTrTriggerMilliseconds), id.start.msec);
  put_be32(p + at(kTrScaleFactor), std::bit_cast<uint32_t>(id.scale));
  put_be16(p + at(kTrInstrumentNumber), id.unit);
}

void set_trace_header_pass(TraceHeader& h, const TracePass& pass) {
  uint8_t* p = h.data();
  put_be16(p + at(kTrSampleCount), count16(pass.count));
  put_be16(p + at(kTrSampleInterval), interval16(pass.interval));
  put_be32(p + at(kTrSampleInterval32), pass.interval);
  put_be32(p + at(kTrSampleCount32), pass.count);
  put_be32(p + at(kTrMaxValue), static_cast<uint32_t>(pass.max));
  put_be32(p + at(kTrMinValue), static_cast<uint32_t>(pass.min));
}

}  // namespace pk::segy
