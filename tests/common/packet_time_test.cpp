// The 16-character packet times on the calendar: order and differences, across year ends
// and leap years, and the texts that are no whole time.
#include <gtest/gtest.h>

#include "common/packet_time.h"

namespace {

using pk::PacketTime;

struct Order {
  const char* a;
  const char* b;
  bool a_later;
};

TEST(PacketTime, IsLater) {
  const Order cases[] = {
      {"2003123140522057", "2003123140522056", true},
      {"2003123140522056", "2003123140522056", false},
      {"2003123140522056", "2003123140522057", false},
      {"2002365235959999", "2003001000000000", false},
      // Day 366 of a leap year is the last of the year, not the first of the next.
      {"2025001000000000", "2024366235959999", true},
      {"2024366000000000", "2025001000000000", false},
      // A day past the end of a common year is the next year's first.
      {"2003366000000000", "2004001000000000", false},
      {"2004001000000000", "2003366000000000", false},
      {"2000366120000000", "2000365120000000", true},
      // Garbage reads as far as it goes; an empty text is the earliest of these.
      {"::::", "", false},
      {"2003123", "", true},
  };
  for (const Order& c : cases)
    EXPECT_EQ(pk::is_later(PacketTime(c.a), PacketTime(c.b)), c.a_later) << c.a << " vs " << c.b;
}

struct Difference {
  const char* from;
  const char* to;
  double seconds;
};

TEST(PacketTime, SecondsBetween) {
  const Difference cases[] = {
      {"2003123140522000", "2003123140523250", 1.25},
      {"2003123140523250", "2003123140522000", -1.25},
      {"2024366235959900", "2025001000000100", 0.2},
      {"2023365235959900", "2024001000000100", 0.2},
      {"2024001000000000", "2025001000000000", 366 * 86400.0},
      {"2023001000000000", "2024001000000000", 365 * 86400.0},
      {"2100001000000000", "2101001000000000", 365 * 86400.0},
      {"2000001000000000", "2001001000000000", 366 * 86400.0},
      // Fewer than three millisecond characters count hundredths.
      {"200312314052200", "200312314052325", 1.25},
      {"2003123140522 5", "2003123140522250", 0.2},
      {"2003123140522", "2003123140523", 1.0},
  };
  for (const Difference& c : cases)
    EXPECT_DOUBLE_EQ(pk::seconds_between(PacketTime(c.from), PacketTime(c.to)), c.seconds) << c.from << " to " << c.to;
}

TEST(PacketTime, KeepsItsText) {
  const PacketTime t("2003123140522057");
  EXPECT_EQ(t.text(), "2003123140522057");
  EXPECT_TRUE(t.complete());
  EXPECT_FALSE(PacketTime("2003123").complete());
  EXPECT_FALSE(PacketTime().complete());
}

}  // namespace
