#include "common/decode.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>
#include <vector>

#include "tests/support/pkenc.h"
#include "common/pkfile.h"
#include "tests/support/testkit.h"

namespace {

using pktest::C0Options;
using pktest::DataHeader;
using pktest::Packet;
using testkit::ramp;

// Decodes with the decoder of the packet's format byte: 0xC2 the second compressed format,
// anything else the first.
std::vector<int32_t> decode_all(const Packet& p, int32_t last, pk::CompressedResult* res = nullptr) {
  std::vector<int32_t> out(pk::kMaxC2Samples);
  const auto decode = p[23] == 0xC2 ? pk::decode_c2 : pk::decode_c0;
  const pk::CompressedResult r = decode(p.data(), last, out.data());
  out.resize(r.count);
  if (res) *res = r;
  return out;
}

uint8_t code_of_word(const Packet& p, std::size_t frame, std::size_t word) {
  uint8_t codes[16];
  pk::clear_w0(codes);
  pk::fill_w0_array(pk::u32be_at(p.data(), 64 + 64 * frame), codes);
  return codes[word];
}

TEST(ControlWord, CodesComeFromTheTopBitsDownward) {
  uint8_t codes[16];
  pk::clear_w0(codes);
  // codes 0,1,2,3 for words 0..3, then 3 for word 15 only
  pk::fill_w0_array(0x1B000003u, codes);
  const uint8_t expected[16] = {0, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3};
  for (int k = 0; k < 16; ++k) EXPECT_EQ(codes[k], expected[k]) << "word " << k;
  pk::clear_w0(codes);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(codes[k], 0);
}

TEST(Compressed, CapacityAndWalkOfAllFrames) {
  // Small differences: 223 data words of four each.
  const auto smooth = ramp(1000, 0, 1);
  auto enc = pktest::make_dt_c0(DataHeader{}, smooth, {.prev = -1});
  ASSERT_EQ(enc.consumed, pk::kMaxC0Samples);
  pk::CompressedResult r;
  auto out = decode_all(enc.pkt, -1, &r);
  EXPECT_EQ(out, std::vector<int32_t>(smooth.begin(), smooth.begin() + 892));
  EXPECT_EQ(code_of_word(enc.pkt, 14, 15), 1);
  EXPECT_FALSE(r.needs_report());

  // Large differences: one per word.
  std::vector<int32_t> wild(300);
  for (std::size_t i = 0; i < wild.size(); ++i) wild[i] = (i % 2 ? 1 : -1) * 1'000'000'000;
  enc = pktest::make_dt_c0(DataHeader{}, wild, {.prev = -1'000'000'000});
  EXPECT_EQ(enc.consumed, 223u);

  // A count that says fewer samples than the frames hold does not stop the walk.
  DataHeader short_count;
  short_count.count = 10;
  enc = pktest::make_dt_c0(short_count, ramp(40, 7, 2), {.prev = 5});
  out = decode_all(enc.pkt, 5, &r);
  EXPECT_EQ(out.size(), 40u);
  EXPECT_EQ(r.n, 10u);
  EXPECT_EQ(r.decoded, 40u);
  EXPECT_FALSE(r.mismatch);
  EXPECT_TRUE(r.needs_report());
}

TEST(Compressed, ContinuousPacketsNeedNoReport) {
  const auto signal = [] {
    std::vector<int32_t> v(2000);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<int32_t>(std::lround(5000 * std::sin(0.02 * i)));
    return v;
  }();
  std::span<const int32_t> rest(signal);
  int32_t last = 0;
  std::vector<int32_t> decoded;
  int packets = 0;
  while (!rest.empty()) {
    const auto enc = pktest::make_dt_c0(DataHeader{}, rest, {.prev = last});
    pk::CompressedResult r;
    const auto out = decode_all(enc.pkt, last, &r);
    EXPECT_FALSE(r.needs_report()) << "packet " << packets;
    decoded.insert(decoded.end(), out.begin(), out.end());
    last = r.xn;
    rest = rest.subspan(enc.consumed);
    ++packets;
  }
  EXPECT_GT(packets, 2);
  EXPECT_EQ(decoded, signal);
}

TEST(Compressed, GapIsDecodedFromX0AndReported) {
  const auto first = ramp(100, 0, 2);
  const auto after_gap = ramp(100, 1000, 2);
  // The recorder's difference chain continues over samples this file never got.
  const auto enc = pktest::make_dt_c0(DataHeader{}, after_gap, {.prev = 998});
  pk::CompressedResult r;
  EXPECT_EQ(decode_all(enc.pkt, first.back(), &r), after_gap);
  EXPECT_TRUE(r.mismatch);
  EXPECT_EQ(r.d0, 2);
  EXPECT_EQ(r.calc_start, first.back() + 2);
  EXPECT_EQ(r.calc_stop, r.xn);
  EXPECT_EQ(r.decoded, r.n);
  EXPECT_TRUE(r.needs_report());

  // A deliberately wrong first difference is caught even when the previous value fits.
  const auto bad = pktest::make_dt_c0(DataHeader{}, after_gap, {.prev = 998, .first_diff = 7});
  EXPECT_EQ(decode_all(bad.pkt, 998, &r), after_gap);
  EXPECT_TRUE(r.mismatch);
  EXPECT_EQ(r.calc_start, 1005);

  // A wrong reverse constant alone is reported too.
  const auto wrong_xn = pktest::make_dt_c0(DataHeader{}, after_gap, {.prev = 998, .xn = 4});
  EXPECT_EQ(decode_all(wrong_xn.pkt, 998, &r), after_gap);
  EXPECT_FALSE(r.mismatch);
  EXPECT_NE(r.calc_stop, r.xn);
  EXPECT_TRUE(r.needs_report());
}

// Builds frame 0 by hand: word 3 without data, the differences in word 4.
Packet packet_with_empty_first_word(int32_t x0) {
  Packet p = pktest::make_packet(pktest::Header{}, 0);
  pktest::put_bcd(p, 20, 4, 2);
  pktest::put_u32be(p, 64, 0x00400000u);  // word 4: code 1
  pktest::put_i32be(p, 68, x0);
  pktest::put_i32be(p, 72, x0 + 10);
  pktest::put_u32be(p, 76, 0xDEADBEEFu);  // word 3 holds junk that must be ignored
  pktest::put_u32be(p, 80, 0x01020304u);
  return p;
}

TEST(Compressed, FirstWordWithoutDataGivesZeroFirstDifference) {
  const Packet p = packet_with_empty_first_word(100);
  pk::CompressedResult r;
  EXPECT_EQ(decode_all(p, 100, &r), (std::vector<int32_t>{101, 103, 106, 110}));
  EXPECT_EQ(r.d0, 0);
  EXPECT_FALSE(r.mismatch);
  EXPECT_EQ(r.calc_start, 100);
  EXPECT_FALSE(r.needs_report());

  EXPECT_EQ(decode_all(p, 55, &r), (std::vector<int32_t>{101, 103, 106, 110}));
  EXPECT_TRUE(r.mismatch);
  EXPECT_EQ(r.calc_start, 55);
}

TEST(Compressed, BadCountIsOnlyReported) {
  DataHeader dh;
  dh.count = 9999;
  auto enc = pktest::make_dt_c0(dh, ramp(20, 0, 1), {.prev = -1});
  pk::CompressedResult r;
  EXPECT_EQ(decode_all(enc.pkt, -1, &r).size(), 20u);
  EXPECT_EQ(r.n, 9999u);
  EXPECT_TRUE(r.needs_report());
  pktest::put_bcd_digits(enc.pkt, 20, "FFFF");
  decode_all(enc.pkt, -1, &r);
  EXPECT_EQ(r.n, 16665u);
  EXPECT_EQ(r.decoded, 20u);
}

// ---- the second compressed format: the same frames, seven difference widths ----
// (every width, its limits and the wrap around 32 bits: reference_test.cpp)

// A data word whose code and top bits name no layout gives no sample; the packet is
// reported as inconsistent even where the sample count happens to agree.
TEST(SecondCompressed, InvalidCodeCombinationGivesNoSamplesAndIsReported) {
  struct Case {
    const char* what;
    std::size_t frame, word;
    uint8_t code;
    uint32_t top_bits;
    int32_t d0;
  };
  const Case cases[] = {{"code 2 with 00", 1, 5, 2, 0, 1}, {"code 3 with 11", 14, 15, 3, 3, 1},
                        {"first data word", 0, 3, 2, 0, 0}};
  const auto samples = ramp(1561, 7, 1);  // seven differences in every word
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto heap = std::make_unique<Packet>(pktest::make_dt_c2(DataHeader{}, samples, {.prev = 6}).pkt);
    Packet& p = *heap;
    const std::size_t control = 64 + 64 * c.frame, at = control + 4 * c.word;
    const uint32_t codes = pk::u32be_at(p.data(), control) & ~(3u << (30 - 2 * c.word));
    pktest::put_u32be(p, control, codes | uint32_t{c.code} << (30 - 2 * c.word));
    pktest::put_u32be(p, at, (c.top_bits << 30) | (pk::u32be_at(p.data(), at) & 0x3FFFFFFFu));
    pk::CompressedResult r;
    const auto out = decode_all(p, 6, &r);
    EXPECT_EQ(r.invalid_words, 1u);
    EXPECT_EQ(out.size(), 1561u - 7u);
    EXPECT_EQ(r.d0, c.d0);
    EXPECT_TRUE(r.needs_report());
    pktest::put_bcd(p, 20, 1554, 2);  // a count that matches what was decoded
    decode_all(p, 6, &r);
    EXPECT_TRUE(r.needs_report());
  }
}

// A packet holds at most 1561 samples, seven in each of its 223 data words; whatever the
// count field says, nothing is written past them.
TEST(SecondCompressed, FullPacketAndCountsBeyondIt) {
  const auto ramp_down = ramp(2000, 0, -1);
  const auto enc = pktest::make_dt_c2(DataHeader{}, ramp_down, {.prev = 1});
  ASSERT_EQ(enc.consumed, pk::kMaxC2Samples);
  for (const auto& [digits, report] : {std::pair{"1561", false}, {"1562", true}, {"9999", true}, {"FFFF", true}}) {
    SCOPED_TRACE(digits);
    auto heap = std::make_unique<Packet>(enc.pkt);
    pktest::put_bcd_digits(*heap, 20, digits);
    std::vector<int32_t> out(pk::kMaxC2Samples + 8, 0x5A5A5A5A);
    const pk::CompressedResult r = pk::decode_c2(heap->data(), 1, out.data());
    EXPECT_EQ(r.needs_report(), report);
    ASSERT_EQ(r.count, pk::kMaxC2Samples);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 1561, ramp_down.begin()));
    for (std::size_t i = pk::kMaxC2Samples; i < out.size(); ++i) ASSERT_EQ(out[i], 0x5A5A5A5A) << i;
  }
}

