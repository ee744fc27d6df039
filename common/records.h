// Read-only views of packet bodies over the 1024-byte packet buffer.
// Every accessor names its offset, width and encoding; nothing is copied.
#pragma once

#include <cstdint>
#include <string_view>

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
};

}  // namespace pk
