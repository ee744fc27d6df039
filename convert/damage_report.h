// What a damaged or unusual recording made the run do, told once at its end: packets no
// decoder reads, blocks that are no packets, a cut-off packet at the end, sequence breaks
// that began new segments, repeated packets skipped, time tears placed by count.
#pragma once

#include <array>
#include <cstddef>
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
  void packet_undecoded(uint8_t format) { ++undecoded_[format]; }
  void block_unknown() { ++unknown_blocks_; }
  // The input ended in a cut-off packet of `bytes`.
  void input_cut_off(std::size_t bytes) { partial_bytes_ = bytes; }
  // A DT packet broke its event's sequence; its samples begin a segment from `time`.
  void sequence_broken(uint32_t unit, uint32_t evt, uint32_t block, const std::string& time);
  void packet_repeated(uint32_t unit) { ++repeats_[unit]; }
  // The tears of one segment's channel add to its event's.
  void segment_closed(const ChannelNode& chan);

  // One line per data-format byte whose DT packets went undecoded, one for the blocks that
  // are no packets, one for a cut-off packet at the end, then one per event whose sequence
  // broke, per unit that repeated packets and per channel with time tears, each ending in
  // `line_end`. The log and standard error give the same account.
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
  void write_skipped(std::FILE* out, const char* line_end) const;

  std::array<uint32_t, 256> undecoded_{};  // DT packets per data-format byte no decoder reads
  uint32_t unknown_blocks_ = 0;           // 1024-byte blocks of no known packet type
  std::size_t partial_bytes_ = 0;         // of a cut-off packet at the end of the input
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
