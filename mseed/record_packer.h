// One channel's samples packed into 4096-byte miniSEED records by libmseed as they come,
// Steim-2 wherever it holds the differences, so that only a few records are ever held.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "mseed/libmseed_calls.h"
#include "mseed/seed_codes.h"

namespace pk::mseed {

inline constexpr int kRecordLength = 4096;

class RecordPacker {
 public:
  // Each finished record goes to `sink`; a record libmseed cannot pack ends the run.
  using Sink = RecordSink;
  RecordPacker(const SeedId& id, double rate, Sink sink);

  // The samples added next begin a new record at `start_us` (microseconds since 1970):
  // after a gap or a packet whose time disagrees with the count of samples before it.
  void start_run(int64_t start_us);
  void add(std::span<const int32_t> samples);
  // Packs what is pending, the last record short.
  void finish();

 private:
  void pack(bool flush);
  // Packs `count` pending samples from `at` in `encoding`; returns how many were packed.
  std::size_t pack_with(int8_t encoding, std::size_t at, std::size_t count, bool flush);
  // One record of another encoding from `at`, for differences Steim-2 cannot hold.
  std::size_t pack_fallback_record(std::size_t at);

  TemplatePtr msr_;
  double rate_;
  Sink sink_;
  std::vector<int32_t> pending_;
  int64_t run_start_us_ = 0;
  uint64_t run_index_ = 0;  // place in the run of pending_[0]
};

using pk::steim1_holds;
using pk::steim2_holds;

}  // namespace pk::mseed
