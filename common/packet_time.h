// The times of the packet programs: the 16-character texts YYYYDDDHHMMSSmmm of packet
// headers and EH/ET bodies, read once and placed on the calendar.
#pragma once

#include <chrono>
#include <string>

namespace pk {

class PacketTime {
 public:
  using Instant = std::chrono::sys_time<std::chrono::milliseconds>;

  PacketTime() = default;
  // Each field is read as a "%Nd" conversion would (leading blanks skipped, a sign taken);
  // what is missing or no number counts 0. The text itself is kept for file names.
  explicit PacketTime(std::string text);

  const std::string& text() const { return text_; }
  // Whether the text has the full 16 characters.
  bool complete() const { return text_.size() == 16; }
  // Days past the end of the year run on into the next one, as hours past 23 into the
  // next day.
  Instant instant() const { return instant_; }
  // For differences, a millisecond part written with fewer than three characters counts
  // hundredths ("5" is 50 ms).
  Instant instant_for_difference() const { return instant_ + hundredths_correction_; }

 private:
  std::string text_;
  Instant instant_{};
  std::chrono::milliseconds hundredths_correction_{0};
};

// Whether `a` is strictly later than `b`.
bool is_later(const PacketTime& a, const PacketTime& b);
// Seconds from `from` to `to`.
double seconds_between(const PacketTime& from, const PacketTime& to);

}  // namespace pk
