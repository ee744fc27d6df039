#include "report/report.h"

#include <algorithm>
#include <map>

#include "report/outputs.h"

namespace report {

namespace fs = std::filesystem;

namespace {

// Each run writes into its own output directory: the closest one above a file made it.
void attribute_runs(std::vector<Trace>& traces, const std::vector<RunRecord>& runs) {
  std::map<std::string, const RunRecord*> by_output;
  for (const RunRecord& r : runs)
    if (!r.output.empty()) by_output[r.output] = &r;
  for (Trace& t : traces) {
    for (fs::path dir = fs::path(t.file).parent_path(); !dir.empty(); dir = dir.parent_path()) {
      if (const auto it = by_output.find(dir.generic_string()); it != by_output.end()) {
        t.status = it->second->trace_status();
        break;
      }
    }
  }
}

}  // namespace

std::size_t Report::failed_runs() const {
  return static_cast<std::size_t>(std::count_if(runs.begin(), runs.end(), [](const RunRecord& r) {
    return !r.succeeded();
  }));
}

uint64_t Report::total_samples() const {
  uint64_t n = 0;
  for (const Trace& t : traces) n += t.samples;
  return n;
}

std::size_t Report::gap_count() const {
  std::size_t n = 0;
  for (const TimelineRow& row : rows) n += row.gaps.size();
  return n;
}

std::size_t Report::overlap_count() const {
  std::size_t n = 0;
  for (const TimelineRow& row : rows) n += row.overlaps.size();
  return n;
}

std::size_t Report::overlapping_traces() const {
  return static_cast<std::size_t>(std::count_if(traces.begin(), traces.end(), [](const Trace& t) { return t.overlaps > 0; }));
}

std::size_t Report::warned_runs() const {
  return static_cast<std::size_t>(std::count_if(runs.begin(), runs.end(), [](const RunRecord& r) {
    return r.succeeded() && !r.warning.empty();
  }));
}

std::size_t Report::warned_traces() const {
  return static_cast<std::size_t>(std::count_if(traces.begin(), traces.end(), [](const Trace& t) {
    return t.status.starts_with("warning: ");
  }));
}

void build_report(const fs::path& dir, Report& report) {
  report.title = dir.string();
  const FoundOutputs found = find_outputs(dir);
  for (const std::string& e : found.errors) report.unreadable.push_back({e, "", "cannot be listed"});
  for (const std::string& file : found.files) {
    FileTraces got = read_output(dir, file);
    if (!got.error.empty()) report.unreadable.push_back({file, output_program(file), got.error});
    for (Trace& t : got.traces) report.traces.push_back(std::move(t));
  }
  report.runs = read_run_records(dir);
  attribute_runs(report.traces, report.runs);
  std::sort(report.traces.begin(), report.traces.end(), trace_order);
  report.rows = timeline_rows(report.traces);
}

}  // namespace report
