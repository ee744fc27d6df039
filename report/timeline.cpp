#include "timeline.h"

#include <tuple>

namespace report {

namespace {

constexpr double kGapIntervals = 2.0;

auto row_key(const Trace& t) { return std::tie(t.format, t.station, t.stream, t.channel, t.component); }

std::string row_label(const Trace& t) {
  std::string label = std::string(format_name(t.format)) + " " + t.station;
  const std::string where = t.stream.empty() || t.channel.empty() ? t.stream + t.channel : t.stream + "." + t.channel;
  for (const std::string* part : {&where, &t.component})
    if (!part->empty()) label += " " + *part;
  return label;
}

}  // namespace

bool trace_order(const Trace& a, const Trace& b) {
  return std::tie(a.format, a.station, a.stream, a.channel, a.component, a.start_us, a.file) <
         std::tie(b.format, b.station, b.stream, b.channel, b.component, b.start_us, b.file);
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
    if (i == 0 || row_key(traces[i]) != row_key(traces[i - 1])) rows.push_back({row_label(traces[i]), {}, {}});
    rows.back().traces.push_back(&traces[i]);
  }
  for (TimelineRow& row : rows) row.gaps = find_gaps(row.traces);
  return rows;
}

}  // namespace report
