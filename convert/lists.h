// Rings of recording units, their events and the events' channel files. Each ring's head
// pointer is its most recently used node. Every fact about one unit, one event or one
// channel lives in its node.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/packet_time.h"
#include "convert/write_behind.h"

namespace pk {

struct EventNode;
struct ChannelNode;
struct Conversion;

struct UnitNode {
  UnitNode* Prev_unit = nullptr;
  UnitNode* Next_unit = nullptr;
  EventNode* First_evt = nullptr;  // the unit's current event
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
  // The unit's latest EH, ET or DT packet, so that a copy of it repeated by a download is
  // recognised.
  std::array<uint8_t, 1024> previous_packet{};
  bool has_previous = false;
};

// What a channel carries from one segment of its event into the next: the -T discards
// still due and the samples stored so far, which count against the -S limit.
struct ChannelCarry {
  uint32_t Strm_num = 0, Chan_num = 0;
  uint32_t discard_count = 0;
  uint64_t stored_before = 0;
};

struct EventNode {
  EventNode* Prev_evt = nullptr;
  EventNode* Next_evt = nullptr;
  ChannelNode* First_chan = nullptr;  // the event's current channel
  UnitNode* Unit_pointer = nullptr;
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
  // A segment continues its event after a sequence break or a full file: the first
  // sample time of the event's first segment (for the shot point; empty in that segment
  // itself) and what each channel carries over.
  PacketTime event_start;
  std::vector<ChannelCarry> carried;
  // Set in a segment that began after a break or a full file, and in an event whose
  // sequence broke before its first samples: its channels need not begin together.
  bool channels_apart = false;
};

// A DT packet whose own time is not where the count of samples before it puts its first
// stored sample (the channel's first sample time + sample / rate; samples -T discarded
// count too) by more than half a sample interval.
struct TimeMark {
  std::uint64_t sample;  // index in the channel's stored samples where the packet's begin
  PacketTime time;       // the packet's time
  double offset;         // packet time minus count time, seconds
};

struct ChannelNode {
  EventNode* Evt_pointer = nullptr;
  ChannelNode* Prev_file = nullptr;
  ChannelNode* Next_file = nullptr;
  double Qcc_sum = 0, Qcc_sq_sum = 0, Qcc_min = 0, Qcc_max = 0;
  uint32_t stored = 0;     // samples in the channel data file
  int32_t smallest = 0;    // of the stored samples, once there is one
  int32_t largest = 0;
  uint32_t discard_count = 0;  // samples still to discard
  uint64_t discarded = 0;  // samples -T discarded so far
  uint64_t stored_before = 0;  // samples stored in the event's earlier segments
  // A later segment's channel whose event had used up the -S limit before it began: it
  // stores nothing and gets no file, since a later segment is there only to keep samples.
  bool limit_spent = false;
  int32_t Last_sample = 0;
  uint32_t Unit_num = 0, Evt_num = 0, Strm_num = 0, Chan_num = 0;
  AppendingFile data;              // the channel data file while open
  std::string Filename;            // the channel data file; empty when none was made
  std::string Next_smp_time;       // compared as text for the log's continuity mark
  PacketTime First_smp_time;
  PacketTime Prev_smp_time;
  // Of this segment: packets whose time the count of samples misses (see TimeMark), and
  // the jumps between consecutive packets' offsets of more than one sample interval.
  std::vector<TimeMark> time_marks;
  double count_offset = 0;  // of the latest packet that stored samples
  uint32_t time_tears = 0;
  double largest_tear = 0;
};

// The bit weights that scale an event's traces: its own EH/ET's, else its unit's latest,
// else none (blank).
std::string event_bit_weights(const EventNode& evt);

// Owns the unit ring with every event and channel node in it.
class Units {
 public:
  Units() = default;
  Units(const Units&) = delete;
  Units& operator=(const Units&) = delete;
  // Closes, unchecked, what a run that failed still holds, and frees the nodes.
  ~Units();

  UnitNode* start = nullptr;  // the current unit
};

// Counts the channel data files open at once.
struct OpenChannels {
  uint16_t N_opn_fls = 0;
};

UnitNode* find_unit(Conversion& conv, const uint8_t* pkt);
// Makes `u` the current unit: the previous unit's log, QCC and channel files close and
// `u`'s log and QCC files reopen.
void make_unit_current(Conversion& conv, UnitNode* u);
EventNode* find_event(OpenChannels& open, UnitNode* unit, const uint8_t* pkt);
ChannelNode* find_file(Conversion& conv, EventNode* evt, const uint8_t* pkt);
// Closes the unit's log and, with it, its current event's channel files: both are held
// only while the unit is the current one.
void close_unit_log(Conversion& conv, UnitNode* unit);
void close_unit_qcc(Conversion& conv, UnitNode* unit);
void cls_file(OpenChannels& open, ChannelNode* file);
void cls_evt_files(OpenChannels& open, EventNode* evt);
void del_evt_ptr(OpenChannels& open, EventNode* evt);
void sort_chan(EventNode* evt);

// "YYYY_DDD_HH_MM_SS_UUUU_S_C" base name of a channel data file.
std::string channel_base_name(const std::string& time, uint32_t unit, uint32_t strm, uint32_t chan);
// Whether the channel has a data file: none is made when nothing can be stored.
bool own_data_file(const ChannelNode& chan);

}  // namespace pk
