// Test-support encoder: builds PASSCAL packets byte by byte so tests can feed the
// converters exactly the input they mean, including malformed input.
//
// Quick tour
//   Packet p = make_packet(Header{.type = "SH", .unit = 0x1234}, ' ');
//   put_bcd(p, 20, 9999, 2);                // any BCD field
//   put_bcd_digits(p, 20, "FF99");          // nibbles above 9 (A..F or ':'..'?')
//   Packet d = make_dt16(dt, samples);      // 16-bit DT, 32-bit: make_dt32
//   C0Packet c = make_dt_c0(dt, samples, {.prev = last});   // compressed frames
//   C0Packet c2 = make_dt_c2(dt, samples, {.prev = last});  // the second compressed format
//   Recording rec{...}; write_packets(path, rec.packets());  // a whole event
//
// Every multi-byte binary field is written most significant byte first; text fields are
// space padded and silently cut to their width. Times are the 16-character
// "YYYYDDDHHMMSSmmm" strings the converters use; Header keeps the same time and splits it
// into the 2-digit BCD year and the 12 BCD digits DDDHHMMSSmmm of the packet header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pktest {

using Packet = std::array<uint8_t, 1024>;

// ---- low-level field writers ----
// value as 2*nbytes decimal digits, high nibble first (value is taken modulo 10^(2*nbytes)).
void put_bcd(Packet& p, std::size_t off, unsigned value, std::size_t nbytes);
// Raw nibbles from characters '0'-'9', 'A'-'F' (or 'a'-'f', or ':'..'?' as the log shows
// them), two per byte; for fields with deliberately bad digits. Odd lengths are rejected.
void put_bcd_digits(Packet& p, std::size_t off, std::string_view digits);
void put_text(Packet& p, std::size_t off, std::string_view text, std::size_t width);
// The text at its own width: no padding, nothing cut.
inline void put_text(Packet& p, std::size_t off, std::string_view text) { put_text(p, off, text, text.size()); }
void put_bytes(Packet& p, std::size_t off, std::initializer_list<uint8_t> bytes);
void put_u16be(Packet& p, std::size_t off, uint16_t v);
void put_u32be(Packet& p, std::size_t off, uint32_t v);
inline void put_i16be(Packet& p, std::size_t off, int16_t v) { put_u16be(p, off, static_cast<uint16_t>(v)); }
inline void put_i32be(Packet& p, std::size_t off, int32_t v) { put_u32be(p, off, static_cast<uint32_t>(v)); }

// ---- times ----
// Advances (or with negative ms moves back) a "YYYYDDDHHMMSSmmm" time, carrying across
// days and years with the Gregorian leap rule.
std::string advance_time(std::string_view time16, long long ms);
// Milliseconds from a to b (both "YYYYDDDHHMMSSmmm").
long long time_diff_ms(std::string_view a, std::string_view b);
// The header's 12 digits DDDHHMMSSmmm of a 16-character time, and its 2-digit year.
std::string header_digits(std::string_view time16);
unsigned header_year(std::string_view time16);
// Advances the 12-digit header time; year4 decides the length of the year, and a time
// that runs past the year's end starts again at day 001 (the header has no year there).
std::string advance_header_time(std::string_view time12, int year4, long long ms);

// ---- packet header ----
struct Header {
  std::string type = "DT";                 // 2 letters, any bytes allowed
  unsigned exper = 0;                      // 2 BCD digits
  uint16_t unit = 0x1234;                  // raw u16 BE
  std::string time = "2003001000000000";   // YYYYDDDHHMMSSmmm; century from the year digits
  unsigned bpp = 1024;                     // 4 BCD digits
  unsigned seq = 0;                        // 4 BCD digits
  void advance(long long ms) { time = advance_time(time, ms); }
};

// 16-byte header followed by body_fill in every body byte (text packets use ' ', DT 0).
Packet make_packet(const Header& h, uint8_t body_fill);
void put_header(Packet& p, const Header& h);

