// Field bytes of the SEG-Y file and trace headers.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "segy/segy_header.h"

namespace {

using namespace pk::segy;

std::vector<uint8_t> bytes(const uint8_t* p, std::size_t n) { return {p, p + n}; }
std::vector<uint8_t> be16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
std::vector<uint8_t> be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

TraceHeader trace_header(const TraceIdentity& id, const TracePass& pass) {
  TraceHeader h{};
  fill_trace_header(h, id);
  set_trace_header_pass(h, pass);
  return h;
}

TEST(SegyInterval, WholeRatesDivideAsIntegers) {
  EXPECT_EQ(sample_interval(100.0f), 10000u);
  EXPECT_EQ(sample_interval(10.0f), 100000u);
  EXPECT_EQ(sample_interval(3.0f), 333333u);
  EXPECT_EQ(sample_interval(40.5f), sample_interval(40.0f));
  EXPECT_EQ(sample_interval(40.5f), 25000u);
  EXPECT_EQ(sample_interval(1.0f), 1000000u);
}

TEST(SegyInterval, RatesBelowOnePerSecondDoNotDivideByZero) {
  EXPECT_EQ(sample_interval(0.1f), 10000000u);
  EXPECT_EQ(sample_interval(0.25f), 4000000u);
  EXPECT_EQ(sample_interval(0.5f), 2000000u);
  // Far below one sample a day the interval saturates instead of wrapping.
  EXPECT_EQ(sample_interval(1e-6f), 4294967295u);
}

// A longer interval would wrap into a wrong one (0.1/s: 38528).
TEST(SegyInterval, SixteenBitsHoldTheIntervalOnlyWhenItFits) {
  const std::pair<uint32_t, uint16_t> cases[] = {{1, 1},         {1000, 1000}, {10000, 10000}, {50000, 50000},
                                                 {65535, 65535}, {65536, 0},   {100000, 0},    {10000000, 0},
                                                 {4294967295u, 0}};
  for (const auto& [interval, sixteen] : cases) EXPECT_EQ(interval16(interval), sixteen) << interval;
}

TEST(SegyInterval, PassFieldsOfBothHeaders) {
  const TracePass pass{.interval = sample_interval(10.0f), .count = 40000, .max = 0, .min = 0};
  const auto t = trace_header({}, pass);
  EXPECT_EQ(bytes(&t[114], 2), be16(32767));
  EXPECT_EQ(bytes(&t[116], 2), be16(0));
  EXPECT_EQ(bytes(&t[200], 4), be32(100000));
  EXPECT_EQ(bytes(&t[228], 4), be32(40000));

  FileHeader f{};
  fill_file_header(f);
  set_file_header_pass(f, pass.interval, pass.count);
  EXPECT_EQ(bytes(&f[3216], 8), (std::vector<uint8_t>{0, 0, 0, 0, 0x7F, 0xFF, 0x7F, 0xFF}));
  const auto i32 = be32(100000), c32 = be32(40000);
  std::vector<uint8_t> expect;
  for (const auto* v : {&i32, &i32, &c32, &c32}) expect.insert(expect.end(), v->begin(), v->end());
  EXPECT_EQ(bytes(&f[3260], 16), expect);

  // A count and an interval that fit 16 bits are written unchanged in both widths.
  set_file_header_pass(f, 10000, 32767);
  EXPECT_EQ(bytes(&f[3216], 8), (std::vector<uint8_t>{0x27, 0x10, 0x27, 0x10, 0x7F, 0xFF, 0x7F, 0xFF}));
  EXPECT_EQ(bytes(&f[3268], 4), be32(32767));
}

TEST(SegyTraceHeader, StartTimeWithMillisecondsInBothGroups) {
  TraceIdentity id;
  id.start = parse_start_time("2003123140522057");
  const auto t = trace_header(id, {});
  const std::vector<uint8_t> group = {0x07, 0xD3, 0x00, 0x7B, 0x00, 0x0E, 0x00, 0x05, 0x00, 0x16};
  EXPECT_EQ(bytes(&t[156], 10), group);
  EXPECT_EQ(bytes(&t[206], 2), be16(57));
  EXPECT_EQ(bytes(&t[208], 10), group);
  EXPECT_EQ(bytes(&t[218], 2), be16(57));
}

TEST(SegyTraceHeader, ShortOrDamagedTimeReadsAsZeroParts) {
  const StartTime t = parse_start_time("2003");
  EXPECT_EQ(t.year, 2003);
  EXPECT_EQ(t.day, 0);
  EXPECT_EQ(t.msec, 0);
  EXPECT_EQ(parse_start_time("").year, 0);
}

TEST(SegyTraceHeader, IdentityFieldsAndFixedValues) {
  TraceIdentity id;
  id.chan = 2;
  id.evt_num = 1234;
  id.unit = 0x9A21;
  id.sp = 40001;
  id.scale = 1.5f;
  const auto t = trace_header(id, {.interval = 10000, .count = 5, .max = 300, .min = -70000});
  EXPECT_EQ(bytes(&t[0], 4), be32(2));
  EXPECT_EQ(bytes(&t[4], 4), be32(2));
  EXPECT_EQ(bytes(&t[8], 4), be32(1234));
  EXPECT_EQ(bytes(&t[12], 4), be32(2));
  EXPECT_EQ(bytes(&t[16], 4), be32(1));
  EXPECT_EQ(bytes(&t[88], 2), be16(2));
  EXPECT_EQ(bytes(&t[166], 2), be16(2));
  EXPECT_EQ(bytes(&t[172], 2), be16(40001));
  EXPECT_EQ(std::string(t.begin() + 180, t.begin() + 198), std::string(18, ' '));
  EXPECT_EQ(bytes(&t[204], 2), be16(1));
  EXPECT_EQ(bytes(&t[220], 4), (std::vector<uint8_t>{0x3F, 0xC0, 0x00, 0x00}));
  EXPECT_EQ(bytes(&t[224], 2), (std::vector<uint8_t>{0x9A, 0x21}));
  EXPECT_EQ(bytes(&t[232], 4), be32(300));
  EXPECT_EQ(bytes(&t[236], 4), be32(static_cast<uint32_t>(-70000)));
}

TEST(SegyFileHeader, TextBlockAndFixedFields) {
  FileHeader f;
  f.fill(0xEE);
  fill_file_header(f);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 3200), std::string(3200, ' '));
  EXPECT_EQ(bytes(&f[3200], 16), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 0}));
  EXPECT_EQ(bytes(&f[3224], 2), be16(2));
  EXPECT_EQ(bytes(&f[3250], 2), be16(2));
  EXPECT_EQ(bytes(&f[3216], 8), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(bytes(&f[3276], 324), std::vector<uint8_t>(324, 0));
}

TEST(SegyScale, BitWeightEntriesToVoltsPerCount) {
  std::string weights(128, ' ');
  weights.replace(0, 8, "1.589 uV");
  weights.replace(8, 8, "2.500 mV");
  weights.replace(16, 8, "0.596 nV");
  weights.replace(24, 8, "1.500 V ");
  EXPECT_FLOAT_EQ(channel_scale(weights, 0), 1.589e-6f);
  EXPECT_FLOAT_EQ(channel_scale(weights, 1), 2.5e-3f);
  EXPECT_FLOAT_EQ(channel_scale(weights, 2), 0.596e-9f);
  EXPECT_FLOAT_EQ(channel_scale(weights, 3), 1.5f);
  // Absent entries and channels beyond the sixteen entries leave counts unscaled.
  EXPECT_FLOAT_EQ(channel_scale(weights, 4), 1.0f);
  EXPECT_FLOAT_EQ(channel_scale(weights, 16), 1.0f);
  EXPECT_FLOAT_EQ(channel_scale("", 0), 1.0f);
  weights.replace(40, 8, "abcde uV");
  EXPECT_FLOAT_EQ(channel_scale(weights, 5), 1.0f);
}

}  // namespace
