#include "mseed/record_packer.h"

#include <libmseed.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "convert/failure.h"
#include "mseed/libmseed_calls.h"

namespace pk::mseed {

namespace {

// Pending samples packed once there are this many: well over what one Steim-2 record can
// hold (7 a word), so that packing without flushing always finishes whole records.
constexpr std::size_t kPackAt = 32768;
// Samples one record holds at the fewest a word: Steim-1 with every difference in 32 bits
// (13 words in the first frame, 15 in the 62 after it), 32-bit integers (4032 bytes).
constexpr std::size_t kSteim1RecordSamples = 13 + 62 * 15;
constexpr std::size_t kInt32RecordSamples = (kRecordLength - 64) / 4;

void copy_code(char* field, const std::string& code) {
  std::strncpy(field, code.c_str(), 10);
  field[10] = '\0';
}

// First index after `from` (up to `end`) whose difference to the one before fails `holds`.
template <class Holds>
std::size_t first_break(const std::vector<int32_t>& s, std::size_t from, std::size_t end, Holds holds) {
  for (std::size_t i = from + 1; i < end; ++i)
    if (!holds(s[i - 1], s[i])) return i;
  return end;
}

// libmseed refused samples the encoding checks let through.
[[noreturn]] void cannot_pack(const std::string& channel) {
  Failure failure = fatal_failure(ExitCode::write_error, channel);
  failure.message = "\nlibmseed could not pack the samples of " + channel;
  failure.cause = libmseed_error("libmseed could not pack them");
  throw failure;
}

}  // namespace

RecordPacker::RecordPacker(const SeedId& id, double rate, Sink sink)
    : msr_(new_record()), rate_(rate), sink_(std::move(sink)) {
  copy_code(msr_->network, id.network);
  copy_code(msr_->station, id.station);
  copy_code(msr_->location, id.location);
  copy_code(msr_->channel, id.channel);
  msr_->dataquality = 'D';
  msr_->reclen = kRecordLength;
  msr_->byteorder = 1;
  msr_->samprate = rate;
  msr_->sampletype = 'i';
  pending_.reserve(kPackAt + kPackAt / 4);
}

void RecordPacker::start_run(int64_t start_us) {
  pack(true);
  run_start_us_ = start_us;
  run_index_ = 0;
}

void RecordPacker::add(std::span<const int32_t> samples) {
  while (!samples.empty()) {
    const std::size_t n = std::min(samples.size(), kPackAt - std::min(kPackAt, pending_.size()) + 1);
    pending_.insert(pending_.end(), samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(n));
    samples = samples.subspan(n);
    if (pending_.size() > kPackAt) pack(false);
  }
}

void RecordPacker::finish() { pack(true); }

// Steim-2 up to each difference it cannot hold, then one record of another encoding.
// Without `flush` whatever would make a short record stays pending.
void RecordPacker::pack(bool flush) {
  std::size_t done = 0;
  while (done < pending_.size()) {
    const std::size_t stop = first_break(pending_, done, pending_.size(), steim2_holds);
    const bool broken = stop < pending_.size();
    const std::size_t packed = pack_with(DE_STEIM2, done, stop - done, flush || broken);
    done += packed;
    if (!broken) break;
    done += pack_fallback_record(done);
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
  run_index_ += done;
}

std::size_t RecordPacker::pack_fallback_record(std::size_t at) {
  const std::size_t steim1 = std::min(kSteim1RecordSamples, pending_.size() - at);
  if (first_break(pending_, at, at + steim1, steim1_holds) == at + steim1) return pack_with(DE_STEIM1, at, steim1, true);
  return pack_with(DE_INT32, at, std::min(kInt32RecordSamples, pending_.size() - at), true);
}

std::size_t RecordPacker::pack_with(int8_t encoding, std::size_t at, std::size_t count, bool flush) {
  if (count == 0) return 0;
  msr_->encoding = encoding;
  msr_->datasamples = pending_.data() + at;
  msr_->numsamples = static_cast<int64_t>(count);
  const double offset_us = static_cast<double>(run_index_ + at) * 1e6 / rate_;
  msr_->starttime = run_start_us_ + static_cast<int64_t>(std::llround(offset_us));
  // Each call's first difference is taken as 0 rather than from the sample packed before,
  // which the checks above never compared with: X0 holds the sample itself.
  if (msr_->ststate) msr_->ststate->comphistory = 0;
  int64_t packed = 0;
  if (pack_records(msr_.get(), sink_, &packed, flush) < 0 || (flush && packed != static_cast<int64_t>(count)))
    cannot_pack(msr_->channel);
  return static_cast<std::size_t>(packed);
}

}  // namespace pk::mseed
