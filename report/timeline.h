// Traces grouped into the rows of the availability timeline: one row per unit and channel,
// whichever program wrote them, its traces in time order and the gaps between them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace.h"

namespace report {

struct Gap {
  int64_t from_us, to_us;  // the last sample before and the first sample after
};

struct TimelineRow {
  std::string unit, channel;
  std::vector<const Trace*> traces;  // by start time
  std::vector<Gap> gaps;

  std::string label() const;
};

// `traces` must be ordered by `trace_order` and outlive the rows.
std::vector<TimelineRow> timeline_rows(const std::vector<Trace>& traces);
// By unit, channel (channel 2 before channel 10), start and file.
bool trace_order(const Trace& a, const Trace& b);

// A gap is a next start later than the data so far ends by more than two sample intervals.
std::vector<Gap> find_gaps(const std::vector<const Trace*>& by_start);

}  // namespace report
