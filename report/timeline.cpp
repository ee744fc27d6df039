#include "report/timeline.h"

#include <algorithm>
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

auto row_key(const Trace& t) { return std::tie(t.unit, t.stream, t.channel); }

// Spans come by start: one that reaches the last is merged into it.
void add_span(std::vector<Span>& spans, int64_t from, int64_t to) {
  if (!spans.empty() && from <= spans.back().to_us) spans.back().to_us = std::max(spans.back().to_us, to);
  else spans.push_back({from, to});
}

}  // namespace

std::string TimelineRow::label() const {
  std::string text = unit.empty() ? "(no unit)" : unit;
  if (!stream.empty()) text += " stream " + stream;
  if (!channel.empty()) text += (is_number(channel) ? " channel " : " ") + channel;
  return text;
}

bool trace_order(const Trace& a, const Trace& b) {
  if (a.unit != b.unit) return a.unit < b.unit;
  if (a.stream != b.stream) return channel_key(a.stream) < channel_key(b.stream);
  if (a.channel != b.channel) return channel_key(a.channel) < channel_key(b.channel);
  return std::tie(a.start_us, a.file) < std::tie(b.start_us, b.file);
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

std::vector<Overlap> find_overlaps(const std::vector<Trace*>& by_start) {
  std::vector<Overlap> spans;
  std::vector<Trace*> open;  // traces whose last sample may still meet a later start
  for (Trace* t : by_start) {
    const std::optional<int64_t> end = end_us(*t);
    if (!end) continue;
    std::erase_if(open, [&](const Trace* o) {
      return static_cast<double>(t->start_us) >= static_cast<double>(*end_us(*o)) + interval_us(*o) / 2;
    });
    for (Trace* o : open) {
      if (o->format != t->format) continue;
      ++o->overlaps;
      ++t->overlaps;
      add_span(spans, t->start_us, std::min(*end, *end_us(*o)));
    }
    open.push_back(t);
  }
  return spans;
}

std::vector<TimelineRow> timeline_rows(std::vector<Trace>& traces) {
  std::vector<TimelineRow> rows;
  std::vector<std::vector<Trace*>> members;
  for (std::size_t i = 0; i < traces.size(); ++i) {
    if (i == 0 || row_key(traces[i]) != row_key(traces[i - 1])) {
      rows.push_back({traces[i].unit, traces[i].stream, traces[i].channel, {}, {}, {}});
      members.emplace_back();
    }
    rows.back().traces.push_back(&traces[i]);
    members.back().push_back(&traces[i]);
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    rows[r].gaps = find_gaps(rows[r].traces);
    rows[r].overlaps = find_overlaps(members[r]);
  }
  return rows;
}

}  // namespace report
