#include "mseed/seed_codes.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "convert/helpers.h"
#include "seisan/seis_settings.h"

namespace pk::mseed {

namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// The number a key carries after `prefix`, up to the next non-digit; 1-based in the text.
std::optional<uint32_t> key_number(std::string_view& key, std::string_view prefix) {
  if (!key.starts_with(prefix)) return std::nullopt;
  key.remove_prefix(prefix.size());
  std::size_t n = 0;
  while (n < key.size() && n < 3 && std::isdigit(static_cast<unsigned char>(key[n]))) ++n;
  if (n == 0) return std::nullopt;
  const auto number = static_cast<uint32_t>(std::atoi(std::string(key.substr(0, n)).c_str()));
  key.remove_prefix(n);
  if (number == 0) return std::nullopt;
  return number - 1;
}

std::string upper(std::string_view s) {
  std::string u(s);
  for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

// Keys of a unit's section; Stream<s>Location and Stream<s>Channel<c> name one stream or channel.
void take_key(UnitCodes& codes, std::string_view key, const std::string& value) {
  if (key == "Network") codes.network = value;
  else if (key == "Station") codes.station = value;
  else if (key == "Location") codes.location = value;
  const auto strm = key_number(key, "Stream");
  if (!strm) return;
  if (key == "Location") codes.stream_location[*strm] = value;
  else if (const auto chan = key_number(key, "Channel"); chan && key.empty()) codes.channel_code[{*strm, *chan}] = value;
}

void read_sections(std::string_view text, uint32_t unit, UnitCodes& codes) {
  const std::string own = format("[%04hX SEED]", static_cast<unsigned short>(unit));
  enum class Section { other, all, unit } in = Section::other;
  while (!text.empty()) {
    const auto lf = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, lf));
    text.remove_prefix(lf == std::string_view::npos ? text.size() : lf + 1);
    if (line.starts_with("[")) {
      in = line == "[SEED]" ? Section::all : (line == own ? Section::unit : Section::other);
      continue;
    }
    const auto eq = line.find('=');
    if (in == Section::other || eq == std::string_view::npos) continue;
    const std::string_view key = trimmed(line.substr(0, eq));
    const std::string value(trimmed(line.substr(eq + 1)));
    if (in == Section::unit) take_key(codes, key, value);
    else if (key == "Network" && codes.network.empty()) codes.network = value;
  }
}

}  // namespace

UnitCodes parse_seed_settings(std::string_view text, uint32_t unit) {
  UnitCodes codes;
  read_sections(text, unit, codes);
  const seis::StationSettings pku = seis::parse_pku_ini(text, unit);
  codes.pku_station = pku.station_value;
  codes.axis = pku.comp;
  return codes;
}

namespace {

bool fits(const std::string& code, std::size_t least, std::size_t most) {
  return code.size() >= least && code.size() <= most &&
         std::all_of(code.begin(), code.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

std::optional<std::string> unless_fits(const std::string& key, const std::string& code, std::size_t least,
                                       std::size_t most) {
  if (fits(code, least, most)) return std::nullopt;
  return key + "=" + code;
}

}  // namespace

std::optional<std::string> unusable_code(const UnitCodes& codes) {
  // Empty network and station codes mean "the default".
  if (auto bad = unless_fits("Network", codes.network, 0, 2)) return bad;
  if (auto bad = unless_fits("Station", codes.station.empty() ? codes.pku_station.substr(0, 5) : codes.station, 0, 5))
    return bad;
  if (auto bad = unless_fits("Location", codes.location, 0, 2)) return bad;
  for (const auto& [strm, location] : codes.stream_location)
    if (auto bad = unless_fits(format("Stream%uLocation", strm + 1), location, 0, 2)) return bad;
  for (const auto& [where, channel] : codes.channel_code)
    if (auto bad = unless_fits(format("Stream%uChannel%u", where.first + 1, where.second + 1), channel, 3, 3))
      return bad;
  return std::nullopt;
}

char band_code(double rate) {
  struct Band {
    double from;
    char letter;
  };
  // Each letter from its lower bound up; L about 1, V about 0.1, U about 0.01 samples a second.
  static constexpr Band kBands[] = {{1000, 'F'}, {250, 'C'}, {80, 'H'}, {10, 'B'}, {1.0001, 'M'},
                                    {0.3, 'L'},  {0.03, 'V'}};
  for (const Band& b : kBands)
    if (rate >= b.from) return b.letter;
  return 'U';
}

namespace {

char orientation(const std::string& axis, uint32_t chan) {
  // An axis letter no channel code can hold counts as none.
  if (chan < axis.size() && std::isalnum(static_cast<unsigned char>(axis[chan])))
    return static_cast<char>(std::toupper(static_cast<unsigned char>(axis[chan])));
  static constexpr std::string_view kDigitsThenLetters = "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  return chan < kDigitsThenLetters.size() ? kDigitsThenLetters[chan] : 'X';
}

std::string location(const UnitCodes& codes, uint32_t strm) {
  if (const auto it = codes.stream_location.find(strm); it != codes.stream_location.end()) return it->second;
  if (!codes.location.empty() || strm == 0) return codes.location;
  return format("%02u", (strm + 1) % 100);
}

}  // namespace

SeedId seed_id(const UnitCodes& codes, uint32_t unit, uint32_t strm, uint32_t chan, double rate) {
  SeedId id;
  id.network = codes.network.empty() ? "XX" : upper(codes.network.substr(0, 2));
  const std::string& station = !codes.station.empty() ? codes.station : codes.pku_station;
  id.station = station.empty() ? format("%04hX", static_cast<unsigned short>(unit)) : upper(station.substr(0, 5));
  id.location = upper(location(codes, strm).substr(0, 2));
  if (const auto it = codes.channel_code.find({strm, chan}); it != codes.channel_code.end()) {
    id.channel = upper(it->second.substr(0, 3));
  } else {
    id.channel = {band_code(rate), 'H', orientation(codes.axis, chan)};
  }
  return id;
}

}  // namespace pk::mseed
