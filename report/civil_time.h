// Header times as microseconds since 1970-01-01 00:00 UTC, and back to text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace report {

struct DayTime {
  int year = 0, jday = 0, hour = 0, minute = 0, second = 0;
  int64_t usec = 0;  // may run past a second, as a start plus an offset does
};

// Empty when a field is out of its range (year 1900..2999, day 1..366 of that year, ...).
std::optional<int64_t> epoch_us(const DayTime& t);

// "2016-04-09T06:55:20.000Z": milliseconds, rounded.
std::string iso_time(int64_t us);
// Shorter forms for the timeline's axis: "2016-04-09", "04-09 06:55", "06:55:20".
std::string axis_label(int64_t us, int64_t step_us);

}  // namespace report
