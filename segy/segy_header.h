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

// File header field offsets that the finishing pass and the gathers touch: sample
// interval and count in 16 bits, then the same in 32 bits.
namespace fh {
constexpr std::size_t data_Tra_evtnum = 3212, smp_invl_reel = 3216, smp_invl_org = 3218;
constexpr std::size_t smp_num_date = 3220, smp_num_recd = 3222, data_smp = 3224;
constexpr std::size_t smp_invl_reel32 = 3260, smp_invl_org32 = 3264, smp_num_data32 = 3268, smp_num_recd32 = 3272;
}  // namespace fh

// Trace header field offsets: identity, sample count and interval, the start time, the
// PASSCAL block from usign_info on.
namespace th {
constexpr std::size_t tra_seq_num_line = 0, tra_seq_num_reel = 4, rec_num = 8, tra_num_rec = 12;
constexpr std::size_t num_smp = 114, smp_intvl = 116, yrs_rec = 156, tra_num = 172;
constexpr std::size_t usign_info = 180, chan_name = 194, smp_intvl32 = 200, ms_smp = 206, time_info = 208;
constexpr std::size_t scl_factor = 220, sel_no = 224, num_smp32 = 228, max_cnt = 232, min_cnt = 236;
}  // namespace th

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
