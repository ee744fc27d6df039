#include "segy/shot_points.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "segy/segy_header.h"

namespace pk::segy {

namespace {

bool is_blank_char(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads a leading integer as "%hd" / "%hX" would: leading blanks skipped, the value kept
// to 16 bits.
std::optional<uint16_t> read_u16(std::string_view s, int base) {
  const std::string text(s);
  const char* begin = text.c_str();
  char* end = nullptr;
  const long v = std::strtol(begin, &end, base);
  if (end == begin) return std::nullopt;
  return static_cast<uint16_t>(static_cast<unsigned long>(v) & 0xFFFFu);
}

// Splits off the next run of non-blank characters, as strtok with blanks would.
std::string_view next_word(std::string_view& rest) {
  std::size_t b = 0;
  while (b < rest.size() && is_blank_char(rest[b])) ++b;
  std::size_t e = b;
  while (e < rest.size() && !is_blank_char(rest[e])) ++e;
  const std::string_view word = rest.substr(b, e - b);
  rest = rest.substr(std::min(rest.size(), e + 1));
  return word;
}

std::optional<sp_value_strc> parse_line(std::string_view line, uint16_t unit) {
  if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) return std::nullopt;
  std::string_view rest = line;
  const auto sp = read_u16(next_word(rest), 10);
  const auto id = read_u16(next_word(rest), 16);
  next_word(rest);  // a further number the list carries but nothing uses
  if (!sp || !id || *id != unit) return std::nullopt;

  uint16_t parts[5] = {};
  for (auto& part : parts) {
    const std::size_t colon = rest.find(':');
    const auto v = read_u16(rest.substr(0, colon), 10);
    if (!v) return std::nullopt;
    part = *v;
    rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
  }
  sp_value_strc entry;
  entry.sp = *sp;
  entry.sp_time.year = static_cast<int16_t>(parts[0]);
  entry.sp_time.day = static_cast<int16_t>(parts[1]);
  entry.sp_time.hour = static_cast<int16_t>(parts[2]);
  entry.sp_time.min = static_cast<int16_t>(parts[3]);
  entry.sp_time.sec = static_cast<int16_t>(parts[4]);
  return entry;
}

sp_value_strc closing_entry() {
  sp_value_strc e;
  e.sp_time.year = 9999;
  e.sp_time.day = 999;
  e.sp_time.hour = e.sp_time.min = e.sp_time.sec = 99;
  return e;
}

}  // namespace

double convert_time_to_year(const time_tag& t) {
  const double days_in_year = t.year % 4 == 0 ? 366.0 : 365.0;
  const double day = t.day + (t.hour + (t.min + t.sec / 60.0) / 60.0) / 24.0;
  return t.year + day / days_in_year;
}

std::vector<sp_value_strc> parse_shot_points(std::string_view text, uint16_t unit) {
  std::vector<sp_value_strc> out;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    if (auto entry = parse_line(line, unit)) out.push_back(*entry);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
  }
  return out;
}

std::vector<sp_value_strc> shot_point_list(std::string_view text, uint16_t unit) {
  std::vector<sp_value_strc> list{sp_value_strc{}};
  const auto listed = parse_shot_points(text, unit);
  list.insert(list.end(), listed.begin(), listed.end());
  list.push_back(closing_entry());
  std::stable_sort(list.begin(), list.end(), [](const sp_value_strc& a, const sp_value_strc& b) {
    return convert_time_to_year(a.sp_time) < convert_time_to_year(b.sp_time);
  });
  return list;
}

std::optional<uint16_t> find_shot_point(const std::vector<sp_value_strc>& list, const time_tag& event_time) {
  const double event = convert_time_to_year(event_time);
  for (std::size_t i = 1; i + 1 < list.size(); ++i) {
    if (convert_time_to_year(list[i].sp_time) < event && !(convert_time_to_year(list[i + 1].sp_time) < event))
      return list[i].sp;
  }
  return std::nullopt;
}

time_tag shot_time_of(std::string_view time16) {
  const StartTime s = parse_start_time(time16);
  time_tag t;
  t.year = static_cast<int16_t>(s.year);
  t.day = static_cast<int16_t>(s.day);
  t.hour = static_cast<int16_t>(s.hour);
  t.min = static_cast<int16_t>(s.min);
  t.sec = static_cast<int16_t>(s.sec);
  return t;
}

}  // namespace pk::segy
