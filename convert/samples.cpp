// From decoded samples to the channel data file: the discard count, the sample limit, the
// QC sums, the samples' range and the layout the output format wants.
#include <algorithm>
#include <span>

#include "common/decode.h"
#include "convert/failure.h"
#include "convert/qcc.h"
#include "convert/sample_layout.h"
#include "convert/samples.h"
#include "common/vector_clones.h"

namespace pk {

namespace {

// Samples of the channel's event so far, the limit counts them all: earlier segments too.
uint64_t event_samples(const ChannelNode& f) { return f.stored_before + f.stored; }

// The usual packet: nothing to discard, no limit in reach.
bool keeps_every_sample(const SampleRules& rules, const ChannelNode& f, std::size_t n) {
  return f.discard_count == 0 && event_samples(f) + n <= rules.sample_limit;
}

// What the channel keeps of one packet's samples: the discard count takes the first ones;
// none once the limit is reached. `room` holds a selection when not all are kept.
std::span<const int32_t> kept_samples(const SampleRules& rules, ChannelNode& f, std::span<const int32_t> s,
                                      int32_t* room) {
  if (keeps_every_sample(rules, f, s.size())) return s;
  std::size_t kept = 0;
  for (const int32_t v : s) {
    if (f.discard_count != 0) {
      --f.discard_count;
      continue;
    }
    if (event_samples(f) + kept >= rules.sample_limit) continue;
    room[kept++] = v;
  }
  return {room, kept};
}

// The smallest and largest stored sample, kept while appending so that a writer need not
// read the samples back. No branch on the first sample inside the loop: it stays a plain
// min/max scan.
PK_VECTOR_CLONES void widen_range(ChannelNode& f, std::span<const int32_t> s) {
  int32_t lo = f.stored ? f.smallest : s[0];
  int32_t hi = f.stored ? f.largest : s[0];
  for (const int32_t v : s) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  f.smallest = lo;
  f.largest = hi;
}

// Stores what the channel still accepts of one packet's samples, laid out straight into
// its data file's buffer.
void emit_samples(const SampleRules& rules, ChannelNode& f, const int32_t* s, std::size_t n) {
  int32_t room[kMaxDtSamples];
  const std::span<const int32_t> keep = kept_samples(rules, f, {s, n}, room);
  if (keep.empty()) return;
  if (rules.qcc)
    for (const int32_t v : keep) add_qcc_sample(f, static_cast<double>(v));
  widen_range(f, keep);
  if (!f.data.is_open()) shut_down(ExitCode::write_error, f.Filename);
  uint8_t* out = f.data.room(kMaxLaidOutBytes);
  f.data.commit(lay_out_samples(rules.layout, f.stored, keep, out));
  f.stored += static_cast<uint32_t>(keep.size());
}

}  // namespace

void proc_16_blk(const SampleRules& rules, ChannelNode& file, const uint8_t* pkt) {
  int32_t s[kMax16Samples];
  emit_samples(rules, file, s, decode_16(pkt, s));
}

void proc_32_raw(const SampleRules& rules, ChannelNode& file, const uint8_t* pkt) {
  int32_t s[kMax32Samples];
  emit_samples(rules, file, s, decode_32(pkt, s));
}

namespace {

// Both compressed formats after decoding: the samples and the value the channel's next
// packet continues from. The caller reports a packet that does not add up.
CompressedResult store_compressed(const SampleRules& rules, ChannelNode& file, const int32_t* s,
                                  const CompressedResult& r) {
  emit_samples(rules, file, s, r.count);
  file.Last_sample = r.xn;
  return r;
}

}  // namespace

CompressedResult proc_c0_blk(const SampleRules& rules, ChannelNode& file, const uint8_t* pkt) {
  int32_t s[kMaxC0Samples];
  return store_compressed(rules, file, s, decode_c0(pkt, file.Last_sample, s));
}

CompressedResult proc_c2_blk(const SampleRules& rules, ChannelNode& file, const uint8_t* pkt) {
  int32_t s[kMaxC2Samples];
  return store_compressed(rules, file, s, decode_c2(pkt, file.Last_sample, s));
}

}  // namespace pk
