#include "report/seisan_reader.h"

#include <charconv>
#include <cmath>
#include <string>

#include "report/civil_time.h"
#include "report/sei_records.h"
#include "seisan/seis_header.h"

namespace report {

namespace {

using pk::seis::kChanHeaderSize, pk::seis::kLineCols;
constexpr std::size_t kSampleBytes = 4;

// Columns first..last (counted from 1) of a header, without surrounding blanks.
std::string_view cols(std::string_view h, std::size_t first, std::size_t last) {
  std::string_view f = h.substr(first - 1, last - first + 1);
  const std::size_t from = f.find_first_not_of(' ');
  if (from == std::string_view::npos) return {};
  return f.substr(from, f.find_last_not_of(' ') - from + 1);
}

template <class T>
std::optional<T> number_in(std::string_view text) {
  T v{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

// Column 10 holds the century: blank for the 1900s, '1' for the 2000s.
std::optional<int> year_of(std::string_view h) {
  const std::optional<int> yy = number_in<int>(cols(h, 11, 12));
  const char century = h[9];
  if (!yy || (century != ' ' && (century < '0' || century > '9'))) return std::nullopt;
  return 1900 + (century == ' ' ? 0 : 100 * (century - '0')) + *yy;
}

std::optional<int64_t> start_of(std::string_view h) {
  const std::optional<int> year = year_of(h), jday = number_in<int>(cols(h, 14, 16)),
                           hour = number_in<int>(cols(h, 24, 25)), minute = number_in<int>(cols(h, 27, 28));
  const std::optional<double> sec = number_in<double>(cols(h, 30, 35));
  if (!year || !jday || !hour || !minute || !sec || *sec < 0 || *sec >= 61) return std::nullopt;
  const int whole = static_cast<int>(*sec);
  return epoch_us({*year, *jday, *hour, *minute, whole, std::llround((*sec - whole) * 1e6)});
}

struct ChannelHeader {
  Trace trace;
  std::optional<uint64_t> count;  // blank when it needs more than seven digits
};

std::optional<ChannelHeader> channel_header(std::string_view h, std::string& error) {
  const std::optional<int64_t> start = start_of(h);
  // A count of a million or more takes column 44 too.
  const std::string_view rate = cols(h, 37, 43), count = cols(h, 44, 50);
  const std::optional<double> r = number_in<double>(rate);
  const std::optional<uint64_t> n = number_in<uint64_t>(count);
  if (!start || (!rate.empty() && !r) || (!count.empty() && !n)) {
    error = "channel header of " + std::string(cols(h, 1, 9)) + " without a readable time, rate or count";
    return std::nullopt;
  }
  ChannelHeader c;
  c.trace.format = Format::seisan;
  c.trace.unit = cols(h, 1, 4);
  // Columns 6 to 8: stream digit, channel digit, component letter.
  c.trace.stream = cols(h, 6, 6);
  c.trace.channel = cols(h, 7, 7);
  c.trace.start_us = *start;
  c.trace.rate = r.value_or(0);
  c.count = n;
  return c;
}

}  // namespace

FileTraces read_seisan(InputFile& file) {
  FileTraces out;
  std::optional<SeiRecords> records = SeiRecords::open(file, out.error);
  // Twelve header lines, or one per three channels of a wider event (line 1 counts them).
  const std::optional<std::string> line1 = records ? records->read(kLineCols, out.error) : std::nullopt;
  if (!line1) records.reset();
  const int lines = line1 ? pk::seis::file_lines(number_in<std::size_t>(cols(*line1, 31, 33)).value_or(0)) : 0;
  for (int i = 1; records && i < lines; ++i)
    if (!records->read(kLineCols, out.error)) records.reset();
  while (records && !records->at_end()) {
    const std::optional<std::string> h = records->read(kChanHeaderSize, out.error);
    std::optional<ChannelHeader> c = h ? channel_header(*h, out.error) : std::nullopt;
    const std::optional<uint64_t> bytes =
        c ? records->skip(c->count ? std::optional<uint64_t>(*c->count * kSampleBytes) : std::nullopt, out.error)
          : std::nullopt;
    if (!bytes) break;
    c->trace.samples = *bytes / kSampleBytes;
    out.traces.push_back(std::move(c->trace));
  }
  if (!out.error.empty()) out.traces.clear();
  return out;
}

}  // namespace report
