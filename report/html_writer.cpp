#include "report/html_writer.h"

#include <algorithm>
#include <map>
#include <set>

#include "report/civil_time.h"
#include "report/csv_writer.h"
#include "report/markup.h"

namespace report {

namespace {

constexpr const char* kStyle = R"(body{font-family:sans-serif;margin:1.5em;color:#222}
h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.6em}
table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:2px 8px;text-align:left;vertical-align:top}
th{background:#eee}pre{margin:0;white-space:pre-wrap}
svg.timeline{font-size:11px}svg .axis line{stroke:#ccc}svg .axis text{text-anchor:middle;fill:#555}
svg rect.band{fill:#f3f3f3}svg rect.data{fill:#2f6db5}svg rect.gap{fill:#d62020}svg rect.empty{fill:#888}
svg rect.overlap{fill:url(#overlap-hatch);stroke:#d62020}
.bad{color:#b00000;font-weight:bold}
)";

void cell(std::ostream& out, const std::string& text) { out << "<td>" << escape(text) << "</td>"; }

void table_head(std::ostream& out, const std::string& attributes, std::initializer_list<const char*> columns) {
  out << "<table " << attributes << ">\n<tr>";
  for (const char* c : columns) out << "<th>" << c << "</th>";
  out << "</tr>\n";
}

void summary_row(std::ostream& out, const char* what, const std::string& value, bool bad = false) {
  out << "<tr><th>" << what << "</th><td" << (bad ? " class=\"bad\"" : "") << ">" << escape(value) << "</td></tr>\n";
}

std::string files_by_format(const Report& r) {
  std::map<Format, std::set<std::string>> files;
  for (const Trace& t : r.traces) files[t.format].insert(t.file);
  std::string text;
  for (const auto& [format, names] : files)
    text += (text.empty() ? "" : ", ") + std::to_string(names.size()) + " " + std::string(format_name(format));
  return text.empty() ? "none" : text;
}

std::string time_span(const Report& r) {
  std::optional<int64_t> first, last;
  for (const Trace& t : r.traces) {
    first = std::min(first.value_or(t.start_us), t.start_us);
    last = std::max(last.value_or(t.start_us), end_us(t).value_or(t.start_us));
  }
  if (!first) return "none";
  return iso_time(*first) + " to " + iso_time(*last) + " (" + duration_text(*last - *first) + ")";
}

void write_run_counts(std::ostream& out, const Report& r) {
  if (r.runs.empty()) {
    summary_row(out, "Inputs", "not known: no run records in runs/");
    return;
  }
  summary_row(out, "Inputs", std::to_string(r.runs.size()));
  summary_row(out, "Converted", std::to_string(r.runs.size() - r.failed_runs()));
  summary_row(out, "Failed", std::to_string(r.failed_runs()), r.failed_runs() > 0);
  summary_row(out, "Warned", std::to_string(r.warned_runs()) + " (" + std::to_string(r.warned_traces()) + " traces)",
              r.warned_runs() > 0);
}

void write_summary(std::ostream& out, const Report& r) {
  const auto empty = static_cast<std::size_t>(
      std::count_if(r.traces.begin(), r.traces.end(), [](const Trace& t) { return !end_us(t); }));
  out << "<table id=\"summary\">\n";
  write_run_counts(out, r);
  summary_row(out, "Total samples", std::to_string(r.total_samples()));
  summary_row(out, "Time span", time_span(r));
  summary_row(out, "Output files", files_by_format(r));
  summary_row(out, "Traces", std::to_string(r.traces.size()) + (empty ? " (" + std::to_string(empty) + " without samples)" : ""), empty > 0);
  summary_row(out, "Units, streams and channels", std::to_string(r.rows.size()));
  summary_row(out, "Gaps", std::to_string(r.gap_count()), r.gap_count() > 0);
  summary_row(out, "Overlaps", std::to_string(r.overlap_count()) + " (" + std::to_string(r.overlapping_traces()) + " traces)",
              r.overlap_count() > 0);
  summary_row(out, "Unreadable files", std::to_string(r.unreadable.size()), !r.unreadable.empty());
  out << "</table>\n";
}

struct SpanTable {
  const char *title, *id, *from, *to;
  std::vector<Span> TimelineRow::*spans;
};
constexpr SpanTable kGapTable{"Gaps", "gaps", "Last sample before", "First sample after", &TimelineRow::gaps};
constexpr SpanTable kOverlapTable{"Overlaps", "overlaps", "First sample held twice", "Last sample held twice",
                                  &TimelineRow::overlaps};

void write_spans(std::ostream& out, const Report& r, const SpanTable& table) {
  if (std::all_of(r.rows.begin(), r.rows.end(), [&](const TimelineRow& row) { return (row.*table.spans).empty(); })) return;
  out << "<h2>" << table.title << "</h2>\n";
  table_head(out, std::string("id=\"") + table.id + "\"", {"Unit, stream and channel", table.from, table.to, "Length"});
  for (const TimelineRow& row : r.rows)
    for (const Span& g : row.*table.spans) {
      out << "<tr>";
      for (const std::string& text : {row.label(), iso_time(g.from_us), iso_time(g.to_us), duration_text(g.to_us - g.from_us)})
        cell(out, text);
      out << "</tr>\n";
    }
  out << "</table>\n";
}

std::string status_text(const RunRecord& run) {
  return run.status ? std::to_string(*run.status) : std::string("none (the run did not finish)");
}

// Failed runs, or runs that succeeded but wrote to standard error.
void write_runs(std::ostream& out, const Report& r, bool failed) {
  table_head(out, failed ? "id=\"failures\"" : "id=\"warnings\"", {"Input", "Program", "Exit status", "Message", "Run record"});
  for (const RunRecord& run : r.runs) {
    if (run.succeeded() == failed || (!failed && run.errors.empty())) continue;
    out << "<tr>";
    cell(out, run.input);
    cell(out, run.program);
    cell(out, status_text(run));
    out << "<td><pre>" << escape(run.message()) << "</pre></td>";
    cell(out, run.record);
    out << "</tr>\n";
  }
  out << "</table>\n";
}

void write_run_tables(std::ostream& out, const Report& r) {
  if (r.runs.empty()) return;
  out << "<h2>Failed runs</h2>\n";
  if (r.failed_runs() == 0) out << "<p>Every run succeeded (exit status 0).</p>\n";
  else write_runs(out, r, true);
  const bool warned = std::any_of(r.runs.begin(), r.runs.end(), [](const RunRecord& run) {
    return run.succeeded() && !run.errors.empty();
  });
  if (!warned) return;
  out << "<h2>Warnings of runs that succeeded</h2>\n";
  write_runs(out, r, false);
}

void write_unreadable(std::ostream& out, const Report& r) {
  if (r.unreadable.empty()) return;
  out << "<h2>Unreadable files</h2>\n";
  table_head(out, "id=\"unreadable\"", {"File", "Reason"});
  for (const Unreadable& u : r.unreadable) {
    out << "<tr>";
    cell(out, u.file);
    cell(out, u.reason);
    out << "</tr>\n";
  }
  out << "</table>\n";
}

std::string joined(const std::set<std::string>& texts) {
  std::string text;
  for (const std::string& t : texts) text += (text.empty() ? "" : ", ") + t;
  return text;
}

void write_channel_row(std::ostream& out, const TimelineRow& row) {
  std::set<std::string> rates, programs;
  uint64_t samples = 0;
  for (const Trace* t : row.traces) {
    rates.insert(t->rate > 0 ? rate_text(t->rate) : "none");
    programs.insert(std::string(program_name(t->format)));
    samples += t->samples;
  }
  out << "<tr>";
  for (const std::string& text : {row.stream, row.channel, joined(rates), std::to_string(row.traces.size()),
                                  std::to_string(samples), std::to_string(row.gaps.size()),
                                  std::to_string(row.overlaps.size()), joined(programs)})
    cell(out, text);
  out << "</tr>\n";
}

// Rows come unit by unit: a table for each unit.
void write_unit_tables(std::ostream& out, const Report& r) {
  if (r.rows.empty()) return;
  out << "<h2>Units</h2>\n";
  for (std::size_t i = 0; i < r.rows.size(); ++i) {
    if (i == 0 || r.rows[i].unit != r.rows[i - 1].unit) {
      if (i > 0) out << "</table>\n";
      out << "<h3>Unit " << escape(r.rows[i].unit.empty() ? "(none)" : r.rows[i].unit) << "</h3>\n";
      table_head(out, "class=\"unit\"",
                 {"Stream", "Channel", "Rate (samples/s)", "Traces", "Samples", "Gaps", "Overlaps", "Written by"});
    }
    write_channel_row(out, r.rows[i]);
  }
  out << "</table>\n";
}

}  // namespace

void write_html(std::ostream& out, const Report& r) {
  out << "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
      << "<title>Deployment report: " << escape(r.title) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n"
      << "<h1>Deployment report: " << escape(r.title) << "</h1>\n";
  write_summary(out, r);
  out << "<h2>Data availability</h2>\n<p>One row per unit, stream and channel; blue: data, red: a gap of more than two "
         "sample intervals, red hatching: time that two traces of one kind both hold, grey: a trace without "
         "samples. Hover over a mark for its file and times.</p>\n";
  write_timeline_svg(out, r);
  write_spans(out, r, kGapTable);
  write_spans(out, r, kOverlapTable);
  write_run_tables(out, r);
  write_unreadable(out, r);
  write_unit_tables(out, r);
  out << "</body>\n</html>\n";
}

}  // namespace report
