#include "hbk2sac/accuratetime.h"

#include <chrono>

namespace hbk {

namespace {

// 30 December 1899 expressed in days relative to the system clock's epoch.
constexpr std::chrono::sys_days kTimeOrigin =
    std::chrono::sys_days{std::chrono::year{1899} / 12 / 30};

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

std::uint32_t timecode_days(std::uint32_t code) { return code >> 17; }
std::uint32_t timecode_seconds(std::uint32_t code) { return code & 0x1FFFFu; }

Micros timecode_to_us(std::uint32_t code) {
  const std::int64_t days = timecode_days(code);
  const std::int64_t seconds = timecode_seconds(code);
  return ((days + kEpochDayOffset) * 86'400 + seconds) * kUsPerSecond;
}

CalendarTime us_to_datetime(Micros t) {
  using namespace std::chrono;
  const std::int64_t day_index = floor_div(t, kUsPerDay);
  const std::int64_t secs_of_day = (t - day_index * kUsPerDay) / kUsPerSecond;
  const sys_days date = kTimeOrigin + days{day_index};
  const year_month_day ymd{date};
  const sys_days new_year = sys_days{ymd.year() / January / 1};

  CalendarTime c;
  c.year = int(ymd.year());
  c.month = int(unsigned(ymd.month()));
  c.day = int(unsigned(ymd.day()));
  c.jday = int((date - new_year).count()) + 1;
  c.hour = int(secs_of_day / 3600);
  c.minute = int(secs_of_day / 60 % 60);
  c.second = int(secs_of_day % 60);
  return c;
}

// Computed from whole seconds rather than a fractional day count so that no
// rounding can move a block across a second or a day boundary.
CalendarTime timecode_to_datetime(std::uint32_t code) {
  return us_to_datetime(timecode_to_us(code));
}

}  // namespace hbk
