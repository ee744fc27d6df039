#include "hbk2sac/block.h"
#include "tests/support/hbk_encoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using hbktest::BlockFields;
using hbktest::encode_block;

hbk::Block host_block(const BlockFields& fields) {
  hbk::Block b = encode_block(fields);
  hbk::swap_block(b);
  return b;
}

std::vector<std::int32_t> samples_of(const hbk::Block& b) {
  hbk::BlockSamples out;
  const unsigned n = hbk::expand_samples(b, out);
  return {out.begin(), out.begin() + n};
}

TEST(HbkIdText, Base36WithHighBitMask) {
  EXPECT_EQ(hbk::id_to_text(0), "0");
  EXPECT_EQ(hbk::id_to_text(35), "Z");
  EXPECT_EQ(hbk::id_to_text(36), "10");
  EXPECT_EQ(hbk::id_to_text(0x7FFFFFFF), "ZIK0ZJ");
  // Bits 30..26 are no part of the name once bit 31 is set.
  EXPECT_EQ(hbk::id_to_text(0x83FFFFFF), "13YDJ3");
  EXPECT_EQ(hbk::id_to_text(0xFFFFFFFF), "13YDJ3");
  EXPECT_EQ(hbk::id_to_text(hbktest::text_to_id("HHZ1")), "HHZ1");
}

TEST(HbkRate, CodedHighRatesAndPlainCodes) {
  EXPECT_EQ(hbk::rate_from_code(171), 400);
  EXPECT_EQ(hbk::rate_from_code(174), 500);
  EXPECT_EQ(hbk::rate_from_code(176), 1000);
  EXPECT_EQ(hbk::rate_from_code(179), 2000);
  EXPECT_EQ(hbk::rate_from_code(181), 4000);
  EXPECT_EQ(hbk::rate_from_code(1), 1);
  EXPECT_EQ(hbk::rate_from_code(100), 100);
  EXPECT_EQ(hbk::rate_from_code(172), 172);
  EXPECT_EQ(hbk::rate_from_code(255), 255);
}

TEST(HbkTime, TimeCodeOriginAndCalendar) {
  EXPECT_EQ(hbk::timecode_to_us(0), std::int64_t(32829) * 86400 * 1'000'000);
  const hbk::CalendarTime origin = hbk::timecode_to_datetime(0);
  EXPECT_EQ(origin.year, 1989);
  EXPECT_EQ(origin.month, 11);
  EXPECT_EQ(origin.day, 17);
  EXPECT_EQ(origin.jday, 321);
  EXPECT_EQ(origin.hour, 0);

  // Seconds past a whole day carry into the following days.
  const std::uint32_t carry = hbktest::make_timecode(0, 86400 + 3661);
  EXPECT_EQ(hbk::timecode_to_us(carry) - hbk::timecode_to_us(0), std::int64_t(90061) * 1'000'000);
  const hbk::CalendarTime c = hbk::timecode_to_datetime(carry);
  EXPECT_EQ(c.day, 18);
  EXPECT_EQ(c.hour, 1);
  EXPECT_EQ(c.minute, 1);
  EXPECT_EQ(c.second, 1);

  const hbk::CalendarTime leap_end =
      hbk::timecode_to_datetime(hbktest::timecode_for_date(2020, 12, 31, 86399));
  EXPECT_EQ(leap_end.year, 2020);
  EXPECT_EQ(leap_end.jday, 366);
  EXPECT_EQ(leap_end.second, 59);
  // The largest day count stays within 64-bit arithmetic and the calendar.
  EXPECT_GT(hbk::timecode_to_us(0xFFFFFFFF), hbk::timecode_to_us(0));
}

TEST(HbkTime, FractionOffsetForEveryNonZeroRate) {
  struct Case {
    std::uint8_t code;
    unsigned fraction;
    std::int64_t offset_us;
  } cases[] = {
      {171, 3, 375'000},  {181, 3, 187'500}, {174, 1, 500'000},   {176, 2, 500'000},
      {179, 8, 1'000'000}, {100, 1, 2'500'000}, {3, 1, 83'333'333}, {200, 0, 0},
  };
  for (const Case& c : cases) {
    BlockFields fields;
    fields.timecode = 1234;
    fields.rate_code = c.code;
    fields.fraction = c.fraction;
    const hbk::Block b = host_block(fields);
    EXPECT_EQ(hbk::block_start_time(b) - hbk::timecode_to_us(1234), c.offset_us)
        << "code " << int(c.code) << " fraction " << c.fraction;
  }
}

TEST(HbkTime, DurationAndEnd) {
  BlockFields fields;
  fields.rate_code = 3;
  fields.compression = 4;
  fields.diffs.assign(1000, 0);
  hbk::Block b = host_block(fields);
  EXPECT_EQ(hbk::block_duration(b), 333'333'333);

  fields.rate_code = 100;
  fields.fraction = 1;
  b = host_block(fields);
  EXPECT_EQ(hbk::block_duration(b), 10'000'000);
  EXPECT_EQ(hbk::block_end_time(b), hbk::block_start_time(b) + 10'000'000);
}

