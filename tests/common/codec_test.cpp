// The header and field codecs every packet reader builds on.
#include <gtest/gtest.h>

#include <string>

#include "common/byte_order.h"
#include "common/digits.h"
#include "common/pkfile.h"
#include "tests/common/test_packet.h"

using namespace pktest;

TEST(Bcd, NibblesAboveNineAreTakenAtFaceValue) {
  const uint8_t a[] = {0x12, 0x34}, b[] = {0x99, 0x99}, c[] = {0xFF, 0xFF};
  EXPECT_EQ(pk::bcd2i(a, 2), 1234u);
  EXPECT_EQ(pk::bcd2i(b, 2), 9999u);
  EXPECT_EQ(pk::bcd2i(c, 2), 165u * 100 + 165u);
  EXPECT_EQ(pk::bcd2i(a, 1), 12u);
  char out[4] = {'x', 'x', 'x', 'x'};
  const uint8_t d[] = {0x1A, 0xF0};
  pk::unbcd(out, d, 2);
  EXPECT_EQ(std::string(out, 4), "1:?0");
}

TEST(Bcd, HeaderCenturyAndTimeString) {
  Packet p = test_packet("DT");
  EXPECT_EQ(pk::header_time_string(p.data()), "2003365235959900");
  p[3] = 0x85;
  EXPECT_EQ(pk::header_time_string(p.data()).substr(0, 4), "1985");
  p[3] = 0x84;
  EXPECT_EQ(pk::header_time_string(p.data()).substr(0, 4), "2084");
  EXPECT_EQ(pk::header_unit_id(p.data()), 0x1234);
  EXPECT_EQ(pk::header_seq_num(p.data()), 7u);
  EXPECT_EQ(pk::header_bpp(p.data()), 1024u);
}

TEST(ByteOrder, ReadersAndWriters) {
  const uint8_t fe[] = {0xFF, 0xFE};
  EXPECT_EQ(pk::be_i16(fe), -2);
  EXPECT_EQ(pk::be_u16(fe), 65534u);
  const uint8_t w[] = {0x84, 0x02, 0x03, 0x01};
  EXPECT_EQ(pk::be_u32(w), 0x84020301u);
  EXPECT_EQ(pk::be_i32(w), static_cast<int32_t>(0x84020301u));
  EXPECT_EQ(pk::u32be_at(w, 0), 0x84020301u);
  EXPECT_EQ(pk::u16be_at(w, 2), 0x0301u);

  uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  pk::put_be16(out, 0x1234u);
  EXPECT_EQ(pk::be_u32(out), 0x1234AAAAu);
  pk::put_be32(out, 0x11223344u);
  EXPECT_EQ(pk::be_u32(out), 0x11223344u);
  pk::put_le32(out, 0x11223344u);
  EXPECT_EQ(pk::be_u32(out), 0x44332211u);
  EXPECT_EQ(pk::byte_swapped(0x11223344u), 0x44332211u);
}

TEST(TimeString, AddCarriesAcrossTheYear) {
  const uint8_t twenty[] = {0x00, 0x20};
  std::string t = "2003365235959900";
  pk::add_str_tim(t, 100.0f, twenty);
  EXPECT_EQ(t, "2004001000000100");

  // a leap year has a day 366
  t = "2004365235959900";
  pk::add_str_tim(t, 100.0f, twenty);
  EXPECT_EQ(t, "2004366000000100");
  t = "2004366235959900";
  pk::add_str_tim(t, 100.0f, twenty);
  EXPECT_EQ(t, "2005001000000100");

  // 1 sample at 3 Hz: 333.33 ms truncated
  const uint8_t one[] = {0x00, 0x01};
  t = "2003001000000000";
  pk::add_str_tim(t, 3.0f, one);
  EXPECT_EQ(t, "2003001000000333");

  // rate 0 leaves the milliseconds alone but still normalises
  t = "2003001000000999";
  pk::add_str_tim(t, 0.0f, one);
  EXPECT_EQ(t, "2003001000000999");
}

TEST(TimeString, UnusualFieldsAsPrintfWritesThem) {
  const uint8_t one[] = {0x00, 0x01};
  std::string t = "2003001000000000";
  pk::add_str_tim(t, -3.0f, one);  // a negative rate takes the milliseconds below zero
  EXPECT_EQ(t, "2003001000000" + std::to_string(static_cast<unsigned long>(-333L)));
  t = "2003999000000000";  // days beyond the year roll into the next ones
  pk::add_str_tim(t, 100.0f, one);
  EXPECT_EQ(t, "2005268000000010");
}

TEST(Digits, PaddedAsPrintf) {
  struct Case { unsigned long v; std::size_t width; unsigned base; const char* fmt; };
  for (const Case c : {Case{0, 5, 10, "%05lu"}, Case{7, 2, 10, "%02lu"}, Case{123456, 5, 10, "%05lu"},
                       Case{0x9A21, 4, 16, "%04lX"}, Case{0xB, 4, 16, "%04lX"}, Case{0xBEEF1, 4, 16, "%04lX"},
                       Case{~0ul, 3, 10, "%03lu"}}) {
    char want[32], got[32];
    std::snprintf(want, sizeof want, c.fmt, c.v);
    *pk::put_padded(got, c.v, c.width, c.base) = '\0';
    EXPECT_STREQ(got, want);
  }
}

TEST(PackedTime, SplitIntoText) {
  const uint8_t day2[] = {0x26, 0x01, 0x51, 0x80};  // year bits 19, 86400 s
  EXPECT_EQ(pk::secs_split(day2), "2003002000000");
  const uint8_t hour[] = {0x2A, 0x00, 0x0E, 0x10};
  EXPECT_EQ(pk::secs_split(hour), "2005001010000");
  const uint8_t start[] = {0x02, 0x00, 0x00, 0x00};
  EXPECT_EQ(pk::secs_split(start), "1985001000000");
  const uint8_t last[] = {0xFF, 0xFF, 0xFF, 0xFF};  // 127 + 1984, 33554431 s
  EXPECT_EQ(pk::secs_split(last), "2111389084031");
}

TEST(HexLine, BytesAndPrintableCharacters) {
  uint8_t a[16];
  std::fill(std::begin(a), std::end(a), 0x41);
  EXPECT_EQ(pk::hex_str(a), "41 41 41 41 41 41 41 41 - 41 41 41 41 41 41 41 41   AAAAAAAAAAAAAAAA");
  const uint8_t m[16] = {0x00, 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'};
  const std::string s = pk::hex_str(m);
  EXPECT_EQ(s.size(), 68u);
  EXPECT_EQ(s, "00 1F 20 7E 7F 80 FF 61 - 62 63 64 65 66 67 68 69   .. ~...abcdefghi");
}

TEST(PacketType, TwoLetterCodes) {
  const char* types[] = {"EH", "ET", "DT", "SH", "SC", "DS", "CD", "OM", "AD", "DR", "NH", "NT"};
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(static_cast<int>(pk::code_set(reinterpret_cast<const uint8_t*>(types[i]))), i + 1) << types[i];
  for (const char* other : {"XX", "dt", "HE", "D ", "TD"})
    EXPECT_EQ(pk::code_set(reinterpret_cast<const uint8_t*>(other)), pk::PacketType::unknown) << other;
}
