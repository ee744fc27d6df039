#include "decode.h"

#include <algorithm>

#include "pkfile.h"

namespace pk {

namespace {

constexpr std::size_t kNsampOffset = 20;
constexpr std::size_t kIntSamplesOffset = 24;
constexpr std::size_t kFramesOffset = 64;
constexpr std::size_t kFirstDataWord = 3;  // frame 0: control word, X0, Xn

// Read inline: the frame walk fetches every word of the packet.
uint32_t word_at(const uint8_t* pkt, std::size_t frame, std::size_t word) {
  const uint8_t* p = pkt + kFramesOffset + frame * kFrameBytes + word * 4;
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

int32_t s8(uint32_t v) { return static_cast<int8_t>(static_cast<uint8_t>(v)); }
int32_t s16(uint32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// Differences held by one data word, in storage order; returns how many (0, 1, 2 or 4).
unsigned differences(uint32_t w, uint8_t code, int32_t d[4]) {
  switch (code) {
    case 1:
      d[0] = s8(w >> 24); d[1] = s8(w >> 16); d[2] = s8(w >> 8); d[3] = s8(w);
      return 4;
    case 2:
      d[0] = s16(w >> 16); d[1] = s16(w);
      return 2;
    case 3:
      d[0] = static_cast<int32_t>(w);
      return 1;
    default:
      return 0;
  }
}

int32_t wrap_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrap_sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Adds one data word's differences to the running sample, storing each sample; returns
// how many (0, 1, 2 or 4). Samples of a packet mostly take this path four at a time.
unsigned integrate(uint32_t w, uint8_t code, int32_t& prev, int32_t* out) {
  switch (code) {
    case 1:
      out[0] = prev = wrap_add(prev, s8(w >> 24));
      out[1] = prev = wrap_add(prev, s8(w >> 16));
      out[2] = prev = wrap_add(prev, s8(w >> 8));
      out[3] = prev = wrap_add(prev, s8(w));
      return 4;
    case 2:
      out[0] = prev = wrap_add(prev, s16(w >> 16));
      out[1] = prev = wrap_add(prev, s16(w));
      return 2;
    case 3:
      out[0] = prev = wrap_add(prev, static_cast<int32_t>(w));
      return 1;
    default:
      return 0;
  }
}

}  // namespace

SampleFormat dt_sample_format(uint8_t dat_fmt) {
  switch (dat_fmt) {
    case 0x16: case 0x17: case 0x01: return SampleFormat::kInt16;
    case 0x32: case 0x33: case 0x00: return SampleFormat::kInt32;
    case 0xC0: case 0xC1: case 0x02: case 0x03: return SampleFormat::kCompressed;
    default: return SampleFormat::kUnknown;
  }
}

void clear_w0(uint8_t codes[16]) { std::fill(codes, codes + kFrameWords, uint8_t{0}); }

void fill_w0_array(uint32_t word0, uint8_t codes[16]) {
  for (std::size_t k = 0; k < kFrameWords; ++k)
    codes[k] = static_cast<uint8_t>((word0 >> (30 - 2 * k)) & 0x3u);
}

std::size_t dt_sample_count(const uint8_t* pkt, std::size_t max_samples) {
  return std::min<std::size_t>(bcd_at(pkt, kNsampOffset, 2), max_samples);
}

std::size_t decode_16(const uint8_t* pkt, int32_t* out) {
  const std::size_t n = dt_sample_count(pkt, kMax16Samples);
  for (std::size_t i = 0; i < n; ++i) out[i] = little_endian_in(pkt + kIntSamplesOffset + 2 * i, 2);
  return n;
}

std::size_t decode_32(const uint8_t* pkt, int32_t* out) {
  const std::size_t n = dt_sample_count(pkt, kMax32Samples);
  for (std::size_t i = 0; i < n; ++i) out[i] = little_endian_in(pkt + kIntSamplesOffset + 4 * i, 4);
  return n;
}

c0_result decode_c0(const uint8_t* pkt, int32_t last_sample, int32_t* out) {
  c0_result r;
  r.n = bcd_at(pkt, kNsampOffset, 2);
  r.x0 = static_cast<int32_t>(word_at(pkt, 0, 1));
  r.xn = static_cast<int32_t>(word_at(pkt, 0, 2));

  uint8_t codes[kFrameWords];
  clear_w0(codes);
  fill_w0_array(word_at(pkt, 0, 0), codes);
  // A first data word without differences leaves nothing to check continuity against:
  // d0 = 0 then simply compares the previous sample with X0.
  int32_t first[4] = {0, 0, 0, 0};
  if (differences(word_at(pkt, 0, kFirstDataWord), codes[kFirstDataWord], first) > 0) r.d0 = first[0];

  r.calc_start = wrap_add(last_sample, r.d0);
  r.mismatch = r.calc_start != r.x0;
  int32_t prev = r.mismatch ? wrap_sub(r.x0, r.d0) : last_sample;

  for (std::size_t f = 0; f < kFrameCount; ++f) {
    clear_w0(codes);
    fill_w0_array(word_at(pkt, f, 0), codes);
    for (std::size_t w = (f == 0 ? kFirstDataWord : 1); w < kFrameWords; ++w)
      r.count += integrate(word_at(pkt, f, w), codes[w], prev, out + r.count);
  }
  r.decoded = static_cast<unsigned>(r.count);
  r.calc_stop = prev;
  return r;
}

}  // namespace pk
