#include "html_writer.h"

#include <algorithm>
#include <map>
#include <set>

#include "civil_time.h"
#include "markup.h"

namespace report {

namespace {

constexpr const char* kStyle = R"(body{font-family:sans-serif;margin:1.5em;color:#222}
h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.6em}
table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:2px 8px;text-align:left;vertical-align:top}
th{background:#eee}pre{margin:0;white-space:pre-wrap}
svg.timeline{font-size:11px}svg .axis line{stroke:#ccc}svg .axis text{text-anchor:middle;fill:#555}
svg rect.band{fill:#f3f3f3}svg rect.data{fill:#2f6db5}svg rect.gap{fill:#d62020}svg rect.empty{fill:#888}
.bad{color:#b00000;font-weight:bold}
)";

void cell(std::ostream& out, const std::string& text) { out << "<td>" << escape(text) << "</td>"; }

void table_head(std::ostream& out, const char* id, std::initializer_list<const char*> columns) {
  out << "<table id=\"" << id << "\">\n<tr>";
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

void write_summary(std::ostream& out, const Report& r) {
  std::size_t empty = 0;
  std::optional<int64_t> first, last;
  for (const Trace& t : r.traces) {
    const std::optional<int64_t> end = end_us(t);
    if (!end) ++empty;
    first = std::min(first.value_or(t.start_us), t.start_us);
    last = std::max(last.value_or(t.start_us), end.value_or(t.start_us));
  }
  out << "<table id=\"summary\">\n";
  summary_row(out, "Output files", files_by_format(r));
  summary_row(out, "Traces", std::to_string(r.traces.size()) + (empty ? " (" + std::to_string(empty) + " without samples)" : ""), empty > 0);
  summary_row(out, "Channels", std::to_string(r.rows.size()));
  if (first) summary_row(out, "Time span", iso_time(*first) + " to " + iso_time(*last));
  summary_row(out, "Gaps", std::to_string(r.gap_count()), r.gap_count() > 0);
  if (!r.runs.empty())
    summary_row(out, "Runs", std::to_string(r.runs.size()) + ", " + std::to_string(r.failed_runs()) + " failed",
                r.failed_runs() > 0);
  summary_row(out, "Unreadable files", std::to_string(r.unreadable.size()), !r.unreadable.empty());
  out << "</table>\n";
}

void write_gaps(std::ostream& out, const Report& r) {
  if (r.gap_count() == 0) return;
  out << "<h2>Gaps</h2>\n";
  table_head(out, "gaps", {"Channel", "Last sample before", "First sample after", "Length"});
  for (const TimelineRow& row : r.rows)
    for (const Gap& g : row.gaps) {
      out << "<tr>";
      for (const std::string& text : {row.label, iso_time(g.from_us), iso_time(g.to_us), duration_text(g.to_us - g.from_us)})
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
  table_head(out, failed ? "failures" : "warnings", {"Input", "Program", "Exit status", "Message", "Run record"});
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
  table_head(out, "unreadable", {"File", "Reason"});
  for (const Unreadable& u : r.unreadable) {
    out << "<tr>";
    cell(out, u.file);
    cell(out, u.reason);
    out << "</tr>\n";
  }
  out << "</table>\n";
}

}  // namespace

void write_html(std::ostream& out, const Report& r) {
  out << "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
      << "<title>Deployment report: " << escape(r.title) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n"
      << "<h1>Deployment report: " << escape(r.title) << "</h1>\n";
  write_summary(out, r);
  out << "<h2>Data availability</h2>\n<p>One row per channel; blue: data, red: a gap of more than two "
         "sample intervals, grey: a trace without samples. Hover over a mark for its file and times.</p>\n";
  write_timeline_svg(out, r);
  write_gaps(out, r);
  write_run_tables(out, r);
  write_unreadable(out, r);
  out << "</body>\n</html>\n";
}

}  // namespace report