TEST(HbkSwap, RateCodeZeroConvertsOnlyTheIdentityWords) {
  BlockFields fields;
  fields.sysid = 0x01020304;
  fields.streamid = 0x05060708;
  fields.timecode = 0x0A0B0C0D;
  fields.rate_code = 0;
  fields.compression = 1;
  fields.initial = 0x11223344;
  fields.diffs = {0x55667788};
  const hbk::Block raw = encode_block(fields);
  hbk::Block b = raw;
  hbk::swap_block(b);
  EXPECT_EQ(hbk::block_sysid(b), 0x01020304u);
  EXPECT_EQ(hbk::block_streamid(b), 0x05060708u);
  EXPECT_EQ(hbk::block_timecode(b), 0x0A0B0C0Du);
  EXPECT_TRUE(std::equal(raw.begin() + 12, raw.end(), b.begin() + 12));
  EXPECT_EQ(hbk::block_start_time(b), hbk::timecode_to_us(0x0A0B0C0D));
  EXPECT_EQ(hbk::block_duration(b), 0);
}

TEST(HbkSwap, TrailingWordOfAFullBlockAndClampedCount) {
  BlockFields fields;
  fields.compression = 4;
  fields.diffs.assign(1000, 1);
  fields.trailing = 0xA1B2C3D4;
  hbk::Block b = host_block(fields);
  EXPECT_EQ(hbk::block_sample_count(b), 1000u);
  EXPECT_EQ(hbk::host_u32_at(b, 1020), 0xA1B2C3D4u);
  EXPECT_TRUE(hbk::block_is_valid(b));
  EXPECT_EQ(samples_of(b).back(), 1000);

  // A count above the limit is still converted inside the buffer, never past it.
  fields.compression = 1;
  fields.diffs.assign(250, 7);
  fields.record_count = 255;
  b = host_block(fields);
  EXPECT_FALSE(hbk::block_is_valid(b));
  EXPECT_EQ(hbk::host_i32_at(b, hbk::off::records + 4 * 249), 7);
  EXPECT_EQ(hbk::host_u32_at(b, 1020), 0xA1B2C3D4u);
  EXPECT_TRUE(samples_of(b).empty());
}

TEST(HbkValidity, RecordCountAndCompression) {
  BlockFields fields;
  fields.diffs = {1, 2, 3, 4};
  for (unsigned comp : {0u, 3u, 5u, 6u, 7u}) {
    fields.compression = comp;
    EXPECT_FALSE(hbk::block_is_valid(host_block(fields))) << comp;
  }
  for (unsigned comp : {1u, 2u, 4u}) {
    fields.compression = comp;
    EXPECT_TRUE(hbk::block_is_valid(host_block(fields))) << comp;
  }
  fields.compression = 1;
  fields.record_count = 250;
  EXPECT_TRUE(hbk::block_is_valid(host_block(fields)));
  fields.record_count = 251;
  EXPECT_FALSE(hbk::block_is_valid(host_block(fields)));
  // The rate code is no part of validity.
  fields.record_count.reset();
  fields.rate_code = 0;
  EXPECT_TRUE(hbk::block_is_valid(host_block(fields)));
}

TEST(HbkExpand, EachCompressionAddsSignedDifferencesInOrder) {
  BlockFields fields;
  fields.initial = 1000;
  fields.diffs = {5, -3, 0x7FFF, -0x8000, 2, -1, 1, 0};

  fields.compression = 1;
  EXPECT_EQ(samples_of(host_block(fields)),
            (std::vector<std::int32_t>{1005, 1002, 33769, 1001, 1003, 1002, 1003, 1003}));
  fields.compression = 2;
  EXPECT_EQ(samples_of(host_block(fields)),
            (std::vector<std::int32_t>{1005, 1002, 33769, 1001, 1003, 1002, 1003, 1003}));

  fields.compression = 4;
  fields.diffs = {5, -3, 127, -128, 2, -1, 1, 0};
  EXPECT_EQ(samples_of(host_block(fields)),
            (std::vector<std::int32_t>{1005, 1002, 1129, 1001, 1003, 1002, 1003, 1003}));
}

TEST(HbkExpand, SixteenBitPairsLowerOffsetFirstAndFfffIsMinusOne) {
  // Written byte by byte so the test does not share the encoder's packing.
  hbk::Block raw{};
  raw[hbk::off::rate_code] = 100;
  raw[hbk::off::packing] = 2;
  raw[hbk::off::record_count] = 1;
  const std::uint8_t body[] = {0x00, 0x00, 0x00, 0x0A, 0xFF, 0xFF, 0x00, 0x03};
  std::copy(std::begin(body), std::end(body), raw.begin() + hbk::off::initial);
  hbk::swap_block(raw);
  EXPECT_EQ(samples_of(raw), (std::vector<std::int32_t>{9, 12}));
}

TEST(HbkExpand, AccumulatorWrapsSilently) {
  BlockFields fields;
  fields.compression = 4;
  fields.initial = 2'147'483'600;
  fields.diffs = {40, 10, -5};
  const std::vector<std::int32_t> s = samples_of(host_block(fields));
  ASSERT_EQ(s.size(), 4u);  // padded to a whole record with a zero difference
  EXPECT_EQ(s[0], 2'147'483'640);
  EXPECT_EQ(s[1], -2'147'483'646);
  EXPECT_EQ(s[2], 2'147'483'645);
  EXPECT_EQ(s[3], s[2]);
}

}  // namespace