// The decoders run on a packet at the very end of a heap block, so a read past byte 1023
// is caught by the sanitizer build; the sentinels catch writes past the limit everywhere.
struct IntegerCase {
  const char* count_digits;
  std::size_t expected;
};

TEST(Integer, RoundTripSignExtended) {
  const std::vector<int32_t> s16 = {0, 1, -1, -2, 32767, -32768, 1234, -4321};
  const Packet p16 = pktest::make_dt16(DataHeader{}, s16);
  EXPECT_EQ(p16[24 + 2 * 3], 0xFF);
  EXPECT_EQ(p16[24 + 2 * 3 + 1], 0xFE);
  std::vector<int32_t> out(pk::kMax16Samples);
  out.resize(pk::decode_16(p16.data(), out.data()));
  EXPECT_EQ(out, s16);

  const std::vector<int32_t> s32 = {0, -1, INT32_MAX, INT32_MIN, 0x01020304, -65536};
  const Packet p32 = pktest::make_dt32(DataHeader{}, s32);
  out.assign(pk::kMax32Samples, 0);
  out.resize(pk::decode_32(p32.data(), out.data()));
  EXPECT_EQ(out, s32);
}

TEST(Integer, CountsAreClampedToThePacket) {
  const IntegerCase cases16[] = {{"9999", 500}, {"FFFF", 500}, {"0500", 500}, {"0501", 500},
                                 {"0499", 499}, {"000:", 10},  {"0000", 0}};
  const IntegerCase cases32[] = {{"9999", 250}, {"F0F0", 250}, {"0251", 250}, {"0250", 250}, {"0003", 3}};
  const auto run = [](const IntegerCase& c, std::size_t limit, auto decode) {
    SCOPED_TRACE(c.count_digits);
    auto heap = std::make_unique<Packet>(pktest::make_dt32(DataHeader{}, ramp(250, 1, 1)));
    pktest::put_bcd_digits(*heap, 20, c.count_digits);
    std::vector<int32_t> out(limit + 8, 0x5A5A5A5A);
    EXPECT_EQ(decode(heap->data(), out.data()), c.expected);
    for (std::size_t i = limit; i < out.size(); ++i) ASSERT_EQ(out[i], 0x5A5A5A5A) << "written past " << limit;
  };
  for (const auto& c : cases16) run(c, pk::kMax16Samples, pk::decode_16);
  for (const auto& c : cases32) run(c, pk::kMax32Samples, pk::decode_32);
}

