// Read-only views of packet bodies over the 1024-byte packet buffer, and the text fields
// the log dumps print. Every field names its offset, width and encoding; nothing is copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/pkfile.h"

namespace pk {

// A text field the log dumps print under its label: offset from the first byte of its
// record (a packet, or an entry within one) and width. A field of `marks` holds one
// character per channel 1 to 16, a space for a channel left out.
struct TextField {
  uint16_t off;
  uint16_t width;
  const char* label;
  bool marks = false;
};
using TextFields = std::span<const TextField>;

inline std::string_view text_of(const uint8_t* record, const TextField& f) { return text_at(record, f.off, f.width); }

// Bytes 16..23 shared by EH, ET, NH, NT and DT packets.
struct event_prefix {
  const uint8_t* p;
  unsigned evt_num() const { return bcd_at(p, 16, 2); }
  unsigned strm_num() const { return bcd_at(p, 18, 1); }
  uint8_t dat_fmt() const { return p[23]; }
};

// DT packet: the prefix plus channel and sample count.
struct dt_pkt : event_prefix {
  unsigned chan_num() const { return bcd_at(p, 19, 1); }
  unsigned nsamp() const { return bcd_at(p, 20, 2); }
  const uint8_t* nsamp_bcd() const { return p + 20; }
};

// The layout EH, ET, NH and NT packets share up to byte 159, and the MES block test.
struct event_header_body : event_prefix {
  std::string_view strm_name() const { return text_at(p, 64, 24); }
  std::string_view smp_rate() const { return text_at(p, 88, 4); }
  // With a MES block the rate runs over the trigger type field.
  std::string_view mes_smp_rate() const { return text_at(p, 88, 8); }
  std::string_view trg_typ() const { return text_at(p, 92, 4); }
  std::string_view fst_smp_tim() const { return text_at(p, 112, 16); }
  std::string_view lst_smp_tim() const { return text_at(p, 144, 16); }
  // mes_comm_lk and mes_comm_pos together.
  std::string_view mes_comm() const { return text_at(p, 1016, 6); }
  bool has_mes_block() const { return !is_blank(mes_comm()); }
};

// trig_tim, fst_smp_tim, det_tim and lst_smp_tim.
inline constexpr TextField kEventTimes[] = {
    {96, 16, "Trigger time"}, {112, 16, "First sample time"}, {128, 16, "Detrigger time"},
    {144, 16, "Last sample time"}};

// EH and ET packets.
struct ehet_pkt : event_header_body {
  std::string_view trig_msg() const { return text_at(p, 24, 33); }
  std::string_view dat_bit_wgt() const { return text_at(p, 160, 128); }
  // Per-channel tables, channel index 0..15.
  std::string_view bit_wgt(unsigned ch) const { return text_at(p, 160 + 8 * ch, 8); }
  std::string_view gain(unsigned ch) const { return text_at(p, 288 + 4 * ch, 4); }
  std::string_view fsv(unsigned ch) const { return text_at(p, 352 + 8 * ch, 8); }
  bool is_short() const { return header_bpp(p) <= 57; }
};

// The MES-DAU block of EH and ET packets (mes_version, mes_txfreq, mes_txid, mes_txsite,
// mes_sensor, mes_rcvsite, mes_offset, mes_comm_lk, mes_comm_pos, mes_smpcnt, mes_ovrcnt).
inline constexpr TextField kMesDau[] = {
    {960, 8, "MES-DAU Version"}, {968, 8, "MES-DAU Transmitter Frequency"}, {976, 8, "MES-DAU Transmitter Id"},
    {984, 8, "MES-DAU Transmitter Site"}, {992, 8, "MES-DAU Sensor"}, {1000, 8, "MES-DAU Receiver Site"},
    {1012, 4, "MES-DAU Propagation Delay"}, {1016, 2, "MES-DAU Data Channel"},
    {1018, 4, "MES-DAU Data Channel Position"}, {944, 10, "MES-DAU Sample Count"},
    {954, 6, "MES-DAU Overscale Count"}};

// NH and NT packets: the EH/ET layout up to byte 159, then a MES-CRU block. There is no
// short form.
using nhnt_pkt = event_header_body;

// The MES-CRU block of NH and NT packets (mes_version, mes_txfreq, mes_txid, mes_txsite,
// mes_txoldfrq, mes_crusite, mes_offset, mes_comm_lk, mes_comm_pos).
inline constexpr TextField kMesCru[] = {
    {960, 8, "MES-CRU Version"}, {968, 8, "MES-CRU Transmitter Frequency"}, {976, 8, "MES-CRU Transmitter Id"},
    {984, 8, "MES-CRU Transmitter Site"}, {992, 8, "MES-CRU (Transmitter Freq)"}, {1000, 8, "MES-CRU Site"},
    {1012, 4, "MES-CRU Propagation Delay"}, {1016, 2, "MES-CRU Data Channel"},
    {1018, 4, "MES-CRU Data Channel Position"}};

// ---- SC: station and channel configuration ----

// A used entry does not start with a space.
inline bool entry_used(const uint8_t* entry) { return entry[0] != ' '; }

// statn_def: ex_num, ex_name, ex_cmmnt, st_num, st_name, st_cmmnt, das_modl, das_ser,
// exp_sta, timc_typ, timc_sn.
inline constexpr TextField kStation[] = {
    {16, 2, "Experiment Number"}, {18, 24, "Experiment Name"}, {42, 40, "Experiment Comment"},
    {82, 4, "Station Number"}, {86, 24, "Station Name"}, {110, 40, "Station Comment"}, {150, 12, "DAS Model"},
    {162, 12, "DAS Serial Number"}, {174, 14, "Experiment Start"}, {188, 4, "Time Clock Type"},
    {192, 10, "Time Clock S/N"}};

// chan_def, offsets within the entry: number, name, azimuth, incline, loc_x, loc_y, loc_z,
// units_xy, units_z, preamp, sens_mod, sens_ser, cmmnt, volts.
inline constexpr TextField kChannelEntry[] = {
    {0, 2, "Channel Number"}, {2, 10, "Channel Name"}, {12, 10, "Azimuth"}, {22, 10, "Inclination"},
    {32, 10, "X Coordinate"}, {42, 10, "Y Coordinate"}, {52, 10, "Z Coordinate"}, {62, 4, "Unit type for X, Y"},
    {66, 4, "Unit type for Z"}, {70, 4, "Preamp Gain"}, {74, 12, "Sensor Model"}, {86, 12, "Sensor Serial Number"},
    {98, 40, "Comments"}, {138, 8, "Bit-count Voltage"}};

struct sc_pkt {
  static constexpr unsigned kChannels = 5;
  const uint8_t* p;
  // The first byte of channel entry k (0..4).
  const uint8_t* chan(unsigned k) const { return p + 202 + 146 * k; }
};

// ---- DS: data streams and their trigger records ----

enum class trigger_kind { none, evt, tim, lev, con, rx, crs, tml };

// The record a four-character trigger type selects: one optional leading
// space, then three letters all upper or all lower case.
trigger_kind select_trigger(std::string_view trg_type);

// The parameters of each trigger record, offsets within trg_info (162 bytes).
// event_def: trg_chan, min_chan, trg_wndw, pre_trg_len, pst_trg_len, rec_len, lb_sta,
// lb_lta, lb_stav, lb_trg_rat, lb_dtrg_rat, lta_hold (lb_filter at 50 is not read).
inline constexpr TextField kEventTrigger[] = {
    {0, 16, "Trigger Channels", true}, {16, 2, "Minimum Channels"}, {18, 8, "Trigger Window"},
    {26, 8, "Pretrigger Length"}, {34, 8, "Posttrigger Length"}, {42, 8, "Record Length"}, {58, 8, "STA Length"},
    {66, 8, "LTA Length"}, {74, 8, "Mean Removal"}, {82, 8, "Trigger Ratio"}, {90, 8, "Detrigger Ratio"},
    {98, 4, "LTA hold"}};
// timseq_def: start_time, rep_int, num_int, rec_len (pre_trg_len at 26 is not read).
inline constexpr TextField kTimeTrigger[] = {
    {0, 14, "Start Time"}, {14, 8, "Repeat Interval"}, {22, 4, "Number of Intervals"}, {34, 8, "Record Length"}};
// level_def: level, pre_trg_len, rec_len.
inline constexpr TextField kLevelTrigger[] = {
    {0, 8, "Trigger Level"}, {8, 8, "Pretrigger Length"}, {16, 8, "Record Length"}};
// con_def: rec_len.
inline constexpr TextField kContinuousTrigger[] = {{0, 8, "Record Length"}};
// rx_def (EXT and RAD): pre_trg_len, rec_len.
inline constexpr TextField kExternalTrigger[] = {{0, 8, "Pretrigger Length"}, {8, 8, "Record Length"}};
// crs_def: trg_stm, pre_trg_len, rec_len.
inline constexpr TextField kCrossTrigger[] = {
    {0, 2, "Trigger Stream Number"}, {2, 8, "Pretrigger Length"}, {10, 8, "Record Length"}};
// tml_def: eleven start times of 14 characters from offset 0, then rec_len.
struct tml_def {
  static constexpr unsigned kStartTimes = 11;
  static constexpr TextField kRecordLength{154, 8, "Record Length"};
  const uint8_t* p;
  // k = 0..10
  std::string_view start_time(unsigned k) const { return text_at(p, 14 * k, 14); }
};

// One of the four stream entries; p points at the entry's first byte.
struct dstrm_def {
  const uint8_t* p;
  std::string_view trg_type() const { return text_at(p, 64, 4); }
  const uint8_t* trg_info() const { return p + 68; }
  trigger_kind trigger() const { return select_trigger(trg_type()); }
  bool used() const { return entry_used(p); }
};

// number, name, ch_nums, rate, dat_formt, trg_type of a stream entry.
inline constexpr TextField kStream[] = {
    {0, 2, "Data Stream No"}, {2, 24, "Data Stream Name"}, {26, 16, "Channels Included", true},
    {42, 4, "Sample Rate"}, {46, 2, "Data Format"}, {64, 4, "Trigger Type"}};

struct ds_pkt {
  static constexpr unsigned kStreams = 4;
  const uint8_t* p;
  dstrm_def stream(unsigned k) const { return dstrm_def{p + 16 + 230 * k}; }
};

// ---- CD, AD, OM ----

// cal_def: start, rep_int, num_int, length, step; then, when the step is on, step_period,
// step_size, step_ampl, step_output.
inline constexpr TextField kCalibration[] = {
    {16, 14, "Start Time"}, {30, 8, "Repeat Interval"}, {38, 4, "No of Intervals"}, {42, 8, "Length of Intervals"},
    {50, 4, "Step"}};
inline constexpr TextField kCalibrationStep[] = {
    {54, 8, "Step Period"}, {62, 8, "Step Size"}, {70, 8, "Step Amplitude"}, {78, 4, "Step Output"}};

struct cd_pkt {
  const uint8_t* p;
  std::string_view step() const { return text_at(p, 50, 4); }
  // The step fields count only when the step text begins with ON or on.
  bool step_on() const {
    const auto s = step().substr(0, 2);
    return s == "ON" || s == "on";
  }
};

// aux_pkt_def: aux_chn, aux_smp_per, aux_fmt, aux_rec_len.
inline constexpr TextField kAuxiliary[] = {
    {18, 16, "Channels Included", true}, {34, 8, "Sample Interval"}, {42, 2, "Data Format"},
    {44, 8, "Record Length"}};

// One of the eight wake-up entries; p points at the entry's first byte.
struct wake_def {
  const uint8_t* p;
  std::string_view seq_num() const { return text_at(p, 0, 2); }
  std::string_view start_time() const { return text_at(p, 2, 12); }
  std::string_view pwr_dur() const { return text_at(p, 14, 6); }
  std::string_view rep_int() const { return text_at(p, 20, 6); }
  std::string_view num_int() const { return text_at(p, 26, 2); }
  bool used() const { return entry_used(p); }
};

struct om_pkt {
  static constexpr unsigned kWakes = 8;
  const uint8_t* p;
  std::string_view pwr_stt() const { return text_at(p, 16, 2); }
  std::string_view rec_mod() const { return text_at(p, 18, 2); }
  // disk_id1, disk_id2, tape_id and dump_dev: one character each.
  char id_char(unsigned k) const { return static_cast<char>(p[20 + k]); }
  bool dump_et() const { return p[24] == 'Y'; }
  bool dump_ser() const { return p[25] == 'Y'; }
  std::string_view dump_threshold() const { return text_at(p, 26, 2); }
  std::string_view pwrdn_delay() const { return text_at(p, 28, 4); }
  bool disk_wrap() const { return p[32] == 'Y'; }
  bool scsi_dir() const { return p[33] == 'Y'; }
  bool scsi_pwr_always_on() const { return p[34] == 'O'; }
  bool term_pwr_always_on() const { return p[35] == 'O'; }
  wake_def wake(unsigned k) const { return wake_def{p + 48 + 64 * k}; }
};

// ---- DR: disk directory ----

// A packed disk time as "YYYYDDDHHMMSS"; four zero bytes mean no time.
std::optional<std::string> packed_time(const uint8_t* t);

// One directory entry; p points at the entry's first byte. Its five times (trigger,
// first sample, detrigger, last sample, entry) are packed times from offset 28 with
// their milliseconds from offset 48.
struct dr_ent_def {
  static constexpr std::size_t kSize = 80;
  static constexpr unsigned kTimes = 5;
  const uint8_t* p;
  uint32_t ent_num() const { return u32be_at(p, 0); }
  uint8_t ent_stat() const { return p[4]; }
  uint8_t ent_format() const { return p[5]; }
  uint32_t ent_length() const { return u16be_at(p, 6); }
  uint32_t unit_id() const { return u16be_at(p, 8); }
  uint32_t event_num() const { return u16be_at(p, 10); }
  uint8_t evt_eh() const { return p[12]; }
  uint8_t evt_et() const { return p[13]; }
  uint32_t strm() const { return u16be_at(p, 14); }
  std::string_view dat_strm_name() const { return text_at(p, 16, 8); }
  std::string_view trig_type() const { return text_at(p, 24, 4); }
  const uint8_t* packed_time_at(unsigned k) const { return p + 28 + 4 * k; }
  uint32_t msecs_at(unsigned k) const { return u16be_at(p, 48 + 2 * k); }
  uint32_t data_fmt() const { return u16be_at(p, 58); }
  uint32_t evt_pntr() const { return u32be_at(p, 60); }
  uint32_t data_length() const { return u32be_at(p, 64); }
  uint32_t blk_err() const { return u32be_at(p, 68); }
};

struct dr_pkt {
  static constexpr std::size_t kFirstEntry = 32;
  const uint8_t* p;
  uint32_t prev_dk_ptr() const { return u32be_at(p, 16); }
  uint32_t next_dk_ptr() const { return u32be_at(p, 20); }
  uint8_t sector() const { return p[25]; }
  uint32_t num_dir_ent() const { return u16be_at(p, 26); }
  uint32_t lst_ent_num() const { return u32be_at(p, 28); }
  // Locations count 512-byte sectors when the flag is set.
  unsigned shift() const { return sector() != 0 ? 1 : 0; }
  uint64_t prev_dir_block() const { return prev_dk_ptr() >> shift(); }
  uint64_t next_dir_block() const { return next_dk_ptr() >> shift(); }
  // Entry pointers count from the previous directory, already in blocks.
  uint64_t data_block(const dr_ent_def& e) const { return uint64_t{e.evt_pntr()} + prev_dir_block(); }
  // The entries in storage order, num_dir_ent of them, ending early at the
  // first one that would not lie wholly inside the packet.
  std::vector<dr_ent_def> entries() const;
};

// ---- disk format record: a 1024-byte block without packet header ----
// Every field a u32 BE; positions are stored in 512-byte sectors and shown in 1024-byte
// blocks, counts as stored.
struct t_fmt_disk {
  const uint8_t* p;
  uint32_t at(std::size_t off) const { return u32be_at(p, off); }
  // write, read, copy, leod, dir_first, dir_last, weod, peod
  uint32_t block_at(std::size_t off) const { return at(off) >> 1; }
  static constexpr std::size_t write = 0, wrap_cnt = 20, read = 24, copy = 28, leod = 32, dir_first = 36,
                               dir_last = 40, ovwr = 44, dir_cnt = 48, dir_ent = 52, weod = 56, peod = 60;
};

}  // namespace pk
