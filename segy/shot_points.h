// Shot-point list of the PK_EDF.EDF settings file: which shot point an event belongs to.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/pkfile.h"

namespace pk::segy {

// One shot point: its time (year, day of year in `day`, hour, minute, second) and number.
struct sp_value_strc {
  time_tag sp_time;
  uint16_t sp = 0;
};

// Fractional year of a shot-point time; days are counted out of 366 in years divisible by 4.
double convert_time_to_year(const time_tag& t);

// The lines of `text` that belong to `unit`, in file order. A line counts when it starts
// with a digit and reads "sp unit_hex ignored year:day:hour:minute:second".
std::vector<sp_value_strc> parse_shot_points(std::string_view text, uint16_t unit);

// The unit's entries between a head entry at time 0 and a closing entry at year 9999,
// sorted by time; entries with equal times keep their file order.
std::vector<sp_value_strc> shot_point_list(std::string_view text, uint16_t unit);

// The shot point of an event starting at `event_time`: the last entry after the head that
// is earlier than the event, when a later entry follows it; none when the event is not
// later than the first listed shot point.
std::optional<uint16_t> find_shot_point(const std::vector<sp_value_strc>& list, const time_tag& event_time);

// Year, day of year (in `day`), hour, minute and second of a "YYYYDDDHHMMSSmmm" time.
time_tag shot_time_of(std::string_view time16);

}  // namespace pk::segy
