// Everything a report shows of one output directory.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "report/runs.h"
#include "report/timeline.h"
#include "report/trace.h"

namespace report {

struct Unreadable {
  std::string file, program, reason;  // `program`: the one that writes such files
};

struct Report {
  std::string title;                  // the directory, as given
  std::vector<Trace> traces;          // in `trace_order`
  std::vector<TimelineRow> rows;      // pointing into `traces`
  std::vector<Unreadable> unreadable;
  std::vector<RunRecord> runs;

  Report() = default;
  Report(const Report&) = delete;  // the rows point into this report's traces
  Report& operator=(const Report&) = delete;

  std::size_t failed_runs() const;
  uint64_t total_samples() const;
  std::size_t gap_count() const;
  std::size_t overlap_count() const;
  std::size_t overlapping_traces() const;
  // Runs that succeeded but printed a WARNING line, and the traces they wrote.
  std::size_t warned_runs() const;
  std::size_t warned_traces() const;
};

// Reads every output below `dir` and the run records in `dir`/runs.
void build_report(const std::filesystem::path& dir, Report& report);

}  // namespace report
