// SEISAN file and channel header records, built column by column in byte buffers.
// Columns are 1-based as in the SEISAN layout; helpers turn them into offsets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/pkfile.h"

namespace pk::seis {

inline constexpr std::size_t kLineCols = 80;
inline constexpr int kFileLines = 12;
inline constexpr std::size_t kFileHeaderSize = 1 + kFileLines * kLineCols;  // 'K' + 12 lines = 961
inline constexpr std::size_t kChanHeadCols = 160;
inline constexpr std::size_t kResponseSize = 880;
inline constexpr std::size_t kChanHeaderSize = kChanHeadCols + kResponseSize;  // 1040
inline constexpr int kEntriesPerLine = 3;
inline constexpr std::size_t kEntryCols = 26;
inline constexpr int kMaxEntries = (kFileLines - 2) * kEntriesPerLine;  // 30 in the twelve lines
// The most samples a channel header's count holds (columns 44 to 50).
inline constexpr uint64_t kMaxChannelSamples = 9'999'999;

inline constexpr char kFileStart = 'K';
inline constexpr std::string_view kDefaultNetwork = "PELKAN NETWORK";
// Built-in component letters by channel number.
inline constexpr std::string_view kComponentLetters = "ZNEZNE";
inline constexpr std::size_t kIniChannels = 16;

inline constexpr const char* kStationRangeMsg = "\n Out of store range for number of stations in file header";
inline constexpr const char* kSampleRangeMsg = "\n Out of store range for SEISAN sample count in channel header";

// Offset in the file header buffer of column `col` of line `line`.
constexpr std::size_t file_col(int line, int col) {
  return 1 + static_cast<std::size_t>(line - 1) * kLineCols + static_cast<std::size_t>(col - 1);
}
// Offset in the channel header buffer of column `col`.
constexpr std::size_t chan_col(int col) { return static_cast<std::size_t>(col - 1); }

// Broken-down time of a "YYYYDDDHHMMSSmmm" string; month and day from the day of year.
time_tag seis_time(std::string_view time16);

// 'K' followed by twelve blank lines.
std::string blank_file_header();
// Blank 160-column channel header and blank response block.
std::string blank_channel_header();

// ---- field writers ----
// Left-aligned, cut to `width`, padded with spaces.
void put_text(std::string& buf, std::size_t off, std::size_t width, std::string_view text);
// Right-aligned decimal; a value needing more than `width` digits leaves the field blank
// and returns false.
bool put_right(std::string& buf, std::size_t off, std::size_t width, uint64_t value);

enum class Decimals { truncate, round };
// `value` rounded to `sig` significant digits, then written with `decimals` decimals and an
// integer part of at most `int_width` characters (sign included). Nothing when it does not
// fit or is not finite.
std::optional<std::string> fixed_text(double value, int sig, int int_width, int decimals, Decimals mode);
// Sample rate for columns 37-43: integer part in 4 columns, '.', as many decimals as the
// integer part has digits (at most two); below 1 "0.dd". Blank when it does not fit.
std::string rate_text(double rate);

// ---- identity texts ----
std::string station_code(std::string_view station, uint32_t unit);
std::string network_text(std::string_view network);
// Digit for 1-based stream/channel numbers; past '9' it goes on through the ASCII table as
// the settings file's channel keys do, and '?' where that would leave printable text.
char number_char(uint32_t n);
// A 1-based channel number in the component code: 1 to 9 as digits, from 10 on 'A', 'B' ...
// as the log writes channel numbers; '?' past 'Z'.
char channel_char(uint32_t n);
// Letter of channel `chan`: from the settings file's letters when they are in use and the
// channel has one, else from the built-in letters repeated.
char component_letter(std::string_view ini_comp, uint32_t chan);
// Stream digit, channel digit, letter, space.
std::string component(uint32_t strm, uint32_t chan, std::string_view ini_comp);
// Column 34 of line 1 and column 10 of a channel header: blank before 2000.
char century_digit(int year);

// ---- file header ----
// Line 1 except the channel count and the total time.
void fill_file_line1(std::string& hd, std::string_view network, const time_tag& t);
bool set_channel_count(std::string& hd, uint64_t count);
void set_total_time(std::string& hd, double seconds);
// 26 columns: station, component, start offset (F7.2), data length (F8.2; blank when unknown).
std::string channel_entry(std::string_view station, std::string_view comp, double offset_s,
                          std::optional<double> length_s);
// Lines of a file header for `channels` channels: two, then one per three channels, at
// least ten.
inline int file_lines(std::size_t channels) {
  const std::size_t entry_lines = (channels + kEntriesPerLine - 1) / kEntriesPerLine;
  return 2 + static_cast<int>(std::max<std::size_t>(entry_lines, kFileLines - 2));
}
// Adds blank lines to the twelve of `hd` until they hold `channels` entries.
void widen_file_header(std::string& hd, std::size_t channels);
// Entries go three to a line from line 3; returns false for an index past the header's lines.
bool put_entry(std::string& hd, int index, std::string_view entry);

// ---- channel header ----
// Everything but the sample rate and count.
void fill_channel_header(std::string& ch, std::string_view station, std::string_view comp, const time_tag& t);
// Rate in columns 37-43, a blank in 44, the count in 45-50; a count of a million or more
// takes column 44 too. False when the count is too wide for that.
bool set_rate_and_count(std::string& ch, std::string_view rate, uint64_t count);

}  // namespace pk::seis
