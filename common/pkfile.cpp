#include "common/pkfile.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <unistd.h>

#include "common/digits.h"

namespace pk {

const int kMonthEnds[2][15] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365, 396, 424},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366, 397, 425}};

void unbcd(char* out, const uint8_t* in, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    out[2 * i] = static_cast<char>(0x30 + (in[i] >> 4));
    out[2 * i + 1] = static_cast<char>(0x30 + (in[i] & 0x0F));
  }
}

unsigned bcd2i(const uint8_t* in, std::size_t n) {
  uint16_t v = 0;
  for (std::size_t i = 0; i < n; ++i)
    v = static_cast<uint16_t>(v * 100 + (in[i] >> 4) * 10 + (in[i] & 0x0F));
  return v;
}

std::string secs_split(const uint8_t* t) {
  const uint32_t v = be_u32(t);
  const unsigned long year = (v >> 25) + 1984;
  const unsigned long s = v & 0x1FFFFFFu;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lu%03lu%02lu%02lu%02lu", year, s / 86400 + 1, (s / 3600) % 24,
                (s / 60) % 60, s % 60);
  return buf;
}

PacketType code_set(const uint8_t* p) {
  static constexpr char kCodes[] = "EHETDTSHSCDSCDOMADDRNHNT";
  for (int i = 0; i < 12; ++i)
    if (p[0] == static_cast<uint8_t>(kCodes[2 * i]) && p[1] == static_cast<uint8_t>(kCodes[2 * i + 1]))
      return static_cast<PacketType>(i + 1);
  return PacketType::unknown;
}

std::string hex_str(const uint8_t* in) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(68);
  for (int i = 0; i < 16; ++i) {
    if (i == 8) s += "- ";
    s += kHexDigits[in[i] >> 4];
    s += kHexDigits[in[i] & 0x0F];
    s += ' ';
  }
  s += "  ";
  for (int i = 0; i < 16; ++i) s += (in[i] < 0x20 || in[i] > 0x7E) ? '.' : static_cast<char>(in[i]);
  return s;
}

int isleap(int year, int gregorian) {
  if (year < 0) ++year;
  if (gregorian == 1) return ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0) ? 1 : 0;
  return year % 4 == 0 ? 1 : 0;
}

void mnday(int jday, int leap, int& month, int& day) {
  const int* row = kMonthEnds[leap ? 1 : 0];
  int m = 1;
  while (m < 14 && jday > row[m]) ++m;
  month = m;
  day = jday - row[m - 1];
}

long scan_int(std::string_view s, std::size_t off, std::size_t width) {
  std::size_t i = off;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r' || s[i] == '\v' || s[i] == '\f')) ++i;
  const std::size_t end = std::min(s.size(), i + width);
  long v = 0;
  bool neg = false;
  if (i < end && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  for (; i < end && s[i] >= '0' && s[i] <= '9'; ++i) v = v * 10 + (s[i] - '0');
  return neg ? -v : v;
}

namespace {

bool usual_field(long v) { return v >= 0 && v < 1000000; }

// "%04lu%03ld%02lu%02lu%02lu%03lu" (at most 95 characters): every packet moves a channel's
// time on, so the usual case is put together digit by digit, without parsing a format.
std::string time_text(long year, long day, long hour, long min, long sec, long ms) {
  char buf[96];
  const bool usual = usual_field(year) && usual_field(day) && usual_field(hour) && usual_field(min) &&
                     usual_field(sec) && usual_field(ms);
  if (!usual) {
    std::snprintf(buf, sizeof buf, "%04lu%03ld%02lu%02lu%02lu%03lu", static_cast<unsigned long>(year), day,
                  static_cast<unsigned long>(hour), static_cast<unsigned long>(min), static_cast<unsigned long>(sec),
                  static_cast<unsigned long>(ms));
    return buf;
  }
  char* p = put_padded(buf, static_cast<unsigned long>(year), 4);
  p = put_padded(p, static_cast<unsigned long>(day), 3);
  p = put_padded(p, static_cast<unsigned long>(hour), 2);
  p = put_padded(p, static_cast<unsigned long>(min), 2);
  p = put_padded(p, static_cast<unsigned long>(sec), 2);
  p = put_padded(p, static_cast<unsigned long>(ms), 3);
  return std::string(buf, p);
}

}  // namespace

void add_str_tim(std::string& time, float rate, const uint8_t* nsamp_bcd) {
  long year = scan_int(time, 0, 4), day = scan_int(time, 4, 3), hour = scan_int(time, 7, 2);
  long min = scan_int(time, 9, 2), sec = scan_int(time, 11, 2), ms = scan_int(time, 13, 3);
  const unsigned nsamp = bcd2i(nsamp_bcd, 2);
  if (rate != 0.0f) {
    const double span = static_cast<double>(nsamp) * 1000.0 / static_cast<double>(rate) + static_cast<double>(ms);
    ms = (std::isfinite(span) && std::fabs(span) < 1e15) ? static_cast<long>(span) : 0;
  }
  if (ms >= 1000) { sec += ms / 1000; ms %= 1000; }
  if (sec >= 60) { min += sec / 60; sec %= 60; }
  if (min >= 60) { hour += min / 60; min %= 60; }
  if (hour >= 24) { day += hour / 24; hour %= 24; }
  for (;;) {
    const long len = (year % 4 == 0) ? 366 : 365;
    if (day <= len) break;
    day -= len;
    ++year;
  }
  time = time_text(year, day, hour, min, sec, ms);
}

std::FILE* fopen_pk(const std::string& name, const char* mode) {
  const auto start = std::chrono::system_clock::now();
  for (;;) {
    if (std::FILE* f = std::fopen(name.c_str(), mode)) return f;
    if (std::chrono::system_clock::now() - start >= std::chrono::seconds(5)) return nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

int fexist(const std::string& name) { return ::access(name.c_str(), F_OK) == 0 ? 1 : 0; }

std::string header_time_string(const uint8_t* pkt) {
  char digits[14];
  unbcd(digits, pkt + pack_head_strc::year, 1);
  unbcd(digits + 2, pkt + pack_head_strc::time, 6);
  std::string s = bcd2i(pkt + pack_head_strc::year, 1) > 84 ? "19" : "20";
  s.append(digits, 14);
  return s;
}

}  // namespace pk
