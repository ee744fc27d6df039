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
  uint16_t offset;
  uint8_t width;  // 2 or 4
  uint32_t value;
};

void put(uint8_t* base, const FixedField& f) {
  if (f.width == 4)
    put_be32(base + f.offset, f.value);
  else
    put_be16(base + f.offset, static_cast<uint16_t>(f.value));
}

// The non-zero fixed fields; every other field starts at zero.
constexpr FixedField kFileHeaderFixed[] = {
    {3204, 4, 1},  // line_num
    {3208, 4, 1},  // reel_num
    {3212, 2, 1},  // data_Tra_evtnum
    {3224, 2, 2},  // data_smp: 32-bit integers
    {3228, 2, 1},  // Tra_sort
    {3230, 2, 1},  // vsum
    {3238, 2, 1},  // swep_type
    {3246, 2, 1},  // taper_type
    {3248, 2, 1},  // cor_datatra
    {3250, 2, 2},  // bin_gain
    {3252, 2, 1},  // amp_method
    {3256, 2, 1},  // imp_signal
};

constexpr FixedField kTraceHeaderFixed[] = {
    {16, 4, 1},  // eng_pit_num
    {28, 2, 1},  // tra_id
    {30, 2, 1},  // v_num_sum
    {32, 2, 1},  // h_num_sum
    {34, 2, 1},  // data
    {68, 2, 1},  // scaler_elv
    {70, 2, 1},  // scaler_coord
    {88, 2, 2},  // coord_unit
    {118, 2, 1},  // gain_type
    {120, 2, 1},  // ins_gain_const
    {124, 2, 1},  // corrl
    {138, 2, 1},  // taper_type
    {166, 2, 2},  // time_code
    {204, 2, 1},  // data_flag
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
  put_be16(&h[fh::smp_invl_reel], interval16(interval));
  put_be16(&h[fh::smp_invl_org], interval16(interval));
  put_be16(&h[fh::smp_num_date], count16(count));
  put_be16(&h[fh::smp_num_recd], count16(count));
  put_be32(&h[fh::smp_invl_reel32], interval);
  put_be32(&h[fh::smp_invl_org32], interval);
  put_be32(&h[fh::smp_num_data32], count);
  put_be32(&h[fh::smp_num_recd32], count);
}

void fill_trace_header(TraceHeader& h, const TraceIdentity& id) {
  uint8_t* p = h.data();
  h.fill(0);
  for (const auto& f : kTraceHeaderFixed) put(p, f);
  put_be32(p + th::tra_seq_num_line, id.chan);
  put_be32(p + th::tra_seq_num_reel, id.chan);
  put_be32(p + th::rec_num, id.evt_num);
  put_be32(p + th::tra_num_rec, id.chan);
  put_time_group(p + th::yrs_rec, id.start);
  put_be16(p + th::tra_num, id.sp);
  std::fill_n(p + th::usign_info, kStationAndSensorSize + kChanNameSize, uint8_t{' '});
  put_be16(p + th::ms_smp, id.start.msec);
  put_time_group(p + th::time_info, id.start);
  put_be16(p + th::time_info + 10, id.start.msec);
  put_be32(p + th::scl_factor, std::bit_cast<uint32_t>(id.scale));
  put_be16(p + th::sel_no, id.unit);
}

void set_trace_header_pass(TraceHeader& h, const TracePass& pass) {
  uint8_t* p = h.data();
  put_be16(p + th::num_smp, count16(pass.count));
  put_be16(p + th::smp_intvl, interval16(pass.interval));
  put_be32(p + th::smp_intvl32, pass.interval);
  put_be32(p + th::num_smp32, pass.count);
  put_be32(p + th::max_cnt, static_cast<uint32_t>(pass.max));
  put_be32(p + th::min_cnt, static_cast<uint32_t>(pass.min));
}

}  // namespace pk::segy
