#include "convert/damage_report.h"

#include <algorithm>
#include <cmath>

#include "convert/helpers.h"

namespace pk {

namespace {

// Packet times are whole milliseconds; rounding of the count must not make a tear.
constexpr double kSlack = 1e-6;

void write_breaks(std::FILE* out, const char* line_end, uint32_t unit, uint32_t evt, const auto& breaks) {
  const std::size_t n = breaks.size();
  std::string line = format("WARNING: unit %04X event %u: packet sequence broken %zu time%s; ", unit, evt, n,
                            n == 1 ? "" : "s");
  for (std::size_t i = 0; i < n; ++i) {
    line += i == 0 ? format("the samples after block %u are in a new segment from %s", breaks[i].block,
                            readable_time(breaks[i].time).c_str())
                   : format(", after block %u from %s", breaks[i].block, readable_time(breaks[i].time).c_str());
  }
  std::fprintf(out, "%s%s", line.c_str(), line_end);
}

}  // namespace

std::string readable_time(const std::string& time16) {
  std::string t = time16;
  t.resize(std::max<std::size_t>(t.size(), 16), ' ');
  return t.substr(0, 4) + ":" + t.substr(4, 3) + ":" + t.substr(7, 2) + ":" + t.substr(9, 2) + ":" +
         t.substr(11, 2) + "." + t.substr(13, 3);
}

void DamageReport::sequence_broken(uint32_t unit, uint32_t evt, uint32_t block, const std::string& time) {
  breaks_[{unit, evt}].push_back({block, time});
}

void DamageReport::segment_closed(const ChannelNode& chan) {
  if (chan.time_tears == 0) return;
  Tears& t = tears_[{chan.Unit_num, chan.Evt_num, chan.Strm_num, chan.Chan_num}];
  t.count += chan.time_tears;
  t.largest = std::max(t.largest, chan.largest_tear);
}

void DamageReport::write_skipped(std::FILE* out, const char* line_end) const {
  for (std::size_t format = 0; format < undecoded_.size(); ++format) {
    const unsigned long n = undecoded_[format];
    if (n == 1)
      std::fprintf(out, "WARNING: 1 DT packet in data format 0x%02zX was not decoded; its samples are missing%s",
                   format, line_end);
    else if (n > 1)
      std::fprintf(out, "WARNING: %lu DT packets in data format 0x%02zX were not decoded; their samples are missing%s",
                   n, format, line_end);
  }
  // A damaged header or a cut-off copy: whatever samples such blocks held are lost.
  const uint32_t blocks = unknown_blocks_;
  if (blocks == 1)
    std::fprintf(out, "WARNING: 1 block of 1024 bytes is no PASSCAL packet and was skipped; any samples in it are "
                 "missing%s", line_end);
  else if (blocks > 1)
    std::fprintf(out, "WARNING: %lu blocks of 1024 bytes are no PASSCAL packets and were skipped; any samples in "
                 "them are missing%s", static_cast<unsigned long>(blocks), line_end);
  if (partial_bytes_ > 0)
    std::fprintf(out, "WARNING: the input ends in a cut-off packet of %zu bytes, which was skipped; any samples in it "
                 "are missing%s", partial_bytes_, line_end);
}

void DamageReport::write(std::FILE* out, const char* line_end) const {
  write_skipped(out, line_end);
  for (const auto& [key, breaks] : breaks_) write_breaks(out, line_end, key.first, key.second, breaks);
  for (const auto& [unit, n] : repeats_) {
    std::fprintf(out, "WARNING: unit %04X: %lu packet%s repeating the one before byte for byte skipped%s", unit, n,
                 n == 1 ? "" : "s", line_end);
  }
  for (const auto& [key, t] : tears_) {
    const std::string stream = key[2] == 0 ? std::string() : format(" stream %u", key[2] + 1);
    std::fprintf(out,
                 "WARNING: unit %04X event %u%s channel %u: %u time tear%s, the largest %.3f s; samples after %s are "
                 "placed by count, not by packet time%s",
                 key[0], key[1], stream.c_str(), key[3] + 1, t.count, t.count == 1 ? "" : "s", t.largest,
                 t.count == 1 ? "it" : "them", line_end);
  }
}

void note_packet_time(ChannelNode& f, const EventNode& evt, uint32_t stored_at, uint32_t trash_at) {
  const uint64_t discarded_before = f.discarded;
  f.discarded += trash_at - f.discard_count;
  const double rate = evt.Samp_rate;
  if (f.stored == stored_at || !evt.rate_known || !(rate > 0)) return;
  const double offset = seconds_between(f.First_smp_time, f.Prev_smp_time) -
                        static_cast<double>(discarded_before + stored_at) / rate;
  if (std::fabs(offset) > 0.5 / rate + kSlack) f.time_marks.push_back({stored_at, f.Prev_smp_time, offset});
  const double jump = std::fabs(offset - f.count_offset);
  if (jump > 1.0 / rate + kSlack) {
    ++f.time_tears;
    f.largest_tear = std::max(f.largest_tear, jump);
  }
  f.count_offset = offset;
}

}  // namespace pk