// ---- EH / ET ----
struct EventHeader {
  Header head{.type = "EH", .bpp = 416};
  unsigned event = 1;
  unsigned stream = 0;
  uint8_t dat_fmt = 0xC0;
  std::string trig_msg = "Trigger Time";
  std::string stream_name;
  std::string rate = "100";  // 4 characters at byte 88
  std::string trig_type = "CON";
  std::string trig_time, first_time, detrig_time, last_time;  // 16-character times
  // Per channel (index 0 = channel 1, at most 16 used): texts of 8, 4 and 8 characters.
  std::vector<std::string> bit_weights, gains, fsvs;
  // A non-empty mes_rate writes the MES block: the 8-character rate at byte 88 (over the
  // trigger type) and the MES fields; mes_comm_lk/pos decide whether it counts as present.
  std::string mes_rate;
  std::string mes_comm_lk = "01", mes_comm_pos = "0001";
  std::string mes_smpcnt = "0", mes_ovrcnt = "0", mes_version = "1.0", mes_txfreq, mes_txid,
              mes_txsite, mes_sensor, mes_rcvsite, mes_offset;
};
// bpp <= 57 (e.g. head.bpp = 57) leaves everything past the trigger message blank.
Packet make_eh_et(const EventHeader& e);

// ---- NH / NT ----
struct NetHeader {
  Header head{.type = "NH"};
  unsigned event = 1, stream = 0;
  std::string trig_msg, stream_name, rate = "100", trig_type = "CON";
  std::string trig_time, first_time, detrig_time, last_time;
  std::string mes_rate;  // as for EH: non-empty writes the MES fields below
  std::string mes_comm_lk = "01", mes_comm_pos = "0001";
  std::string mes_version = "1.0", mes_txfreq, mes_txid, mes_txsite, mes_txoldfrq, mes_crusite, mes_offset;
};
Packet make_nh_nt(const NetHeader& n);

// ---- DT ----
enum : uint8_t { kFmt16 = 0x16, kFmt32 = 0x32, kFmtC0 = 0xC0, kFmtC2 = 0xC2 };
constexpr std::size_t kMax16 = 500, kMax32 = 250, kMaxC0 = 892, kMaxC2 = 1561;

struct DataHeader {
  Header head{.type = "DT"};
  unsigned event = 1, stream = 0, channel = 0;  // channel 0 is the first channel
  uint8_t flags = 0;
  std::optional<uint8_t> dat_fmt;               // instead of the builder's own format byte
  std::optional<unsigned> count;                // BCD sample count instead of the real one
};
// Writes min(samples, 500 or 250) samples; the count field says how many unless overridden.
Packet make_dt16(const DataHeader& d, std::span<const int32_t> samples);
Packet make_dt32(const DataHeader& d, std::span<const int32_t> samples);

struct C0Options {
  int32_t prev = 0;                        // the channel's previous sample: d0 = samples[0] - prev
  std::optional<int32_t> first_diff;       // store this d0 instead (a deliberate mismatch)
  std::optional<int32_t> xn;               // store this Xn instead of the last sample
  std::size_t max_samples = kMaxC2;        // stop after this many samples
};
struct C0Packet {
  Packet pkt;
  std::size_t consumed = 0;                // samples packed, from the front of the span
};
// Packs the differences into 15 frames, choosing per data word four 8-bit, two 16-bit or
// one 32-bit difference, as many samples as fit. An empty span gives a packet without data.
C0Packet make_dt_c0(const DataHeader& d, std::span<const int32_t> samples, const C0Options& opt = {});
// The second compressed format: per data word the densest of seven 4-bit, six 5-bit, five
// 6-bit, four 8-bit, three 10-bit, two 15-bit or one 30-bit difference. Throws
// std::invalid_argument for a difference beyond 30 bits, which that format cannot hold.
C0Packet make_dt_c2(const DataHeader& d, std::span<const int32_t> samples, const C0Options& opt = {});

// ---- state packets (all space-filled; fields as in the packet layouts) ----
struct ScChannel {
  std::string number, name, azimuth, incline, loc_x, loc_y, loc_z, units_xy, units_z, preamp,
      sens_mod, sens_ser, cmmnt, volts;
};
struct StationConfig {
  Header head{.type = "SC"};
  std::string ex_num, ex_name, ex_cmmnt, st_num, st_name, st_cmmnt, das_modl, das_ser, exp_sta,
      timc_typ, timc_ser;
  std::vector<ScChannel> channels;  // at most 5
};
Packet make_sc(const StationConfig& s);

