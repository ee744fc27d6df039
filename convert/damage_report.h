// What a damaged or unusual recording made the run do, told once at its end: sequence
// breaks that began new segments, repeated packets skipped, time tears placed by count.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "convert/lists.h"

namespace pk {

class DamageReport {
 public:
  // A DT packet broke its event's sequence; its samples begin a segment from `time`.
  void sequence_broken(uint32_t unit, uint32_t evt, uint32_t block, const std::string& time);
  void packet_repeated(uint32_t unit) { ++repeats_[unit]; }
  // The tears of one segment's channel add to its event's.
  void segment_closed(const ChannelNode& chan);

  // One line per event whose sequence broke, per unit that repeated packets and per
  // channel with time tears, each ending in `line_end`.
  void write(std::FILE* out, const char* line_end) const;

 private:
  struct Break {
    uint32_t block;
    std::string time;
  };
  struct Tears {
    uint32_t count = 0;
    double largest = 0;
  };
  std::map<std::pair<uint32_t, uint32_t>, std::vector<Break>> breaks_;  // by unit, event
  std::map<uint32_t, unsigned long> repeats_;                            // by unit
  std::map<std::array<uint32_t, 4>, Tears> tears_;                       // unit, event, stream, channel
};

// "YYYY:DDD:HH:MM:SS.mmm" of a "YYYYDDDHHMMSSmmm" time.
std::string readable_time(const std::string& time16);

// Follows a DT packet's time against the count of the samples before it (after the
// decoder stored what the channel keeps of it): its time mark and tear, if any.
// `stored_at` and `trash_at` are the channel's stored samples and discards due before it.
void note_packet_time(ChannelNode& f, const EventNode& evt, uint32_t stored_at, uint32_t trash_at);

}  // namespace pk
