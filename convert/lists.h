// Rings of recording units, their events and the events' channel files. Each ring's head
// pointer is its most recently used node. Every fact about one unit, one event or one
// channel lives in its node.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "packet_time.h"
#include "write_behind.h"

namespace pk {

struct Evt_list_str;
struct File_list_str;
struct Conversion;

struct Unit_list_str {
  Unit_list_str* Prev_unit = nullptr;
  Unit_list_str* Next_unit = nullptr;
  Evt_list_str* First_evt = nullptr;  // the unit's current event
  uint32_t Unit_num = 0;
  // Open while the unit is the current one (and logging, QC output are on).
  std::FILE* FdLog = nullptr;
  std::FILE* FdQcc = nullptr;
  std::string LogFile;
  std::string QccFile;
  // pk_seis: the unit's names and component letters from the settings file.
  std::string Station_name;
  std::string Network_name;
  std::string Ini_comp;
  // Bit weights (dat_bit_wgt) of the unit's latest EH or ET packet; empty before one.
  std::string Bit_weight;
};

struct Evt_list_str {
  Evt_list_str* Prev_evt = nullptr;
  Evt_list_str* Next_evt = nullptr;
  File_list_str* First_chan = nullptr;  // the event's current channel
  Unit_list_str* Unit_pointer = nullptr;
  uint32_t Unit_num = 0;
  uint32_t Evt_num = 0;
  uint32_t Seq_num = 0;   // sequence number of the event's latest packet; 0 before one
  uint32_t Strm_num = 0;  // stream of the channel created last
  std::vector<uint32_t> Chan_each;  // filled and sorted just before the finishing pass
  bool Out_of_seq = false;
  float Samp_rate = 0.0f;
  // Whether the rate is settled: by the event's EH packet, or by a first estimate from
  // its packet times when no EH packet came for it.
  bool rate_known = false;
  // Bit weights of the event's own latest EH or ET packet; empty when none came.
  std::string Bit_weight;
  PacketTime First_smp_time;
  PacketTime Latest_time;
};

struct File_list_str {
  Evt_list_str* Evt_pointer = nullptr;
  File_list_str* Prev_file = nullptr;
  File_list_str* Next_file = nullptr;
  double Qcc_sum = 0, Qcc_sq_sum = 0, Qcc_min = 0, Qcc_max = 0;
  uint32_t stored = 0;     // samples in the channel data file
  int32_t smallest = 0;    // of the stored samples, once there is one
  int32_t largest = 0;
  uint32_t Trash_cnt = 0;  // samples still to discard
  int32_t Last_sample = 0;
  uint32_t Unit_num = 0, Evt_num = 0, Strm_num = 0, Chan_num = 0;
  AppendingFile data;              // the channel data file while open
  std::string Filename;            // the channel data file; empty when none was made
  std::string Next_smp_time;       // compared as text for the log's continuity mark
  PacketTime First_smp_time;
  PacketTime Prev_smp_time;
};

// The bit weights that scale an event's traces: its own EH/ET's, else its unit's latest,
// else none (blank).
std::string event_bit_weights(const Evt_list_str& evt);

// Owns the unit ring with every event and channel node in it.
class Units {
 public:
  Units() = default;
  Units(const Units&) = delete;
  Units& operator=(const Units&) = delete;
  // Closes, unchecked, what a run that failed still holds, and frees the nodes.
  ~Units();

  Unit_list_str* start = nullptr;  // the current unit
};

// Counts the channel data files open at once.
struct OpenChannels {
  uint16_t N_opn_fls = 0;
};

Unit_list_str* find_unit(Conversion& conv, const uint8_t* pkt);
// Makes `u` the current unit: the previous unit's log, QCC and channel files close and
// `u`'s log and QCC files reopen.
void make_unit_current(Conversion& conv, Unit_list_str* u);
Evt_list_str* find_event(OpenChannels& open, Unit_list_str* unit, const uint8_t* pkt);
File_list_str* find_file(Conversion& conv, Evt_list_str* evt, const uint8_t* pkt);
// Closes the unit's log and, with it, its current event's channel files: both are held
// only while the unit is the current one.
void close_unit_log(Conversion& conv, Unit_list_str* unit);
void close_unit_qcc(Conversion& conv, Unit_list_str* unit);
void cls_file(OpenChannels& open, File_list_str* file);
void cls_evt_files(OpenChannels& open, Evt_list_str* evt);
void del_evt_ptr(OpenChannels& open, Evt_list_str* evt);
void sort_chan(Evt_list_str* evt);

// "YYYY_DDD_HH_MM_SS_UUUU_S_C" base name of a channel data file.
std::string channel_base_name(const std::string& time, uint32_t unit, uint32_t strm, uint32_t chan);
// Whether the channel has a data file: none is made when nothing can be stored.
bool own_data_file(const File_list_str& chan);

}  // namespace pk