struct DsStream {
  std::string number, name, ch_nums, rate, dat_formt, trg_type;
  // Trigger parameters in the field order of the trigger type's record (EVT, TIM, LEV, CON,
  // EXT, RAD, CRS, TML); widths come from that record. Unknown types write nothing.
  std::vector<std::string> trg_fields;
};
struct DataStreams {
  Header head{.type = "DS"};
  std::vector<DsStream> streams;  // at most 4
};
Packet make_ds(const DataStreams& d);

struct Calibration {
  Header head{.type = "CD"};
  std::string start, rep_int, num_int, length, step, step_period, step_size, step_ampl, step_output;
};
Packet make_cd(const Calibration& c);

struct AuxData {
  Header head{.type = "AD"};
  std::string channels, smp_per, fmt, rec_len;
};
Packet make_ad(const AuxData& a);

struct WakeEntry {
  std::string seq_num, start_time, pwr_dur, rep_int, num_int;
};
struct OperatingMode {
  Header head{.type = "OM"};
  std::string pwr_stt, rec_mod, disk_id1, disk_id2, tape_id, dump_dev, dump_et, dump_ser,
      dump_threshold, pwrdn_delay, disk_wrap, scsi_dir, scsi_pwr, term_pwr, dump_retry;
  std::vector<WakeEntry> wake;  // at most 8
};
Packet make_om(const OperatingMode& o);

// Packed disk time: 7 bits year - 1984, 25 bits seconds since the start of that year.
uint32_t packed_time(unsigned year, uint32_t seconds_of_year);

struct DirEntry {
  uint32_t ent_num = 0;
  uint8_t ent_stat = 0, ent_format = 0;
  uint16_t ent_length = 80;
  uint16_t unit_id = 0, event_num = 0;
  uint8_t evt_eh = 0, evt_et = 0;
  uint16_t strm = 0;
  std::string dat_strm_name, trig_type;
  uint32_t trigg_time = 0, first_samp_time = 0, de_trigg_time = 0, last_samp_time = 0, entry_time = 0;
  uint16_t trigg_ms = 0, first_samp_ms = 0, de_trigg_ms = 0, last_samp_ms = 0, entry_ms = 0;
  uint16_t data_fmt = 0;
  uint32_t evt_pntr = 0, data_length = 0, blk_err = 0;
};
struct Directory {
  Header head{.type = "DR"};
  uint32_t prev_dk_ptr = 0, next_dk_ptr = 0, lst_ent_num = 0;
  uint8_t sector = 0;
  std::optional<uint16_t> num_dir_ent;  // instead of entries.size()
  std::vector<DirEntry> entries;        // laid out back to back by their ent_length; cut at byte 1023
};
Packet make_dr(const Directory& d);

// Text from byte 24; bpp set to 24 + text length unless head.bpp is already set otherwise.
Packet make_sh(Header head, std::string_view text);

// ---- whole recordings ----
struct ChannelData {
  unsigned channel = 0;       // 0 = first channel
  uint8_t format = kFmtC0;    // any format byte; an unknown one gets 32-bit samples
  std::vector<int32_t> samples;
  std::size_t per_packet = 0; // most samples per DT packet; 0 = as many as fit
};

// One event of one unit: optional EH, the DT packets of every channel interleaved by the
// time of their first sample (channel order on ties), optional ET. Sequence numbers count
// up from first_seq across all packets and wrap from 9999 to 0.
struct Recording {
  uint16_t unit = 0x1234;
  unsigned exper = 0;
  unsigned event = 1;
  unsigned stream = 0;
  std::string start = "2003001000000000";  // time of the first sample
  double rate = 100.0;
  std::string rate_text;                   // EH rate field; empty = rate printed as "%g"
  std::vector<ChannelData> channels;
  bool eh = true, et = true;
  unsigned first_seq = 0;
  std::vector<std::string> bit_weights;    // EH/ET bit weight per channel

  std::vector<Packet> packets() const;
  // Time of sample i of any channel.
  std::string sample_time(std::size_t i) const;
};

// Round robin over several packet lists, e.g. two units recording at once.
std::vector<Packet> interleave(const std::vector<std::vector<Packet>>& lists);

// Throws std::runtime_error when the file cannot be written.
void write_packets(const std::string& path, const std::vector<Packet>& packets);

}  // namespace pktest
