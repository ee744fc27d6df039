// Read-only views of packet bodies over the 1024-byte packet buffer.
// Every accessor names its offset, width and encoding; nothing is copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pkfile.h"

namespace pk {

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

// EH and ET packets.
struct ehet_pkt : event_prefix {
  std::string_view trig_msg() const { return text_at(p, 24, 33); }
  std::string_view strm_name() const { return text_at(p, 64, 24); }
  std::string_view smp_rate() const { return text_at(p, 88, 4); }
  // With a MES block the rate runs over the trigger type field.
  std::string_view mes_smp_rate() const { return text_at(p, 88, 8); }
  std::string_view trg_typ() const { return text_at(p, 92, 4); }
  std::string_view trig_tim() const { return text_at(p, 96, 16); }
  std::string_view fst_smp_tim() const { return text_at(p, 112, 16); }
  std::string_view det_tim() const { return text_at(p, 128, 16); }
  std::string_view lst_smp_tim() const { return text_at(p, 144, 16); }
  std::string_view dat_bit_wgt() const { return text_at(p, 160, 128); }
  // Per-channel tables, channel index 0..15.
  std::string_view bit_wgt(unsigned ch) const { return text_at(p, 160 + 8 * ch, 8); }
  std::string_view gain(unsigned ch) const { return text_at(p, 288 + 4 * ch, 4); }
  std::string_view fsv(unsigned ch) const { return text_at(p, 352 + 8 * ch, 8); }
  // mes_comm_lk and mes_comm_pos together.
  std::string_view mes_comm() const { return text_at(p, 1016, 6); }
  bool is_short() const { return header_bpp(p) <= 57; }
  bool has_mes_block() const { return !is_blank(mes_comm()); }

