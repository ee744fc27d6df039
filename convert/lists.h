// Rings of recording units, their events and the events' channel files.
// Each ring's head pointer is its most recently used node.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "packet_time.h"
#include "run.h"

namespace pk {

struct Unit_list_str {
  Unit_list_str* Prev_unit = nullptr;
  Unit_list_str* Next_unit = nullptr;
  Evt_list_str* First_evt = nullptr;
  uint32_t Unit_num = 0;
  std::FILE* FdLog = nullptr;
  std::FILE* FdQcc = nullptr;
  std::string Station_name;
  std::string Network_name;
  std::string Ini_comp;  // component letters per channel from the settings file (pk_seis)
  std::string LogFile;
  std::string QccFile;
  uint8_t LogOpen = 0;
  uint8_t QccOpen = 0;
};

struct Evt_list_str {
  Evt_list_str* Prev_evt = nullptr;
  Evt_list_str* Next_evt = nullptr;
  File_list_str* First_chan = nullptr;
  Unit_list_str* Unit_pointer = nullptr;
  uint32_t Unit_num = 0;
  uint32_t Evt_num = 0;
  uint32_t Seq_num = 0;
  uint32_t Strm_num = 0;
  uint32_t Chan_first = 99;
  uint32_t Chan_last = 0;
  uint32_t Chan_total = 0;
  std::vector<uint32_t> Chan_each;  // filled and sorted just before the finishing pass
  uint8_t Out_of_seq = 0;
  uint8_t Wrapped = 0;
  float Samp_rate = 0.0f;
  std::string Station_name;
  std::string Network_name;
  std::string Strm_name;
  std::string Trig_type;
  PacketTime First_smp_time;
  PacketTime Latest_time;
};

struct File_list_str {
  Evt_list_str* Evt_pointer = nullptr;
  File_list_str* Prev_file = nullptr;
  File_list_str* Next_file = nullptr;
  double Qcc_sum = 0, Qcc_sq_sum = 0, Qcc_min = 0, Qcc_max = 0;
  uint32_t Sam_cnt = 0;
  uint32_t Trash_cnt = 0;
  int32_t Last_sample = 0;
  uint32_t Unit_num = 0, Evt_num = 0, Seq_num = 0, Strm_num = 0, Chan_num = 0;
  std::FILE* Fdout = nullptr;
  std::vector<char> Fdout_buffer;  // stdio would give Fdout only a 4 KiB buffer
  std::string Station_name;
  std::string Network_name;
  std::string Filename;  // full path of the channel data file
  uint8_t Open = 0;
  std::string Next_smp_time;  // compared as text for the log's continuity mark
  PacketTime First_smp_time;
  PacketTime Prev_smp_time;
};

Unit_list_str* find_unit(Run& run, const uint8_t* pkt);
// Makes `u` the current unit: the previous unit's log, QCC and channel files
// close and `u`'s log and QCC files reopen.
void make_unit_current(Run& run, Unit_list_str* u);
Evt_list_str* find_event(Run& run, Unit_list_str* unit, const uint8_t* pkt);
File_list_str* find_file(Run& run, Evt_list_str* evt, const uint8_t* pkt);
File_list_str* create_file(Run& run, Evt_list_str* evt, uint32_t chan, uint32_t evt_num, uint32_t strm,
                           const std::string& time);
void create_unit_file(Run& run, Unit_list_str* unit, const uint8_t* pkt, int kind);
void close_unit_file(Run& run, Unit_list_str* unit, int kind);
void cls_file(Run& run, File_list_str* file);
void cls_evt_files(Run& run, Evt_list_str* evt);
void del_evt_ptr(Run& run, Evt_list_str* evt);
// Creates `name` below the current directory if missing; returns its path.
std::string make_dir(Run& run, const std::string& name);
std::FILE* open_file(Run& run, const std::string& name);
void sort_chan(Evt_list_str* evt);

// Directory (relative to the output base, "" or ending in '/') of files that
// start at `time` under the run's path level.
std::string level_dir(uint16_t path_option, const std::string& time);
// Same, creating the directories.
std::string make_level_dir(Run& run, const std::string& time);
// "YYYY_DDD_HH_MM_SS_UUUU_S_C" base name of a channel data file.
std::string channel_base_name(const std::string& time, uint32_t unit, uint32_t strm, uint32_t chan);
// The node of `evt`'s ring with channel number `chan`, searching from `from`.
File_list_str* find_channel(Evt_list_str* evt, uint32_t chan, File_list_str* from = nullptr);

}  // namespace pk
