#include "timeline.h"

#include <tuple>

namespace report {

namespace {

constexpr double kGapIntervals = 2.0;

bool is_number(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Numbers (without leading zeros, as the programs write them) by their value, and before
// names such as a SAC stream id.
std::tuple<bool, std::size_t, const std::string&> channel_key(const std::string& c) {
  const bool number = is_number(c);
  return {!number, number ? c.size() : 0, c};
}

auto row_key(const Trace& t) { return std::tie(t.unit, t.channel); }

}  // namespace

std::string TimelineRow::label() const {
  std::string text = unit.empty() ? "(no unit)" : unit;
  if (!channel.empty()) text += (is_number(channel) ? " channel " : " ") + channel;
  return text;
}

bool trace_order(const Trace& a, const Trace& b) {
  if (a.unit != b.unit) return a.unit < b.unit;
  if (a.channel != b.channel) return channel_key(a.channel) < channel_key(b.channel);
  return std::tie(a.start_us, a.file, a.stream) < std::tie(b.start_us, b.file, b.stream);
}

std::vector<Gap> find_gaps(const std::vector<const Trace*>& by_start) {
  std::vector<Gap> gaps;
  std::optional<int64_t> covered_to;
  for (const Trace* t : by_start) {
    const std::optional<int64_t> end = end_us(*t);
    if (!end) continue;
    if (covered_to && static_cast<double>(t->start_us - *covered_to) > kGapIntervals * interval_us(*t))
      gaps.push_back({*covered_to, t->start_us});
    covered_to = covered_to ? std::max(*covered_to, *end) : *end;
  }
  return gaps;
}

std::vector<TimelineRow> timeline_rows(const std::vector<Trace>& traces) {
  std::vector<TimelineRow> rows;
  for (std::size_t i = 0; i < traces.size(); ++i) {
    if (i == 0 || row_key(traces[i]) != row_key(traces[i - 1])) rows.push_back({traces[i].unit, traces[i].channel, {}, {}});
    rows.back().traces.push_back(&traces[i]);
  }
  for (TimelineRow& row : rows) row.gaps = find_gaps(row.traces);
  return rows;
}

}  // namespace report
