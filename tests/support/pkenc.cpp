#include "tests/support/pkenc.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "common/decode.h"

namespace pktest {

namespace {

// ---- time arithmetic on absolute milliseconds since day 1 of year 1 ----
constexpr long long kMsPerDay = 86'400'000;

long long days_before(long long y) {
  const long long p = y - 1;
  return 365 * p + p / 4 - p / 100 + p / 400;
}

long long field(std::string_view s, std::size_t off, std::size_t width) {
  if (s.size() < off + width) throw std::invalid_argument("time text too short: " + std::string(s));
  long long v = 0;
  for (std::size_t i = off; i < off + width; ++i) {
    if (s[i] < '0' || s[i] > '9') throw std::invalid_argument("time text not numeric: " + std::string(s));
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

long long to_ms(std::string_view t) {
  const long long y = field(t, 0, 4), d = field(t, 4, 3);
  const long long tod = ((field(t, 7, 2) * 60 + field(t, 9, 2)) * 60 + field(t, 11, 2)) * 1000 + field(t, 13, 3);
  return (days_before(y) + d - 1) * kMsPerDay + tod;
}

std::string from_ms(long long ms) {
  long long days = ms / kMsPerDay, tod = ms % kMsPerDay;
  if (tod < 0) { tod += kMsPerDay; --days; }
  long long y = days / 366 + 1;
  while (days_before(y + 1) <= days) ++y;
  while (days_before(y) > days) --y;
  const long long d = days - days_before(y) + 1;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04lld%03lld%02lld%02lld%02lld%03lld", y, d, tod / 3'600'000,
                tod / 60'000 % 60, tod / 1000 % 60, tod % 1000);
  return buf;
}

unsigned nibble(char c) {
  if (c >= '0' && c <= '?') return static_cast<unsigned>(c - '0');  // '0'..'9', ':'..'?'
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  throw std::invalid_argument(std::string("not a BCD nibble: ") + c);
}

void check_range(std::size_t off, std::size_t width) {
  if (off + width > 1024) throw std::out_of_range("field past the end of the packet");
}

void put_byte(Packet& p, std::size_t off, uint8_t v) {
  check_range(off, 1);
  p[off] = v;
}

// ---- compressed frames ----
constexpr std::size_t kFrames = 15, kWords = 16, kFrameOff = 64;

bool fits(int32_t v, int bits) {
  const int64_t lim = int64_t{1} << (bits - 1);
  return v >= -lim && v < lim;
}

int32_t wrap_sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// One data word with its control code; takes 4, 2 or 1 of the remaining differences.
struct Word {
  uint8_t code;
  uint32_t bits;
  std::size_t used;
};

Word pack_word_c0(std::span<const int32_t> d) {
  if (d.size() >= 4 && std::all_of(d.begin(), d.begin() + 4, [](int32_t v) { return fits(v, 8); })) {
    uint32_t w = 0;
    for (std::size_t i = 0; i < 4; ++i) w = (w << 8) | static_cast<uint8_t>(d[i]);
    return {1, w, 4};
  }
  if (d.size() >= 2 && fits(d[0], 16) && fits(d[1], 16))
    return {2, (uint32_t{static_cast<uint16_t>(d[0])} << 16) | static_cast<uint16_t>(d[1]), 2};
  return {3, static_cast<uint32_t>(d[0]), 1};
}

// The second format's word layouts, densest first.
struct Layout {
  uint8_t code;
  uint32_t top_bits;  // the word's bits 31-30; part of the data with code 1
  std::size_t count;
  unsigned bits;
};
constexpr Layout kC2Layouts[] = {{3, 2, 7, 4}, {3, 1, 6, 5},  {3, 0, 5, 6}, {1, 0, 4, 8},
                                 {2, 3, 3, 10}, {2, 2, 2, 15}, {2, 1, 1, 30}};

Word pack_word_c2(std::span<const int32_t> d) {
  for (const Layout& l : kC2Layouts) {
    if (d.size() < l.count) continue;
    if (!std::all_of(d.begin(), d.begin() + l.count, [&](int32_t v) { return fits(v, int(l.bits)); })) continue;
    uint32_t w = l.top_bits << 30;
    for (std::size_t i = 0; i < l.count; ++i)
      w |= (static_cast<uint32_t>(d[i]) & ((uint32_t{1} << l.bits) - 1)) << (l.bits * (l.count - 1 - i));
    return {l.code, w, l.count};
  }
  throw std::invalid_argument("difference beyond 30 bits");
}

void put_frame_word(Packet& p, std::size_t frame, std::size_t word, uint32_t v) {
  put_u32be(p, kFrameOff + frame * 64 + word * 4, v);
}

void put_texts(Packet& p, std::size_t off, const std::vector<std::string>& items, std::size_t width,
               std::size_t max_items) {
  for (std::size_t i = 0; i < items.size() && i < max_items; ++i) put_text(p, off + i * width, items[i], width);
}

// Field widths of the trigger records in the DS packet, by trigger type.
std::vector<std::size_t> trigger_widths(std::string_view type) {
  std::string t(type.substr(type.size() > 3 && type[0] == ' ' ? 1 : 0, 3));
  std::transform(t.begin(), t.end(), t.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
  if (t == "EVT") return {16, 2, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 4};
  if (t == "TIM") return {14, 8, 4, 8, 8};
  if (t == "LEV") return {8, 8, 8};
  if (t == "CON") return {8};
  if (t == "EXT" || t == "RAD") return {8, 8};
  if (t == "CRS") return {2, 8, 8};
  if (t == "TML") {
    std::vector<std::size_t> w(11, 14);
    w.push_back(8);
    return w;
  }
  return {};
}

std::string format_rate(double rate) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", rate);
  return buf;
}

}  // namespace

// ---- low-level writers ----
void put_bcd(Packet& p, std::size_t off, unsigned value, std::size_t nbytes) {
  check_range(off, nbytes);
  for (std::size_t i = nbytes; i-- > 0;) {
    const unsigned lo = value % 10;
    value /= 10;
    const unsigned hi = value % 10;
    value /= 10;
    p[off + i] = static_cast<uint8_t>(hi << 4 | lo);
  }
}

void put_bcd_digits(Packet& p, std::size_t off, std::string_view digits) {
  if (digits.size() % 2 != 0) throw std::invalid_argument("odd number of BCD digits");
  check_range(off, digits.size() / 2);
  for (std::size_t i = 0; i < digits.size(); i += 2)
    p[off + i / 2] = static_cast<uint8_t>(nibble(digits[i]) << 4 | nibble(digits[i + 1]));
}

void put_text(Packet& p, std::size_t off, std::string_view text, std::size_t width) {
  check_range(off, width);
  for (std::size_t i = 0; i < width; ++i) p[off + i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}

void put_bytes(Packet& p, std::size_t off, std::initializer_list<uint8_t> bytes) {
  check_range(off, bytes.size());
  for (uint8_t b : bytes) p[off++] = b;
}

void put_u16be(Packet& p, std::size_t off, uint16_t v) {
  check_range(off, 2);
  p[off] = static_cast<uint8_t>(v >> 8);
  p[off + 1] = static_cast<uint8_t>(v);
}

void put_u32be(Packet& p, std::size_t off, uint32_t v) {
  check_range(off, 4);
  for (std::size_t i = 0; i < 4; ++i) p[off + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// ---- times ----
std::string advance_time(std::string_view time16, long long ms) { return from_ms(to_ms(time16) + ms); }

long long time_diff_ms(std::string_view a, std::string_view b) { return to_ms(b) - to_ms(a); }

std::string header_digits(std::string_view time16) {
  field(time16, 4, 12);  // validates
  return std::string(time16.substr(4, 12));
}

unsigned header_year(std::string_view time16) { return static_cast<unsigned>(field(time16, 0, 4) % 100); }

std::string advance_header_time(std::string_view time12, int year4, long long ms) {
  char y[8];
  std::snprintf(y, sizeof y, "%04d", year4);
  // The day counter simply restarts in the following year: the header has no year here.
  return from_ms(to_ms(std::string(y) + std::string(time12)) + ms).substr(4);
}

// ---- header ----
void put_header(Packet& p, const Header& h) {
  put_text(p, 0, h.type, 2);
  put_bcd(p, 2, h.exper, 1);
  put_bcd(p, 3, header_year(h.time), 1);
  put_u16be(p, 4, h.unit);
  put_bcd_digits(p, 6, header_digits(h.time));
  put_bcd(p, 12, h.bpp, 2);
  put_bcd(p, 14, h.seq, 2);
}

Packet make_packet(const Header& h, uint8_t body_fill) {
  Packet p;
  p.fill(body_fill);
  put_header(p, h);
  return p;
}

// ---- EH / ET, NH / NT ----
namespace {
void put_event_common(Packet& p, unsigned event, unsigned stream, uint8_t fmt, const std::string& trig_msg) {
  put_bcd(p, 16, event, 2);
  put_bcd(p, 18, stream, 1);
  put_byte(p, 23, fmt);
  put_text(p, 24, trig_msg, 33);
}

void put_event_times(Packet& p, const std::string& stream_name, const std::string& rate,
                     const std::string& trig_type, const std::string& mes_rate,
                     const std::array<const std::string*, 4>& times) {
  put_text(p, 64, stream_name, 24);
  if (mes_rate.empty()) {
    put_text(p, 88, rate, 4);
    put_text(p, 92, trig_type, 4);
  } else {
    put_text(p, 88, mes_rate, 8);
  }
  for (std::size_t i = 0; i < times.size(); ++i) put_text(p, 96 + 16 * i, *times[i], 16);
}
}  // namespace

Packet make_eh_et(const EventHeader& e) {
  Packet p = make_packet(e.head, ' ');
  for (std::size_t i = 16; i < 24; ++i) p[i] = 0;
  put_event_common(p, e.event, e.stream, e.dat_fmt, e.trig_msg);
  if (e.head.bpp <= 57) return p;
  put_event_times(p, e.stream_name, e.rate, e.trig_type, e.mes_rate,
                  {&e.trig_time, &e.first_time, &e.detrig_time, &e.last_time});
  put_texts(p, 160, e.bit_weights, 8, 16);
  put_texts(p, 288, e.gains, 4, 16);
  put_texts(p, 352, e.fsvs, 8, 16);
  if (!e.mes_rate.empty()) {
    put_text(p, 944, e.mes_smpcnt, 10);
    put_text(p, 954, e.mes_ovrcnt, 6);
    put_text(p, 960, e.mes_version, 8);
    put_text(p, 968, e.mes_txfreq, 8);
    put_text(p, 976, e.mes_txid, 8);
    put_text(p, 984, e.mes_txsite, 8);
    put_text(p, 992, e.mes_sensor, 8);
    put_text(p, 1000, e.mes_rcvsite, 8);
    put_text(p, 1012, e.mes_offset, 4);
    put_text(p, 1016, e.mes_comm_lk, 2);
    put_text(p, 1018, e.mes_comm_pos, 4);
  }
  return p;
}

Packet make_nh_nt(const NetHeader& n) {
  Packet p = make_packet(n.head, ' ');
  for (std::size_t i = 16; i < 24; ++i) p[i] = 0;
  put_event_common(p, n.event, n.stream, 0, n.trig_msg);
  put_event_times(p, n.stream_name, n.rate, n.trig_type, n.mes_rate,
                  {&n.trig_time, &n.first_time, &n.detrig_time, &n.last_time});
  if (!n.mes_rate.empty()) {
    put_text(p, 960, n.mes_version, 8);
    put_text(p, 968, n.mes_txfreq, 8);
    put_text(p, 976, n.mes_txid, 8);
    put_text(p, 984, n.mes_txsite, 8);
    put_text(p, 992, n.mes_txoldfrq, 8);
    put_text(p, 1000, n.mes_crusite, 8);
    put_text(p, 1012, n.mes_offset, 4);
    put_text(p, 1016, n.mes_comm_lk, 2);
    put_text(p, 1018, n.mes_comm_pos, 4);
  }
  return p;
}

// ---- DT ----
namespace {
Packet make_dt_prefix(const DataHeader& d, uint8_t default_fmt, std::size_t count) {
  Packet p = make_packet(d.head, 0);
  put_bcd(p, 16, d.event, 2);
  put_bcd(p, 18, d.stream, 1);
  put_bcd(p, 19, d.channel, 1);
  put_bcd(p, 20, d.count.value_or(static_cast<unsigned>(count)), 2);
  put_byte(p, 22, d.flags);
  put_byte(p, 23, d.dat_fmt.value_or(default_fmt));
  return p;
}
}  // namespace

Packet make_dt16(const DataHeader& d, std::span<const int32_t> samples) {
  const std::size_t n = std::min(samples.size(), kMax16);
  Packet p = make_dt_prefix(d, kFmt16, n);
  for (std::size_t i = 0; i < n; ++i) put_u16be(p, 24 + 2 * i, static_cast<uint16_t>(samples[i]));
  return p;
}

Packet make_dt32(const DataHeader& d, std::span<const int32_t> samples) {
  const std::size_t n = std::min(samples.size(), kMax32);
  Packet p = make_dt_prefix(d, kFmt32, n);
  for (std::size_t i = 0; i < n; ++i) put_i32be(p, 24 + 4 * i, samples[i]);
  return p;
}

namespace {
C0Packet pack_frames(const DataHeader& d, std::span<const int32_t> samples, const C0Options& opt, uint8_t format,
                     std::size_t most, Word (*pack_word)(std::span<const int32_t>)) {
  const std::size_t avail = std::min({samples.size(), opt.max_samples, most});
  std::vector<int32_t> diffs(avail);
  for (std::size_t i = 0; i < avail; ++i) diffs[i] = wrap_sub(samples[i], i == 0 ? opt.prev : samples[i - 1]);
  if (avail > 0 && opt.first_diff) diffs[0] = *opt.first_diff;

  Packet p{};
  std::size_t pos = 0;
  for (std::size_t f = 0; f < kFrames; ++f) {
    uint32_t control = 0;
    for (std::size_t w = (f == 0 ? 3 : 1); w < kWords && pos < avail; ++w) {
      const Word word = pack_word(std::span<const int32_t>(diffs).subspan(pos));
      control |= uint32_t{word.code} << (30 - 2 * w);
      put_frame_word(p, f, w, word.bits);
      pos += word.used;
    }
    put_frame_word(p, f, 0, control);
  }
  C0Packet out{make_dt_prefix(d, format, pos), pos};
  std::copy(p.begin() + kFrameOff, p.end(), out.pkt.begin() + kFrameOff);
  const int32_t x0 = pos > 0 ? samples[0] : opt.prev;
  const int32_t xn = opt.xn.value_or(pos > 0 ? samples[pos - 1] : opt.prev);
  put_frame_word(out.pkt, 0, 1, static_cast<uint32_t>(x0));
  put_frame_word(out.pkt, 0, 2, static_cast<uint32_t>(xn));
  return out;
}
}  // namespace

C0Packet make_dt_c0(const DataHeader& d, std::span<const int32_t> samples, const C0Options& opt) {
  return pack_frames(d, samples, opt, kFmtC0, kMaxC0, pack_word_c0);
}

C0Packet make_dt_c2(const DataHeader& d, std::span<const int32_t> samples, const C0Options& opt) {
  return pack_frames(d, samples, opt, kFmtC2, kMaxC2, pack_word_c2);
}

// ---- state packets ----
Packet make_sc(const StationConfig& s) {
  Packet p = make_packet(s.head, ' ');
  put_text(p, 16, s.ex_num, 2);
  put_text(p, 18, s.ex_name, 24);
  put_text(p, 42, s.ex_cmmnt, 40);
  put_text(p, 82, s.st_num, 4);
  put_text(p, 86, s.st_name, 24);
  put_text(p, 110, s.st_cmmnt, 40);
  put_text(p, 150, s.das_modl, 12);
  put_text(p, 162, s.das_ser, 12);
  put_text(p, 174, s.exp_sta, 14);
  put_text(p, 188, s.timc_typ, 4);
  put_text(p, 192, s.timc_ser, 10);
  for (std::size_t k = 0; k < s.channels.size() && k < 5; ++k) {
    const ScChannel& c = s.channels[k];
    const std::size_t b = 202 + 146 * k;
    put_text(p, b + 0, c.number, 2);
    put_text(p, b + 2, c.name, 10);
    put_text(p, b + 12, c.azimuth, 10);
    put_text(p, b + 22, c.incline, 10);
    put_text(p, b + 32, c.loc_x, 10);
    put_text(p, b + 42, c.loc_y, 10);
    put_text(p, b + 52, c.loc_z, 10);
    put_text(p, b + 62, c.units_xy, 4);
    put_text(p, b + 66, c.units_z, 4);
    put_text(p, b + 70, c.preamp, 4);
    put_text(p, b + 74, c.sens_mod, 12);
    put_text(p, b + 86, c.sens_ser, 12);
    put_text(p, b + 98, c.cmmnt, 40);
    put_text(p, b + 138, c.volts, 8);
  }
  return p;
}

Packet make_ds(const DataStreams& d) {
  Packet p = make_packet(d.head, ' ');
  for (std::size_t k = 0; k < d.streams.size() && k < 4; ++k) {
    const DsStream& s = d.streams[k];
    const std::size_t b = 16 + 230 * k;
    put_text(p, b + 0, s.number, 2);
    put_text(p, b + 2, s.name, 24);
    put_text(p, b + 26, s.ch_nums, 16);
    put_text(p, b + 42, s.rate, 4);
    put_text(p, b + 46, s.dat_formt, 2);
    put_text(p, b + 64, s.trg_type, 4);
    std::size_t off = b + 68;
    const std::vector<std::size_t> widths = trigger_widths(s.trg_type);
    for (std::size_t i = 0; i < widths.size() && i < s.trg_fields.size(); ++i) {
      put_text(p, off, s.trg_fields[i], widths[i]);
      off += widths[i];
    }
  }
  return p;
}

Packet make_cd(const Calibration& c) {
  Packet p = make_packet(c.head, ' ');
  put_text(p, 16, c.start, 14);
  put_text(p, 30, c.rep_int, 8);
  put_text(p, 38, c.num_int, 4);
  put_text(p, 42, c.length, 8);
  put_text(p, 50, c.step, 4);
  put_text(p, 54, c.step_period, 8);
  put_text(p, 62, c.step_size, 8);
  put_text(p, 70, c.step_ampl, 8);
  put_text(p, 78, c.step_output, 4);
  return p;
}

Packet make_ad(const AuxData& a) {
  Packet p = make_packet(a.head, ' ');
  put_text(p, 18, a.channels, 16);
  put_text(p, 34, a.smp_per, 8);
  put_text(p, 42, a.fmt, 2);
  put_text(p, 44, a.rec_len, 8);
  return p;
}

Packet make_om(const OperatingMode& o) {
  Packet p = make_packet(o.head, ' ');
  put_text(p, 16, o.pwr_stt, 2);
  put_text(p, 18, o.rec_mod, 2);
  put_text(p, 20, o.disk_id1, 1);
  put_text(p, 21, o.disk_id2, 1);
  put_text(p, 22, o.tape_id, 1);
  put_text(p, 23, o.dump_dev, 1);
  put_text(p, 24, o.dump_et, 1);
  put_text(p, 25, o.dump_ser, 1);
  put_text(p, 26, o.dump_threshold, 2);
  put_text(p, 28, o.pwrdn_delay, 4);
  put_text(p, 32, o.disk_wrap, 1);
  put_text(p, 33, o.scsi_dir, 1);
  put_text(p, 34, o.scsi_pwr, 1);
  put_text(p, 35, o.term_pwr, 1);
  put_text(p, 36, o.dump_retry, 1);
  for (std::size_t k = 0; k < o.wake.size() && k < 8; ++k) {
    const WakeEntry& w = o.wake[k];
    const std::size_t b = 48 + 64 * k;
    put_text(p, b + 0, w.seq_num, 2);
    put_text(p, b + 2, w.start_time, 12);
    put_text(p, b + 14, w.pwr_dur, 6);
    put_text(p, b + 20, w.rep_int, 6);
    put_text(p, b + 26, w.num_int, 2);
  }
  return p;
}

uint32_t packed_time(unsigned year, uint32_t seconds_of_year) {
  return (static_cast<uint32_t>(year - 1984) << 25) | (seconds_of_year & 0x1FFFFFFu);
}

Packet make_dr(const Directory& d) {
  Packet p = make_packet(d.head, 0);
  put_u32be(p, 16, d.prev_dk_ptr);
  put_u32be(p, 20, d.next_dk_ptr);
  put_byte(p, 25, d.sector);
  put_u16be(p, 26, d.num_dir_ent.value_or(static_cast<uint16_t>(d.entries.size())));
  put_u32be(p, 28, d.lst_ent_num);
  std::size_t b = 32;
  for (const DirEntry& e : d.entries) {
    if (b + 80 > 1024) break;
    put_u32be(p, b + 0, e.ent_num);
    put_byte(p, b + 4, e.ent_stat);
    put_byte(p, b + 5, e.ent_format);
    put_u16be(p, b + 6, e.ent_length);
    put_u16be(p, b + 8, e.unit_id);
    put_u16be(p, b + 10, e.event_num);
    put_byte(p, b + 12, e.evt_eh);
    put_byte(p, b + 13, e.evt_et);
    put_u16be(p, b + 14, e.strm);
    put_text(p, b + 16, e.dat_strm_name, 8);
    put_text(p, b + 24, e.trig_type, 4);
    const uint32_t times[5] = {e.trigg_time, e.first_samp_time, e.de_trigg_time, e.last_samp_time, e.entry_time};
    const uint16_t msecs[5] = {e.trigg_ms, e.first_samp_ms, e.de_trigg_ms, e.last_samp_ms, e.entry_ms};
    for (std::size_t i = 0; i < 5; ++i) {
      put_u32be(p, b + 28 + 4 * i, times[i]);
      put_u16be(p, b + 48 + 2 * i, msecs[i]);
    }
    put_u16be(p, b + 58, e.data_fmt);
    put_u32be(p, b + 60, e.evt_pntr);
    put_u32be(p, b + 64, e.data_length);
    put_u32be(p, b + 68, e.blk_err);
    if (e.ent_length == 0) break;  // a zero length would stack every entry on this one
    b += e.ent_length;
  }
  return p;
}

Packet make_sh(Header head, std::string_view text) {
  const std::size_t n = std::min<std::size_t>(text.size(), 1000);
  if (head.bpp == 1024) head.bpp = static_cast<unsigned>(24 + n);
  Packet p = make_packet(head, ' ');
  for (std::size_t i = 16; i < 24; ++i) p[i] = 0;
  put_text(p, 24, text.substr(0, n), n);
  return p;
}

// ---- recordings ----
std::string Recording::sample_time(std::size_t i) const {
  return advance_time(start, static_cast<long long>(static_cast<double>(i) * 1000.0 / rate + 1e-6));
}

std::vector<Packet> Recording::packets() const {
  struct Chunk {
    std::size_t first;   // index of the first sample
    std::size_t order;   // channel position, for ties
    Packet pkt;
  };
  std::vector<Chunk> chunks;
  std::size_t longest = 0;
  for (std::size_t c = 0; c < channels.size(); ++c) {
    const ChannelData& ch = channels[c];
    longest = std::max(longest, ch.samples.size());
    DataHeader dh{.head = {.type = "DT", .exper = exper, .unit = unit}, .event = event, .stream = stream,
                  .channel = ch.channel, .dat_fmt = ch.format};
    const std::span<const int32_t> all(ch.samples);
    std::size_t pos = 0;
    while (pos < all.size()) {
      Chunk chunk{pos, c, {}};
      const pk::SampleFormat kind = pk::dt_sample_format(ch.format);
      if (kind == pk::SampleFormat::compressed || kind == pk::SampleFormat::compressed2) {
        const C0Options opt{.prev = pos > 0 ? all[pos - 1] : 0, .max_samples = ch.per_packet ? ch.per_packet : kMaxC2};
        C0Packet cp = kind == pk::SampleFormat::compressed ? make_dt_c0(dh, all.subspan(pos), opt)
                                                            : make_dt_c2(dh, all.subspan(pos), opt);
        chunk.pkt = cp.pkt;
        pos += cp.consumed;
      } else {
        const bool is16 = kind == pk::SampleFormat::int16;
        const std::size_t cap = is16 ? kMax16 : kMax32;
        const std::size_t n = std::min({all.size() - pos, ch.per_packet ? ch.per_packet : cap, cap});
        chunk.pkt = is16 ? make_dt16(dh, all.subspan(pos, n)) : make_dt32(dh, all.subspan(pos, n));
        pos += n;
      }
      chunks.push_back(chunk);
    }
  }
  std::stable_sort(chunks.begin(), chunks.end(), [](const Chunk& a, const Chunk& b) {
    return a.first != b.first ? a.first < b.first : a.order < b.order;
  });

  std::vector<Packet> out;
  unsigned seq = first_seq % 10000;
  auto next_seq = [&seq] {
    const unsigned s = seq;
    seq = (seq + 1) % 10000;
    return s;
  };
  const std::string last = sample_time(longest > 0 ? longest - 1 : 0);
  auto event_packet = [&](const char* type) {
    EventHeader e{.head = {.type = type, .exper = exper, .unit = unit, .time = start, .bpp = 416, .seq = next_seq()},
                  .event = event, .stream = stream,
                  .dat_fmt = channels.empty() ? uint8_t{kFmtC0} : channels.front().format,
                  .trig_msg = "Trigger Time = " + start,
                  .rate = rate_text.empty() ? format_rate(rate) : rate_text,
                  .trig_time = start, .first_time = start, .detrig_time = last, .last_time = last,
                  .bit_weights = bit_weights};
    return make_eh_et(e);
  };
  if (eh) out.push_back(event_packet("EH"));
  for (Chunk& c : chunks) {
    put_header(c.pkt, Header{.type = "DT", .exper = exper, .unit = unit, .time = sample_time(c.first), .seq = next_seq()});
    out.push_back(c.pkt);
  }
  if (et) out.push_back(event_packet("ET"));
  return out;
}

std::vector<Packet> interleave(const std::vector<std::vector<Packet>>& lists) {
  std::vector<Packet> out;
  for (std::size_t i = 0;; ++i) {
    bool any = false;
    for (const auto& l : lists)
      if (i < l.size()) {
        out.push_back(l[i]);
        any = true;
      }
    if (!any) return out;
  }
}

void write_packets(const std::string& path, const std::vector<Packet>& packets) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  for (const Packet& p : packets) f.write(reinterpret_cast<const char*>(p.data()), static_cast<std::streamsize>(p.size()));
  f.close();
  if (!f) throw std::runtime_error("cannot write " + path);
}

}  // namespace pktest
