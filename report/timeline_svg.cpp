#include <algorithm>
#include <limits>

#include "report/civil_time.h"
#include "report/html_writer.h"
#include "report/markup.h"

namespace report {

namespace {

constexpr int kLabelWidth = 250, kPlotWidth = 900, kRight = 70, kAxisHeight = 26, kRowHeight = 16, kBar = 10;
constexpr int64_t kSecond = 1'000'000;

struct Plot {
  int64_t from, to;
  double x(int64_t t) const {
    return kLabelWidth + static_cast<double>(t - from) * kPlotWidth / static_cast<double>(to - from);
  }
};

Plot span_of(const std::vector<Trace>& traces) {
  Plot s{std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()};
  for (const Trace& t : traces) {
    s.from = std::min(s.from, t.start_us);
    s.to = std::max(s.to, end_us(t).value_or(t.start_us));
  }
  if (traces.empty()) s = {0, 0};
  s.to = std::max(s.to, s.from + kSecond);
  return s;
}

// A round step that gives at most eight ticks.
int64_t tick_step(const Plot& s) {
  static constexpr int64_t kSteps[] = {1,    2,     5,     10,    15,     30,     60,      120,      300,
                                       600,  900,   1800,  3600,  7200,   10800,  21600,   43200,    86400,
                                       172800, 432000, 604800, 1209600, 2592000, 7776000, 15552000, 31536000};
  for (const int64_t step : kSteps)
    if ((s.to - s.from) / (step * kSecond) <= 8) return step * kSecond;
  return (s.to - s.from) / 8;
}

void write_axis(std::ostream& out, const Plot& s, int height) {
  const int64_t step = tick_step(s);
  out << "<g class=\"axis\">\n";
  for (int64_t t = (s.from / step + (s.from % step > 0)) * step; t <= s.to; t += step) {
    const double x = s.x(t);
    out << "<line x1=\"" << x << "\" y1=\"" << kAxisHeight - 6 << "\" x2=\"" << x << "\" y2=\"" << height
        << "\"/><text x=\"" << x << "\" y=\"" << kAxisHeight - 10 << "\">" << escape(axis_label(t, step))
        << "</text>\n";
  }
  out << "</g>\n";
}

void write_bar(std::ostream& out, const Plot& s, const char* cls, int64_t from, int64_t to, const std::string& tip) {
  const double x = s.x(from), width = std::max(1.0, s.x(to) - x);
  out << "<rect class=\"" << cls << "\" x=\"" << x << "\" y=\"" << (kRowHeight - kBar) / 2 << "\" width=\"" << width
      << "\" height=\"" << kBar << "\"><title>" << escape(tip) << "</title></rect>\n";
}

int row_top(std::size_t index) { return kAxisHeight + static_cast<int>(index) * kRowHeight; }

// Every other row on a light band, under the axis lines.
void write_bands(std::ostream& out, std::size_t rows) {
  for (std::size_t i = 1; i < rows; i += 2)
    out << "<rect class=\"band\" x=\"0\" y=\"" << row_top(i) << "\" width=\"" << kLabelWidth + kPlotWidth
        << "\" height=\"" << kRowHeight << "\"/>\n";
}

void write_row(std::ostream& out, const Plot& s, const TimelineRow& row, std::size_t index) {
  out << "<g class=\"row\" transform=\"translate(0," << row_top(index) << ")\">\n";
  out << "<text x=\"4\" y=\"" << kRowHeight - 4 << "\">" << escape(row.label()) << "</text>\n";
  for (const Trace* t : row.traces) {
    const std::optional<int64_t> end = end_us(*t);
    if (end) write_bar(out, s, "data", t->start_us, *end, t->file + ": " + iso_time(t->start_us) + " to " + iso_time(*end));
    else write_bar(out, s, "empty", t->start_us, t->start_us, t->file + ": no samples, " + iso_time(t->start_us));
  }
  for (const Gap& g : row.gaps)
    write_bar(out, s, "gap", g.from_us, g.to_us,
              "gap of " + duration_text(g.to_us - g.from_us) + ": " + iso_time(g.from_us) + " to " + iso_time(g.to_us));
  for (const Overlap& o : row.overlaps)
    write_bar(out, s, "overlap", o.from_us, o.to_us, "held twice: " + iso_time(o.from_us) + " to " + iso_time(o.to_us));
  out << "</g>\n";
}

}  // namespace

void write_timeline_svg(std::ostream& out, const Report& report) {
  const Plot s = span_of(report.traces);
  const int height = kAxisHeight + static_cast<int>(report.rows.size()) * kRowHeight + 4;
  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"timeline\" width=\"" << kLabelWidth + kPlotWidth + kRight
      << "\" height=\"" << height << "\" viewBox=\"0 0 " << kLabelWidth + kPlotWidth + kRight << ' ' << height
      << "\">\n";
  out << "<defs><pattern id=\"overlap-hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
         "patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"#fff\"/><rect width=\"3\" "
         "height=\"6\" fill=\"#d62020\"/></pattern></defs>\n";
  write_bands(out, report.rows.size());
  write_axis(out, s, height);
  for (std::size_t i = 0; i < report.rows.size(); ++i) write_row(out, s, report.rows[i], i);
  out << "</svg>\n";
}

}  // namespace report
