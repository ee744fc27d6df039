#include "seisan/seis_header.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace pk::seis {

namespace {

// Leading decimal digits of s[off, off+width); characters past the end count as absent.
int digits_at(std::string_view s, std::size_t off, std::size_t width) {
  int v = 0;
  for (std::size_t i = off; i < off + width && i < s.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) break;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

// v right-aligned in `width` characters, filled with `fill` ('0' or ' ').
std::string num_text(long v, int width, char fill) {
  std::string s = std::to_string(v);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<std::size_t>(width) - s.size(), fill);
  return s;
}

int64_t pow10(int n) {
  int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// A value rounded to a number of significant digits: mant x 10^exp.
struct SigDecimal {
  bool neg = false;
  int64_t mant = 0;
  int exp = 0;
};

std::optional<SigDecimal> round_sig(double v, int sig) {
  if (!std::isfinite(v)) return std::nullopt;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", sig - 1, std::fabs(v));
  SigDecimal d;
  d.neg = v < 0;
  const char* p = buf;
  for (; *p != '\0' && *p != 'e'; ++p) {
    if (std::isdigit(static_cast<unsigned char>(*p))) d.mant = d.mant * 10 + (*p - '0');
  }
  if (*p != 'e') return std::nullopt;
  d.exp = std::atoi(p + 1) - (sig - 1);
  return d;
}

// |value| in units of 10^-decimals.
std::optional<int64_t> to_units(const SigDecimal& d, int decimals, Decimals mode) {
  const int scale = d.exp + decimals;
  if (scale >= 0) {
    if (scale > 9) return std::nullopt;  // far wider than any header field
    return d.mant * pow10(scale);
  }
  if (-scale > 18) return 0;
  const int64_t div = pow10(-scale);
  const int64_t half = mode == Decimals::round ? div / 2 : 0;
  return (d.mant + half) / div;
}

}  // namespace

time_tag seis_time(std::string_view t) {
  time_tag tt;
  tt.year = static_cast<int16_t>(digits_at(t, 0, 4));
  tt.jday = static_cast<int16_t>(digits_at(t, 4, 3));
  tt.hour = static_cast<int16_t>(digits_at(t, 7, 2));
  tt.min = static_cast<int16_t>(digits_at(t, 9, 2));
  tt.sec = static_cast<int16_t>(digits_at(t, 11, 2));
  tt.msec = static_cast<int16_t>(digits_at(t, 13, 3));
  int month = 0, day = 0;
  mnday(tt.jday, isleap(tt.year, 1), month, day);
  tt.month = static_cast<int16_t>(month);
  tt.day = static_cast<int16_t>(day);
  return tt;
}

std::string blank_file_header() {
  std::string hd(kFileHeaderSize, ' ');
  hd[0] = kFileStart;
  return hd;
}

std::string blank_channel_header() { return std::string(kChanHeaderSize, ' '); }

void put_text(std::string& buf, std::size_t off, std::size_t width, std::string_view text) {
  for (std::size_t i = 0; i < width; ++i) buf.at(off + i) = i < text.size() ? text[i] : ' ';
}

bool put_right(std::string& buf, std::size_t off, std::size_t width, uint64_t value) {
  const std::string digits = std::to_string(value);
  if (digits.size() > width) {
    put_text(buf, off, width, "");
    return false;
  }
  put_text(buf, off, width, std::string(width - digits.size(), ' ') + digits);
  return true;
}

std::optional<std::string> fixed_text(double value, int sig, int int_width, int decimals, Decimals mode) {
  const auto d = round_sig(value, sig);
  if (!d) return std::nullopt;
  const auto units = to_units(*d, decimals, mode);
  if (!units) return std::nullopt;
  const int64_t scale = pow10(decimals);
  std::string int_part = std::to_string(*units / scale);
  if (d->neg && *units != 0) int_part = std::string(1, '-') + int_part;
  if (static_cast<int>(int_part.size()) > int_width) return std::nullopt;
  std::string text = std::string(static_cast<std::size_t>(int_width) - int_part.size(), ' ') + int_part;
  if (decimals > 0) {
    text += '.';
    text += num_text(static_cast<long>(*units % scale), decimals, '0');
  }
  return text;
}

std::string rate_text(double rate) {
  constexpr std::size_t kWidth = 7;
  std::string text(kWidth, ' ');
  if (!(rate > 0.0)) return text;
  if (rate < 1.0) {
    // Two decimals; a rate that would read as 0.00 takes all seven columns instead
    // (readers take the point where it stands), and only one below that is left out.
    auto fixed = fixed_text(rate, 7, 4, 2, Decimals::truncate);
    if (fixed == "   0.00") fixed = fixed_text(rate, 7, 1, 5, Decimals::truncate);
    if (fixed && *fixed != "0.00000") put_text(text, 0, kWidth, *fixed);
    return text;
  }
  const auto d = round_sig(rate, 7);
  const auto whole = d ? to_units(*d, 0, Decimals::truncate) : std::nullopt;
  if (!whole) return text;
  const int int_digits = static_cast<int>(std::to_string(*whole).size());
  const auto fixed = fixed_text(rate, 7, 4, std::min(int_digits, 2), Decimals::truncate);
  if (fixed) put_text(text, 0, kWidth, *fixed);
  return text;
}

std::string station_code(std::string_view station, uint32_t unit) {
  if (!station.empty()) return std::string(station.substr(0, 4));
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04hX", static_cast<unsigned short>(unit));
  return buf;
}

std::string network_text(std::string_view network) {
  if (network.empty()) return std::string(kDefaultNetwork);
  if (network.back() == '\r') network.remove_suffix(1);
  return std::string(network);
}

char number_char(uint32_t n) {
  if (n > static_cast<uint32_t>('~' - '0')) return '?';
  return static_cast<char>('0' + n);
}

char channel_char(uint32_t n) {
  if (n < 10) return number_char(n);
  if (n - 10 > static_cast<uint32_t>('Z' - 'A')) return '?';
  return static_cast<char>('A' + (n - 10));
}

char component_letter(std::string_view ini_comp, uint32_t chan) {
  const bool ini_in_use = !ini_comp.empty() && ini_comp[0] != '\0';
  if (ini_in_use && chan < ini_comp.size() && ini_comp[chan] != '\0') return ini_comp[chan];
  return kComponentLetters[chan % kComponentLetters.size()];
}

std::string component(uint32_t strm, uint32_t chan, std::string_view ini_comp) {
  return {number_char(strm + 1), channel_char(chan + 1), component_letter(ini_comp, chan), ' '};
}

char century_digit(int year) {
  if (year < 2000) return ' ';
  return static_cast<char>('1' + (year / 100) % 10);
}

void fill_file_line1(std::string& hd, std::string_view network, const time_tag& t) {
  put_text(hd, file_col(1, 2), 29, network);
  hd.at(file_col(1, 34)) = century_digit(t.year);
  put_text(hd, file_col(1, 35), 2, num_text(t.year % 100, 2, '0'));
  put_text(hd, file_col(1, 38), 3, num_text(t.jday, 3, '0'));
  put_text(hd, file_col(1, 42), 2, num_text(t.month, 2, ' '));
  put_text(hd, file_col(1, 45), 2, num_text(t.day, 2, ' '));
  put_text(hd, file_col(1, 48), 2, num_text(t.hour, 2, ' '));
  put_text(hd, file_col(1, 51), 2, num_text(t.min, 2, ' '));
  put_text(hd, file_col(1, 54), 6, num_text(t.sec, 2, ' ') + "." + num_text(t.msec, 3, '0'));
}

bool set_channel_count(std::string& hd, uint64_t count) { return put_right(hd, file_col(1, 31), 3, count); }

void set_total_time(std::string& hd, double seconds) {
  put_text(hd, file_col(1, 61), 9, fixed_text(seconds, 9, 5, 3, Decimals::truncate).value_or(""));
}

std::string channel_entry(std::string_view station, std::string_view comp, double offset_s,
                          std::optional<double> length_s) {
  std::string e(kEntryCols, ' ');
  put_text(e, 1, 4, station);
  put_text(e, 5, 4, comp);
  put_text(e, 10, 7, fixed_text(offset_s, 7, 4, 2, Decimals::round).value_or(""));
  if (length_s) put_text(e, 18, 8, fixed_text(*length_s, 8, 5, 2, Decimals::round).value_or(""));
  return e;
}

void widen_file_header(std::string& hd, std::size_t channels) {
  const std::size_t size = file_col(file_lines(channels) + 1, 1);
  if (hd.size() < size) hd.resize(size, ' ');
}

bool put_entry(std::string& hd, int index, std::string_view entry) {
  const int line = 3 + index / kEntriesPerLine;
  const int col = 1 + (index % kEntriesPerLine) * static_cast<int>(kEntryCols);
  if (index < 0 || file_col(line, col) + kEntryCols > hd.size()) return false;
  put_text(hd, file_col(line, col), kEntryCols, entry);
  return true;
}

void fill_channel_header(std::string& ch, std::string_view station, std::string_view comp, const time_tag& t) {
  put_text(ch, chan_col(1), 4, station);
  put_text(ch, chan_col(6), 4, comp);
  ch.at(chan_col(10)) = century_digit(t.year);
  put_text(ch, chan_col(11), 2, num_text(t.year % 100, 2, '0'));
  put_text(ch, chan_col(14), 3, num_text(t.jday, 3, '0'));
  put_text(ch, chan_col(18), 2, num_text(t.month, 2, ' '));
  put_text(ch, chan_col(21), 2, num_text(t.day, 2, ' '));
  put_text(ch, chan_col(24), 2, num_text(t.hour, 2, '0'));
  put_text(ch, chan_col(27), 2, num_text(t.min, 2, '0'));
  put_text(ch, chan_col(30), 6, num_text(t.sec, 2, '0') + "." + num_text(t.msec, 3, '0'));
  ch.at(chan_col(77)) = '4';  // samples are 4-byte integers
  ch.at(kChanHeadCols) = '9';
}

bool set_rate_and_count(std::string& ch, std::string_view rate, uint64_t count) {
  put_text(ch, chan_col(37), 7, rate);
  ch.at(chan_col(44)) = ' ';
  if (count > 999'999) return put_right(ch, chan_col(44), 7, count);
  return put_right(ch, chan_col(45), 6, count);
}

}  // namespace pk::seis
