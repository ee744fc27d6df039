// Per-channel QC statistics of an event's stored samples: min, max, range,
// mean and standard deviation, written to the unit's and the run-wide QCC file.
#pragma once

#include <cstdint>

#include <cstdio>

#include "convert/lists.h"

namespace pk {

void init_qcc(ChannelNode& f);

// Feeds one stored sample into the channel's accumulators.
inline void add_qcc_sample(ChannelNode& f, double x) {
  f.Qcc_sum += x;
  f.Qcc_sq_sum += x * x;
  if (x < f.Qcc_min) f.Qcc_min = x;
  if (x > f.Qcc_max) f.Qcc_max = x;
}

// Writes the event's table into the unit's QCC file and its lines into the run-wide one
// (`run_qcc`). `pkt` is the ET packet that ends the event, the run's `blk_cnt`-th;
// nullptr or any other packet reports the event as ended without one.
void store_qcc(std::FILE* run_qcc, uint32_t blk_cnt, UnitNode& unit, EventNode& evt, const uint8_t* pkt);

// The NH packet's header line and the column heads, into the run-wide file.
void qcc_nh_heads(std::FILE* run_qcc, uint32_t blk_cnt, const uint8_t* pkt);

}  // namespace pk
