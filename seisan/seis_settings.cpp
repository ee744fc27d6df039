#include "seisan/seis_settings.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <vector>

#include "convert/failure.h"
#include "convert/helpers.h"
#include "convert/lists.h"
#include "convert/run.h"
#include "seisan/seis_header.h"

namespace pk::seis {

namespace {

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto lf = text.find('\n');
    lines.push_back(text.substr(0, lf));
    if (lf == std::string_view::npos) break;
    text.remove_prefix(lf + 1);
  }
  return lines;
}

struct KeyValue {
  std::string_view key, value;
};

// Key and value either side of the first '='.
std::optional<KeyValue> split_key(std::string_view line) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return KeyValue{line.substr(0, eq), line.substr(eq + 1)};
}

std::string_view without_cr(std::string_view s) {
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  return s;
}

std::string section_line(uint32_t unit) { return format("[%04hX]", static_cast<unsigned short>(unit)); }

bool begins_blank(std::string_view line) {
  return line.empty() || std::isspace(static_cast<unsigned char>(line[0]));
}

void read_station(std::string_view line, StationSettings& s) {
  const auto kv = split_key(line);
  if (!kv || !kv->key.starts_with("Station")) return;
  s.station_value = std::string(without_cr(kv->value));
  s.station = s.station_value.substr(0, 4);
}

void read_network(std::string_view line, StationSettings& s) {
  const auto kv = split_key(line);
  if (kv && kv->key.starts_with("Network")) s.network = std::string(kv->value);
}

void read_component(std::string_view line, StationSettings& s) {
  const auto kv = split_key(line);
  if (!kv || kv->key.size() < 7 || kv->key.substr(3, 4) != "Axis") return;
  const int n = kv->key[2] - '0';
  if (n < 1 || n > static_cast<int>(kIniChannels)) return;
  const auto value = without_cr(kv->value);
  if (value.empty()) return;
  s.comp[static_cast<std::size_t>(n - 1)] = value[0];
}

}  // namespace

StationSettings parse_pku_ini(std::string_view text, uint32_t unit) {
  StationSettings s;
  s.comp.assign(kIniChannels, '\0');
  const auto lines = split_lines(text);
  const std::string section = section_line(unit);
  bool first_section = true;
  std::size_t i = 0;
  auto next = [&]() -> std::optional<std::string_view> {
    if (i >= lines.size()) return std::nullopt;
    return lines[i++];
  };
  while (const auto line = next()) {
    if (begins_blank(*line) || !line->starts_with(section)) continue;
    if (first_section) {
      first_section = false;
      if (const auto l = next()) read_station(*l, s);
      if (const auto l = next()) read_network(*l, s);
    }
    if (const auto l = next()) read_component(*l, s);
  }
  return s;
}

void load_station_settings(const SettingsFile& settings, UnitNode& unit) {
  unit.Station_name.clear();
  unit.Network_name.clear();
  unit.Ini_comp.clear();
  if (!settings.exists) return;
  // There, but a directory or not readable.
  if (!settings.text) shut_down(ExitCode::open_error, settings.path);
  StationSettings s = parse_pku_ini(*settings.text, unit.Unit_num);
  unit.Station_name = std::move(s.station);
  unit.Network_name = std::move(s.network);
  unit.Ini_comp = std::move(s.comp);
}

}  // namespace pk::seis
