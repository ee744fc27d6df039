// SEED identifiers (network, station, location, channel) of pk_mseed's records, from the
// settings file pk_seis reads. pk_mseed's keys stand in sections of their own, which
// pk_seis never looks at:
//   [SEED]           Network=XY                     for every unit
//   [A12F SEED]      Network=XY  Station=KELDA  Location=00
//                    Stream2Location=10             one stream's location
//                    Stream1Channel3=HHE            one channel's full code
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace pk::mseed {

struct SeedId {
  std::string network, station, location, channel;
};

// What the settings text says about one unit's codes; empty where it says nothing.
struct UnitCodes {
  std::string network;
  std::string station;
  std::string location;
  std::map<uint32_t, std::string> stream_location;                     // by stream number (0-based)
  std::map<std::pair<uint32_t, uint32_t>, std::string> channel_code;  // by stream, channel (0-based)
  std::string pku_station;  // the Station value of pk_seis's own section
  std::string axis;         // pk_seis's component letters by channel, '\0' where none
};

UnitCodes parse_seed_settings(std::string_view text, uint32_t unit);

// The first code the settings give for the unit that no SEED identifier can hold, as
// "Key=value": codes are letters and digits, a network 1 or 2 of them, a station 1 to 5,
// a location up to 2, a channel exactly 3. A station taken from pk_seis's section is cut
// to 5 characters first. Nothing when every code fits.
std::optional<std::string> unusable_code(const UnitCodes& codes);

// Band letter of a broadband sensor at `rate` samples per second.
char band_code(double rate);

// The codes of one channel: what the settings give, else the defaults - network XX, the
// station of pk_seis's section (up to 5 characters) or the unit id, location empty for the
// first stream and the stream number in two digits for the others (so that two streams
// never share an id), channel band by rate, 'H', the axis letter or the channel number.
// Lower-case letters are taken upper case.
SeedId seed_id(const UnitCodes& codes, uint32_t unit, uint32_t strm, uint32_t chan, double rate);

}  // namespace pk::mseed
