// Which samples of which records make up a day file: records described by their
// headers alone, ranked, and cut where a higher-ranked record covers them.
#pragma once

#include <cstdint>
#include <limits>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace pk::sds {

using Micros = int64_t;  // microseconds since 1970, as libmseed counts time
inline constexpr Micros kMicrosPerDay = 86400LL * 1000000;
inline constexpr Micros kEarliest = std::numeric_limits<Micros>::min() / 4;
inline constexpr Micros kLatest = std::numeric_limits<Micros>::max() / 4;

// One record of one channel. Pieces are ranked by their place in the list: a later one
// wins over an earlier one wherever their samples meet.
struct Piece {
  Micros start = 0;     // time of the first sample
  double rate = 0;      // samples per second; 0 for records without a time series
  int64_t samples = 0;
  Micros from = kEarliest, until = kLatest;  // only samples at from <= t < until belong here
  unsigned channel = 0;  // pieces cover only pieces of their own channel (SEED id)
  bool covers = true;    // false: takes nothing away from earlier pieces
  unsigned source = 0;   // which file holds it
  off_t offset = 0;     // and where
  int length = 0;       // record length in bytes
};

// Time of sample `i` of a piece.
Micros sample_time(const Piece& p, int64_t i);

// Samples [first, first + count) of a piece, to be written at `start`; `whole` when they
// are all of its samples, so the record can be copied as it stands.
struct Cut {
  std::size_t piece = 0;
  int64_t first = 0, count = 0;
  Micros start = 0;
  bool whole = false;
};

// The cuts that hold every sample no later piece covers, in time order. A piece covers
// half a sample interval either side of each of its samples, so a sample of a lower
// piece within that distance of a higher piece's sample gives way to it, and what stays
// never overlaps by more than half an interval.
std::vector<Cut> resolve(const std::vector<Piece>& ranked);

// How many samples of the covering pieces the cuts leave out: those a later covering
// piece has the times of (new data over new data).
int64_t covering_samples_left_out(const std::vector<Piece>& ranked, const std::vector<Cut>& cuts);

// Closed time spans [first, last] of samples.
using Spans = std::vector<std::pair<Micros, Micros>>;

// How many samples of the pieces that cover nothing (the old day file's) of channel 0
// the cuts leave out within `spans`: old data there that new data replaced.
int64_t old_samples_replaced_within(const std::vector<Piece>& ranked, const std::vector<Cut>& cuts,
                                    const Spans& spans);

}  // namespace pk::sds