TEST(Integer, LastSampleOfAFullPacketIsTheLastWord) {
  std::vector<int32_t> s = ramp(500, -250, 1);
  s.back() = -7;
  const Packet p = pktest::make_dt16(DataHeader{}, s);
  EXPECT_EQ(p[1022], 0xFF);
  EXPECT_EQ(p[1023], 0xF9);
  std::vector<int32_t> out(pk::kMax16Samples);
  ASSERT_EQ(pk::decode_16(p.data(), out.data()), 500u);
  EXPECT_EQ(out.back(), -7);
}

TEST(Formats, ByteSelectsTheDecoder) {
  using pk::SampleFormat;
  for (uint8_t b : {0x16, 0x17, 0x01}) EXPECT_EQ(pk::dt_sample_format(b), SampleFormat::int16);
  for (uint8_t b : {0x32, 0x33, 0x00}) EXPECT_EQ(pk::dt_sample_format(b), SampleFormat::int32);
  for (uint8_t b : {0xC0, 0xC1, 0x02, 0x03}) EXPECT_EQ(pk::dt_sample_format(b), SampleFormat::compressed);
  EXPECT_EQ(pk::dt_sample_format(0xC2), SampleFormat::compressed2);
  for (uint8_t b : {0x40, 0xC3, 0xC4, 0x04, 0x18}) EXPECT_EQ(pk::dt_sample_format(b), SampleFormat::unknown);
}

}  // namespace
