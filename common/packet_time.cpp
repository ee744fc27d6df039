#include "common/packet_time.h"

#include "common/pkfile.h"

namespace pk {

namespace {

using namespace std::chrono;

// The first word of the millisecond field, at most three characters, as "%3s" reads it.
std::size_t millisecond_width(const std::string& text) {
  if (text.size() <= 13) return 0;
  const std::size_t begin = text.find_first_not_of(" \t\r\n\v\f", 13);
  if (begin == std::string::npos) return 0;
  const std::size_t end = text.find_first_of(" \t\r\n\v\f", begin);
  return std::min<std::size_t>((end == std::string::npos ? text.size() : end) - begin, 3);
}

sys_days start_of_year(long y) { return sys_days{year{static_cast<int>(y)} / January / 1}; }

}  // namespace

PacketTime::PacketTime(std::string text) : text_(std::move(text)) {
  const long ms = scan_int(text_, 13, 3);
  instant_ = start_of_year(scan_int(text_, 0, 4)) + days{scan_int(text_, 4, 3) - 1} + hours{scan_int(text_, 7, 2)} +
             minutes{scan_int(text_, 9, 2)} + seconds{scan_int(text_, 11, 2)} + milliseconds{ms};
  if (millisecond_width(text_) != 3) hundredths_correction_ = milliseconds{9 * ms};
}

bool is_later(const PacketTime& a, const PacketTime& b) { return a.instant() > b.instant(); }

double seconds_between(const PacketTime& from, const PacketTime& to) {
  const milliseconds diff = to.instant_for_difference() - from.instant_for_difference();
  return static_cast<double>(diff.count()) * 0.001;
}

}  // namespace pk
