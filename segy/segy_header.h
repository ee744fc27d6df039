// SEG-Y file header (3600 bytes) and trace header (240 bytes) as pk_segy fills them.
// Headers live in plain byte arrays; every field is written at an explicit offset,
// most significant byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pk::segy {

constexpr std::size_t kFileHeaderSize = 3600;
constexpr std::size_t kTraceHeaderSize = 240;
constexpr std::size_t kSampleSize = 4;

using FileHeader = std::array<uint8_t, kFileHeaderSize>;
using TraceHeader = std::array<uint8_t, kTraceHeaderSize>;

// A header field by the number of its first byte, counted from 1 as the SEG-Y standard
// counts them; the file header's binary part goes on from byte 3201. at() is the one
// place such a number becomes an index into a header array.
struct FieldByte {
  uint16_t number;
};
constexpr std::size_t at(FieldByte f) { return f.number - 1u; }

// File header fields, named after the standard.
constexpr FieldByte kBinLineNumber{3205}, kBinReelNumber{3209}, kBinTracesPerEnsemble{3213};
constexpr FieldByte kBinSampleInterval{3217}, kBinSampleIntervalOriginal{3219};
constexpr FieldByte kBinSamplesPerTrace{3221}, kBinSamplesPerTraceOriginal{3223}, kBinFormatCode{3225};
constexpr FieldByte kBinSortingCode{3229}, kBinVerticalSumCode{3231}, kBinSweepTypeCode{3239};
constexpr FieldByte kBinSweepTaperType{3247}, kBinCorrelatedTraces{3249}, kBinGainRecovered{3251};
constexpr FieldByte kBinAmplitudeRecovery{3253}, kBinImpulsePolarity{3257};
// The same interval and counts in 32 bits, in bytes the standard leaves unassigned.
constexpr FieldByte kBinSampleInterval32{3261}, kBinSampleIntervalOriginal32{3265};
constexpr FieldByte kBinSamplesPerTrace32{3269}, kBinSamplesPerTraceOriginal32{3273};

// Trace header fields, named after the standard up to byte 180.
constexpr FieldByte kTrSequenceLine{1}, kTrSequenceFile{5}, kTrFieldRecord{9}, kTrNumberInFieldRecord{13};
constexpr FieldByte kTrEnergySourcePoint{17}, kTrIdentificationCode{29}, kTrVerticallySummed{31};
constexpr FieldByte kTrHorizontallyStacked{33}, kTrDataUse{35}, kTrElevationScalar{69};
constexpr FieldByte kTrCoordinateScalar{71}, kTrCoordinateUnits{89}, kTrSampleCount{115};
constexpr FieldByte kTrSampleInterval{117}, kTrGainType{119}, kTrInstrumentGainConstant{121};
constexpr FieldByte kTrCorrelated{125}, kTrSweepTaperType{139};
// Year, day of the year, hour, minute and second, 16 bits each.
constexpr FieldByte kTrYearRecorded{157};
constexpr FieldByte kTrTimeBasisCode{167}, kTrGeophoneGroupFirstTrace{173};
// The PASSCAL block from byte 181: station name (6 bytes), sensor serial (8), channel
// name (4), the 32-bit interval, the trigger time (year to millisecond, 16 bits each),
// the scale, the unit, the 32-bit count and the extreme samples.
constexpr FieldByte kTrStationName{181}, kTrChannelName{195}, kTrSampleInterval32{201};
constexpr FieldByte kTrDataForm{205}, kTrMilliseconds{207}, kTrTriggerYear{209};
constexpr FieldByte kTrTriggerMilliseconds{219}, kTrScaleFactor{221}, kTrInstrumentNumber{225};
constexpr FieldByte kTrSampleCount32{229}, kTrMaxValue{233}, kTrMinValue{237};

// ---- derived values ----
// Microseconds between samples. Rates below 1 per second would truncate to 0, so they
// are divided in floating point instead. rate must be positive.
uint32_t sample_interval(float rate);
// An interval past 65535 cannot be held in 16 bits and would wrap into another one. Those
// fields hold 0 then ("not known") and readers find the true interval in the 32-bit fields.
inline uint16_t interval16(uint32_t interval) { return static_cast<uint16_t>(interval > 65535u ? 0u : interval); }
// The most samples the 16-bit counts of the headers carry.
constexpr unsigned kMaxCount16 = 32767;
inline uint16_t count16(uint32_t count) { return static_cast<uint16_t>(count > kMaxCount16 ? kMaxCount16 : count); }
// Volts per count from the 128-character bit-weight text of the latest EH/ET packet.
float channel_scale(std::string_view bit_weight, uint32_t chan);

// Digits of a "YYYYDDDHHMMSSmmm" time; a missing or non-numeric part reads as 0.
struct StartTime {
  uint16_t year = 0, day = 0, hour = 0, min = 0, sec = 0, msec = 0;
};
StartTime parse_start_time(std::string_view time16);

// ---- header builders ----
// The whole file header with its pass fields zero.
void fill_file_header(FileHeader& h);
// Sample interval and count as the finishing pass stores them in a file header.
void set_file_header_pass(FileHeader& h, uint32_t interval, uint32_t count);

struct TraceIdentity {
  uint32_t chan = 0;
  uint32_t evt_num = 0;
  uint16_t unit = 0;
  uint16_t sp = 0;
  StartTime start;
  float scale = 1.0f;
};
// The whole trace header of one channel with its pass fields zero.
void fill_trace_header(TraceHeader& h, const TraceIdentity& id);

struct TracePass {
  uint32_t interval = 0;
  uint32_t count = 0;
  int32_t max = 0;
  int32_t min = 0;
};
void set_trace_header_pass(TraceHeader& h, const TracePass& pass);

}  // namespace pk::segy
