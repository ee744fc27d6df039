#include "report/civil_time.h"

#include <chrono>
#include <cstdio>

namespace report {

namespace {

constexpr int64_t kUsPerSecond = 1'000'000, kUsPerDay = 86'400 * kUsPerSecond;

using namespace std::chrono;

int64_t days_since_epoch(const year_month_day& date) { return sys_days{date}.time_since_epoch().count(); }

}  // namespace

std::optional<int64_t> epoch_us(const DayTime& t) {
  const bool in_range = t.year >= 1900 && t.year <= 2999 && t.jday >= 1 &&
                        t.jday <= (year{t.year}.is_leap() ? 366 : 365) && t.hour >= 0 && t.hour < 24 &&
                        t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 61;
  if (!in_range) return std::nullopt;
  const int64_t days = days_since_epoch(year{t.year} / January / 1) + t.jday - 1;
  return days * kUsPerDay + ((t.hour * 60 + t.minute) * 60 + int64_t{t.second}) * kUsPerSecond + t.usec;
}

std::string iso_time(int64_t us) {
  const auto t = floor<milliseconds>(sys_time<microseconds>{microseconds{us + 500}});
  const sys_days day = floor<days>(t);
  const year_month_day date{day};
  const hh_mm_ss clock{t - day};
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int{date.year()}, unsigned{date.month()},
                unsigned{date.day()}, static_cast<int>(clock.hours().count()),
                static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()),
                static_cast<int>(clock.subseconds().count()));
  return buf;
}

std::string axis_label(int64_t us, int64_t step_us) {
  const std::string iso = iso_time(us);
  if (step_us >= kUsPerDay) return iso.substr(0, 10);                       // 2016-04-09
  if (step_us >= 60 * kUsPerSecond) return iso.substr(5, 5) + " " + iso.substr(11, 5);  // 04-09 06:55
  return iso.substr(11, 8);                                                 // 06:55:20
}

}  // namespace report