  // MES-DAU block.
  std::string_view mes_smpcnt() const { return text_at(p, 944, 10); }
  std::string_view mes_ovrcnt() const { return text_at(p, 954, 6); }
  std::string_view mes_version() const { return text_at(p, 960, 8); }
  std::string_view mes_txfreq() const { return text_at(p, 968, 8); }
  std::string_view mes_txid() const { return text_at(p, 976, 8); }
  std::string_view mes_txsite() const { return text_at(p, 984, 8); }
  std::string_view mes_sensor() const { return text_at(p, 992, 8); }
  std::string_view mes_rcvsite() const { return text_at(p, 1000, 8); }
  std::string_view mes_offset() const { return text_at(p, 1012, 4); }
  std::string_view mes_comm_lk() const { return text_at(p, 1016, 2); }
  std::string_view mes_comm_pos() const { return text_at(p, 1018, 4); }
};

// NH and NT packets: the EH/ET layout up to byte 159, then a MES-CRU block.
// There is no short form.
struct nhnt_pkt : event_prefix {
  std::string_view strm_name() const { return text_at(p, 64, 24); }
  std::string_view smp_rate() const { return text_at(p, 88, 4); }
  std::string_view mes_smp_rate() const { return text_at(p, 88, 8); }
  std::string_view trg_typ() const { return text_at(p, 92, 4); }
  std::string_view trig_tim() const { return text_at(p, 96, 16); }
  std::string_view fst_smp_tim() const { return text_at(p, 112, 16); }
  std::string_view det_tim() const { return text_at(p, 128, 16); }
  std::string_view lst_smp_tim() const { return text_at(p, 144, 16); }
  std::string_view mes_version() const { return text_at(p, 960, 8); }
  std::string_view mes_txfreq() const { return text_at(p, 968, 8); }
  std::string_view mes_txid() const { return text_at(p, 976, 8); }
  std::string_view mes_txsite() const { return text_at(p, 984, 8); }
  std::string_view mes_txoldfrq() const { return text_at(p, 992, 8); }
  std::string_view mes_crusite() const { return text_at(p, 1000, 8); }
  std::string_view mes_offset() const { return text_at(p, 1012, 4); }
  std::string_view mes_comm_lk() const { return text_at(p, 1016, 2); }
  std::string_view mes_comm_pos() const { return text_at(p, 1018, 4); }
  bool has_mes_block() const { return !is_blank(text_at(p, 1016, 6)); }
};

// ---- SC: station and channel configuration ----

// One of the five channel entries; p points at the entry's first byte.
struct chan_def {
  const uint8_t* p;
  std::string_view number() const { return text_at(p, 0, 2); }
  std::string_view name() const { return text_at(p, 2, 10); }
  std::string_view azimuth() const { return text_at(p, 12, 10); }
  std::string_view incline() const { return text_at(p, 22, 10); }
  std::string_view loc_x() const { return text_at(p, 32, 10); }
  std::string_view loc_y() const { return text_at(p, 42, 10); }
  std::string_view loc_z() const { return text_at(p, 52, 10); }
  std::string_view units_xy() const { return text_at(p, 62, 4); }
  std::string_view units_z() const { return text_at(p, 66, 4); }
  std::string_view preamp() const { return text_at(p, 70, 4); }
  std::string_view sens_mod() const { return text_at(p, 74, 12); }
  std::string_view sens_ser() const { return text_at(p, 86, 12); }
  std::string_view cmmnt() const { return text_at(p, 98, 40); }
  std::string_view volts() const { return text_at(p, 138, 8); }
  bool used() const { return p[0] != ' '; }
};

struct sc_pkt {
  static constexpr unsigned kChannels = 5;
  const uint8_t* p;
  std::string_view ex_num() const { return text_at(p, 16, 2); }
  std::string_view ex_name() const { return text_at(p, 18, 24); }
  std::string_view ex_cmmnt() const { return text_at(p, 42, 40); }
  std::string_view st_num() const { return text_at(p, 82, 4); }
  std::string_view st_name() const { return text_at(p, 86, 24); }
  std::string_view st_cmmnt() const { return text_at(p, 110, 40); }
  std::string_view das_modl() const { return text_at(p, 150, 12); }
  std::string_view das_ser() const { return text_at(p, 162, 12); }
  std::string_view exp_sta() const { return text_at(p, 174, 14); }
  std::string_view timc_typ() const { return text_at(p, 188, 4); }
  std::string_view timc_sn() const { return text_at(p, 192, 10); }
  chan_def chan(unsigned k) const { return chan_def{p + 202 + 146 * k}; }
};

// ---- DS: data streams and their trigger records ----

enum class trigger_kind { none, evt, tim, lev, con, rx, crs, tml };

// The record a four-character trigger type selects: one optional leading
// space, then three letters all upper or all lower case.
trigger_kind select_trigger(std::string_view trg_type);

// Trigger records; p points at trg_info (stream entry offset 68), 162 bytes.
struct event_def {
  const uint8_t* p;
  std::string_view trg_chan() const { return text_at(p, 0, 16); }
  std::string_view min_chan() const { return text_at(p, 16, 2); }
  std::string_view trg_wndw() const { return text_at(p, 18, 8); }
  std::string_view pre_trg_len() const { return text_at(p, 26, 8); }
  std::string_view pst_trg_len() const { return text_at(p, 34, 8); }
  std::string_view rec_len() const { return text_at(p, 42, 8); }
  std::string_view lb_filter() const { return text_at(p, 50, 8); }
  std::string_view lb_sta() const { return text_at(p, 58, 8); }
  std::string_view lb_lta() const { return text_at(p, 66, 8); }
  std::string_view lb_stav() const { return text_at(p, 74, 8); }
  std::string_view lb_trg_rat() const { return text_at(p, 82, 8); }
  std::string_view lb_dtrg_rat() const { return text_at(p, 90, 8); }
  std::string_view lta_hold() const { return text_at(p, 98, 4); }
};

struct timseq_def {
  const uint8_t* p;
  std::string_view start_time() const { return text_at(p, 0, 14); }
  std::string_view rep_int() const { return text_at(p, 14, 8); }
  std::string_view num_int() const { return text_at(p, 22, 4); }
  std::string_view pre_trg_len() const { return text_at(p, 26, 8); }
  std::string_view rec_len() const { return text_at(p, 34, 8); }
};

struct level_def {
  const uint8_t* p;
  std::string_view level() const { return text_at(p, 0, 8); }
  std::string_view pre_trg_len() const { return text_at(p, 8, 8); }
  std::string_view rec_len() const { return text_at(p, 16, 8); }
};

struct con_def {
  const uint8_t* p;
  std::string_view rec_len() const { return text_at(p, 0, 8); }
};

// EXT and RAD triggers share one record.
struct rx_def {
  const uint8_t* p;
  std::string_view pre_trg_len() const { return text_at(p, 0, 8); }
  std::string_view rec_len() const { return text_at(p, 8, 8); }
};

struct crs_def {
  const uint8_t* p;
  std::string_view trg_stm() const { return text_at(p, 0, 2); }
  std::string_view pre_trg_len() const { return text_at(p, 2, 8); }
  std::string_view rec_len() const { return text_at(p, 10, 8); }
};

struct tml_def {
  static constexpr unsigned kStartTimes = 11;
  const uint8_t* p;
  // k = 0..10
  std::string_view start_time(unsigned k) const { return text_at(p, 14 * k, 14); }
  std::string_view rec_len() const { return text_at(p, 154, 8); }
};

// One of the four stream entries; p points at the entry's first byte.
struct dstrm_def {
  const uint8_t* p;
  std::string_view number() const { return text_at(p, 0, 2); }
  std::string_view name() const { return text_at(p, 2, 24); }
  std::string_view ch_nums() const { return text_at(p, 26, 16); }
  std::string_view rate() const { return text_at(p, 42, 4); }
  std::string_view dat_formt() const { return text_at(p, 46, 2); }
  std::string_view trg_type() const { return text_at(p, 64, 4); }
  const uint8_t* trg_info() const { return p + 68; }
  trigger_kind trigger() const { return select_trigger(trg_type()); }
  bool used() const { return p[0] != ' '; }
};

struct ds_pkt {
  static constexpr unsigned kStreams = 4;
  const uint8_t* p;
  dstrm_def stream(unsigned k) const { return dstrm_def{p + 16 + 230 * k}; }
};

// ---- CD, AD, OM ----

struct cd_pkt {
  const uint8_t* p;
  std::string_view start() const { return text_at(p, 16, 14); }
  std::string_view rep_int() const { return text_at(p, 30, 8); }
  std::string_view num_int() const { return text_at(p, 38, 4); }
  std::string_view length() const { return text_at(p, 42, 8); }
  std::string_view step() const { return text_at(p, 50, 4); }
  std::string_view step_period() const { return text_at(p, 54, 8); }
  std::string_view step_size() const { return text_at(p, 62, 8); }
  std::string_view step_ampl() const { return text_at(p, 70, 8); }
  std::string_view step_output() const { return text_at(p, 78, 4); }
  // The step fields count only when the step text begins with ON or on.
  bool step_on() const {
    const auto s = step().substr(0, 2);
    return s == "ON" || s == "on";
  }
};

struct ad_pkt {
  const uint8_t* p;
  std::string_view aux_chn() const { return text_at(p, 18, 16); }
  std::string_view aux_smp_per() const { return text_at(p, 34, 8); }
  std::string_view aux_fmt() const { return text_at(p, 42, 2); }
  std::string_view aux_rec_len() const { return text_at(p, 44, 8); }
};

// One of the eight wake-up entries; p points at the entry's first byte.
struct wake_def {
  const uint8_t* p;
  std::string_view seq_num() const { return text_at(p, 0, 2); }
  std::string_view start_time() const { return text_at(p, 2, 12); }
  std::string_view pwr_dur() const { return text_at(p, 14, 6); }
  std::string_view rep_int() const { return text_at(p, 20, 6); }
  std::string_view num_int() const { return text_at(p, 26, 2); }
  bool used() const { return p[0] != ' '; }
};

struct om_pkt {
  static constexpr unsigned kWakes = 8;
  const uint8_t* p;
  std::string_view pwr_stt() const { return text_at(p, 16, 2); }
  std::string_view rec_mod() const { return text_at(p, 18, 2); }
  char disk_id1() const { return static_cast<char>(p[20]); }
  char disk_id2() const { return static_cast<char>(p[21]); }
  char tape_id() const { return static_cast<char>(p[22]); }
  char dump_dev() const { return static_cast<char>(p[23]); }
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

// One directory entry; p points at the entry's first byte.
struct dr_ent_def {
  static constexpr std::size_t kSize = 80;
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
  const uint8_t* trigg_time() const { return p + 28; }
  const uint8_t* first_samp_time() const { return p + 32; }
  const uint8_t* de_trigg_time() const { return p + 36; }
  const uint8_t* last_samp_time() const { return p + 40; }
  const uint8_t* entry_time() const { return p + 44; }
  uint32_t trigg_time_msecs() const { return u16be_at(p, 48); }
  uint32_t first_samp_time_msecs() const { return u16be_at(p, 50); }
  uint32_t de_trigg_time_msecs() const { return u16be_at(p, 52); }
  uint32_t last_samp_time_msecs() const { return u16be_at(p, 54); }
  uint32_t entry_time_msecs() const { return u16be_at(p, 56); }
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
struct t_fmt_disk {
  const uint8_t* p;
  uint32_t write() const { return u32be_at(p, 0); }
  uint32_t wrap_cnt() const { return u32be_at(p, 20); }
  uint32_t read() const { return u32be_at(p, 24); }
  uint32_t copy() const { return u32be_at(p, 28); }
  uint32_t leod() const { return u32be_at(p, 32); }
  uint32_t dir_first() const { return u32be_at(p, 36); }
  uint32_t dir_last() const { return u32be_at(p, 40); }
  uint32_t ovwr() const { return u32be_at(p, 44); }
  uint32_t dir_cnt() const { return u32be_at(p, 48); }
  uint32_t dir_ent() const { return u32be_at(p, 52); }
  uint32_t weod() const { return u32be_at(p, 56); }
  uint32_t peod() const { return u32be_at(p, 60); }
  // Positions are stored in 512-byte sectors and shown in 1024-byte blocks.
  static uint32_t to_block(uint32_t sectors) { return sectors >> 1; }
};

}  // namespace pk
