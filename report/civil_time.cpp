#include "civil_time.h"

#include <cstdio>

namespace report {

namespace {

constexpr int64_t kUsPerSecond = 1'000'000, kUsPerDay = 86'400 * kUsPerSecond;

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct Civil {
  int64_t year;
  unsigned month, day;
};

Civil civil_from_days(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

struct Split {
  Civil date;
  int64_t usec_of_day;
};

Split split(int64_t us) {
  const int64_t days = floor_div(us, kUsPerDay);
  return {civil_from_days(days), us - days * kUsPerDay};
}

}  // namespace

std::optional<int64_t> epoch_us(const DayTime& t) {
  const bool in_range = t.year >= 1900 && t.year <= 2999 && t.jday >= 1 && t.jday <= (leap(t.year) ? 366 : 365) &&
                        t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 &&
                        t.second < 61;
  if (!in_range) return std::nullopt;
  const int64_t days = days_from_civil(t.year, 1, 1) + t.jday - 1;
  return days * kUsPerDay + ((t.hour * 60 + t.minute) * 60 + int64_t{t.second}) * kUsPerSecond + t.usec;
}

std::string iso_time(int64_t us) {
  const Split s = split(floor_div(us + 500, 1000) * 1000);
  const int64_t ms = s.usec_of_day / 1000;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(s.date.year),
                s.date.month, s.date.day, static_cast<long long>(ms / 3'600'000),
                static_cast<long long>(ms / 60'000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return buf;
}

std::string axis_label(int64_t us, int64_t step_us) {
  const std::string iso = iso_time(us);
  if (step_us >= kUsPerDay) return iso.substr(0, 10);                       // 2016-04-09
  if (step_us >= 60 * kUsPerSecond) return iso.substr(5, 5) + " " + iso.substr(11, 5);  // 04-09 06:55
  return iso.substr(11, 8);                                                 // 06:55:20
}

}  // namespace report
