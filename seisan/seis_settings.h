// Station settings per recording unit from the PKU.INI text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pk {
struct SettingsFile;
struct UnitNode;
}

namespace pk::seis {

struct StationSettings {
  std::string station;        // at most four characters
  std::string station_value;  // the whole value of the Station line, for other programs
  std::string network;  // the rest of the Network line, a carriage return included
  std::string comp;     // one letter per channel number, '\0' where none was given
};

// Reads the unit's section of a settings text:
//   [A12F]          the section line, unit id as four upper-case hex digits
//   Station=ABCD    the line right after the first section line
//   Network=NAME    the line after that
//   Ch1Axis=Z       one more line after those and after every repeated section line
// Keys match on their leading characters; a component key carries the channel number
// (1..16, '1'..'9' then ':'..'@') as its third character and "Axis" from its fourth.
StationSettings parse_pku_ini(std::string_view text, uint32_t unit);

// Fills the unit's names and letters from the run's settings file; clears them first so
// a unit without a section gets the defaults. A settings file that is there but could not
// be read ends the run with code 20.
void load_station_settings(const SettingsFile& settings, UnitNode& unit);

}  // namespace pk::seis
