// Traces grouped into the rows of the availability timeline: one row per unit, stream and
// channel, whichever program wrote them, its traces in time order, the gaps between them and
// the time two traces of one program both cover.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/trace.h"

namespace report {

struct Span {
  int64_t from_us, to_us;
};
// From the last sample before to the first sample after.
using Gap = Span;
// From the first to the last sample time held twice.
using Overlap = Span;

struct TimelineRow {
  std::string unit, stream, channel;
  std::vector<const Trace*> traces;  // by start time
  std::vector<Gap> gaps;
  std::vector<Overlap> overlaps;

  std::string label() const;
};

// `traces` must be ordered by `trace_order` and outlive the rows; their overlap counts are set.
std::vector<TimelineRow> timeline_rows(std::vector<Trace>& traces);
// By unit, stream, channel (channel 2 before channel 10), start and file.
bool trace_order(const Trace& a, const Trace& b);

// A gap is a next start later than the data so far ends by more than two sample intervals.
std::vector<Gap> find_gaps(const std::vector<const Trace*>& by_start);
// Traces of one kind (`Format`) overlap when one starts less than half a sample interval after the
// other's last sample. Each such pair counts on both traces; the time they share is marked
// once. SEG-Y and SEISAN files of the same recording are not overlaps of each other, nor are
// miniSEED event files and SDS day files.
std::vector<Overlap> find_overlaps(const std::vector<Trace*>& by_start);

}  // namespace report
