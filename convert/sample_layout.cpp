#include "convert/sample_layout.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/byte_order.h"
#include "common/vector_clones.h"

namespace pk {

namespace {

// Whole words in the wanted order, the choice of order made once per call so that the
// swapping loop vectorises; byte-wise stores would cost four per sample.
PK_VECTOR_CLONES uint8_t* put_samples(uint8_t* out, std::span<const int32_t> s, bool big_endian) {
  if (big_endian == (std::endian::native == std::endian::big)) {
    std::memcpy(out, s.data(), s.size_bytes());
  } else {
    for (std::size_t i = 0; i < s.size(); ++i) {
      const uint32_t w = byte_swapped(static_cast<uint32_t>(s[i]));
      std::memcpy(out + kSampleBytes * i, &w, kSampleBytes);
    }
  }
  return out + kSampleBytes * s.size();
}

}  // namespace

std::size_t lay_out_samples(const SampleLayout& layout, uint64_t before, std::span<const int32_t> samples,
                            uint8_t* out) {
  if (!layout.pc_blocks) return static_cast<std::size_t>(put_samples(out, samples, layout.big_endian) - out);
  uint8_t* p = out;
  std::size_t in_block = static_cast<std::size_t>(before % kBlockSamples);
  while (!samples.empty()) {
    if (in_block == 0) *p++ = kFullBlock;
    const std::size_t n = std::min(samples.size(), kBlockSamples - in_block);
    p = put_samples(p, samples.first(n), layout.big_endian);
    samples = samples.subspan(n);
    in_block += n;
    if (in_block == kBlockSamples) {
      *p++ = kFullBlock;
      in_block = 0;
    }
  }
  return static_cast<std::size_t>(p - out);
}

uint64_t record_bytes(const SampleLayout& layout, uint64_t count) {
  if (!layout.pc_blocks) return count * kSampleBytes;
  const uint64_t rest = count % kBlockSamples;
  return count / kBlockSamples * kFramedBlock + (rest ? rest * kSampleBytes + 2 : 0);
}

std::optional<ShortBlock> short_last_block(uint64_t count) {
  const uint64_t rest = count % kBlockSamples;
  if (rest == 0) return std::nullopt;
  return ShortBlock{count / kBlockSamples * kFramedBlock, static_cast<uint8_t>(rest * kSampleBytes)};
}

}  // namespace pk
