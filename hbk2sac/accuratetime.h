// Block times as signed 64-bit microseconds since 30 December 1899 00:00:00.
// Only differences and order of these times reach the output, but they must be
// exact: a block is used only when its start equals the expected time.
#pragma once

#include <cstdint>

namespace hbk {

using Micros = std::int64_t;

constexpr Micros kUsPerSecond = 1'000'000;
constexpr Micros kUsPerDay = 86'400 * kUsPerSecond;

// Days from 30 December 1899 to 17 November 1989, the day count's origin.
constexpr std::int64_t kEpochDayOffset = 32'829;

struct CalendarTime {
  int year = 0;
  int jday = 0;  // 1 for 1 January
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Time code: bits 31..17 day count since 17 November 1989, bits 16..0 seconds
// since that day's midnight (values of 86400 and more carry into later days).
std::uint32_t timecode_days(std::uint32_t code);
std::uint32_t timecode_seconds(std::uint32_t code);

Micros timecode_to_us(std::uint32_t code);
CalendarTime timecode_to_datetime(std::uint32_t code);
CalendarTime us_to_datetime(Micros t);

}  // namespace hbk
