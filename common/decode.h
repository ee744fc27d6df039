// Sample decoders of DT packets: 16-bit, 32-bit, and compressed frames in two difference
// codings (Steim-1 and Steim-2 style).
// Pure functions over one 1024-byte packet; what happens to the samples (discard count,
// sample limit, QC sums, writing) is the caller's business.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pk {

constexpr std::size_t kFrameBytes = 64, kFrameWords = 16, kFrameCount = 15;
constexpr std::size_t kMax16Samples = 500, kMax32Samples = 250;
constexpr std::size_t kMaxC0Samples = 892;   // 13 + 14*15 data words, at most 4 differences each
constexpr std::size_t kMaxC2Samples = 1561;  // the same words, at most 7 differences each
// Room for the samples of any DT packet.
constexpr std::size_t kMaxDtSamples = kMaxC2Samples;

// Which decoder the data-format byte selects: `compressed` is the first compressed format
// (0xC0 and its aliases), `compressed2` the second (0xC2).
enum class SampleFormat { int16, int32, compressed, compressed2, unknown };
SampleFormat dt_sample_format(uint8_t dat_fmt);

void clear_w0(uint8_t codes[16]);
// Code k (for word k of the frame) is in bits 31-2k and 30-2k.
void fill_w0_array(uint32_t word0, uint8_t codes[16]);

// The BCD sample count, clamped to what the packet can hold so a count of 9999 (or one
// with nibbles above 9) never makes a decoder read past the packet.
std::size_t dt_sample_count(const uint8_t* pkt, std::size_t max_samples);

// Samples most significant byte first, sign-extended; out needs room for kMax16Samples /
// kMax32Samples values. Returns the number written.
std::size_t decode_16(const uint8_t* pkt, int32_t* out);
std::size_t decode_32(const uint8_t* pkt, int32_t* out);

struct CompressedResult {
  int32_t x0 = 0, xn = 0;      // frame 0 words 1 and 2
  unsigned n = 0;              // bcd2i sample count of the packet
  int32_t d0 = 0;              // first difference (0 when word 3 of frame 0 has code 0)
  int32_t calc_start = 0;      // last_sample + d0 (32-bit wrap)
  int32_t calc_stop = 0;       // value after the last difference
  unsigned decoded = 0;        // number of differences walked
  bool mismatch = false;       // last_sample + d0 != x0
  std::size_t count = 0;       // samples written to out (== decoded)
  unsigned invalid_words = 0;  // data words whose code combination means nothing; no samples
  bool needs_report() const { return calc_stop != xn || decoded != n || mismatch || invalid_words != 0; }
};

// Walks all 15 frames (the sample count does not stop the walk) with 32-bit wrap-around
// arithmetic. last_sample is the channel's previous value; when last_sample + d0 misses
// X0 the walk restarts from X0. out needs room for kMaxC0Samples values.
CompressedResult decode_c0(const uint8_t* pkt, int32_t last_sample, int32_t* out);
// The second compressed format: the same frames and walk; a data word holds four 8-bit
// differences (code 1) or, selected by its top two bits, one 30-bit, two 15-bit or three
// 10-bit differences (code 2) or five 6-bit, six 5-bit or seven 4-bit ones (code 3).
// out needs room for kMaxC2Samples values.
CompressedResult decode_c2(const uint8_t* pkt, int32_t last_sample, int32_t* out);

}  // namespace pk
