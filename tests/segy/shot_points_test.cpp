// The shot-point list of PK_EDF.EDF and the choice of an event's shot point.
#include <gtest/gtest.h>

#include "segy/shot_points.h"

namespace {

using namespace pk::segy;

pk::time_tag at(int year, int day, int hour, int min, int sec) {
  pk::time_tag t;
  t.year = static_cast<int16_t>(year);
  t.day = static_cast<int16_t>(day);
  t.hour = static_cast<int16_t>(hour);
  t.min = static_cast<int16_t>(min);
  t.sec = static_cast<int16_t>(sec);
  return t;
}

TEST(ShotPointTime, FractionalYearCountsDaysOutOf365Or366) {
  EXPECT_DOUBLE_EQ(convert_time_to_year(at(2003, 1, 12, 0, 0)), 2003 + 1.5 / 365);
  EXPECT_DOUBLE_EQ(convert_time_to_year(at(2004, 366, 0, 0, 0)), 2005.0);
  EXPECT_DOUBLE_EQ(convert_time_to_year(at(2003, 100, 6, 30, 30)), 2003 + (100 + (6 + 30.5 / 60) / 24) / 365);
  // Years divisible by 4 count 366 days even where the calendar has 365.
  EXPECT_DOUBLE_EQ(convert_time_to_year(at(1900, 183, 0, 0, 0)), 1900.5);
  EXPECT_LT(convert_time_to_year(at(2003, 123, 14, 5, 21)), convert_time_to_year(at(2003, 123, 14, 5, 22)));
}

TEST(ShotPointFile, KeepsOnlyWellFormedLinesOfTheUnit) {
  const char* text =
      "; shot points of the 2003 line\r\n"
      "12 9A21 0 2003:123:14:05:22\r\n"
      "13 9a21 7 2003:123:14:10:00\n"
      "14 1234 0 2003:123:14:07:00\n"       // another unit
      " 15 9A21 0 2003:123:14:20:00\n"      // does not start with a digit
      "16 9A21 0 2003:123\n"                // time cut short
      "17 9A21 2003:123:14:30:00\n"         // the ignored number is missing
      "40000   9A21   5   2003: 124 :1:2:3"  // wide blanks, no final line end
      ;
  const auto list = parse_shot_points(text, 0x9A21);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].sp, 12);
  EXPECT_EQ(list[0].sp_time.year, 2003);
  EXPECT_EQ(list[0].sp_time.day, 123);
  EXPECT_EQ(list[0].sp_time.hour, 14);
  EXPECT_EQ(list[0].sp_time.min, 5);
  EXPECT_EQ(list[0].sp_time.sec, 22);
  EXPECT_EQ(list[1].sp, 13);
  EXPECT_EQ(list[2].sp, 40000);
  EXPECT_EQ(list[2].sp_time.day, 124);
  EXPECT_EQ(list[2].sp_time.sec, 3);

  EXPECT_TRUE(parse_shot_points("", 0x9A21).empty());
  EXPECT_TRUE(parse_shot_points(text, 0x0001).empty());
}

TEST(ShotPointList, SortedBetweenHeadAndClosingEntries) {
  const char* text =
      "3 0001 0 2003:200:00:00:00\n"
      "1 0001 0 2003:100:00:00:00\n"
      "2 0001 0 2003:150:00:00:00\n";
  const auto list = shot_point_list(text, 1);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list.front().sp_time.year, 0);
  EXPECT_EQ(list[1].sp, 1);
  EXPECT_EQ(list[2].sp, 2);
  EXPECT_EQ(list[3].sp, 3);
  EXPECT_EQ(list.back().sp_time.year, 9999);
}

TEST(ShotPointScan, PicksTheLastShotBeforeTheEvent) {
  const char* text =
      "10 0001 0 2003:123:14:00:00\n"
      "20 0001 0 2003:123:15:00:00\n"
      "30 0001 0 2003:123:16:00:00\n";
  const auto list = shot_point_list(text, 1);
  EXPECT_EQ(find_shot_point(list, at(2003, 123, 13, 59, 59)), std::nullopt);
  // The first listed shot point is not earlier than an event at the same second.
  EXPECT_EQ(find_shot_point(list, at(2003, 123, 14, 0, 0)), std::nullopt);
  EXPECT_EQ(find_shot_point(list, at(2003, 123, 14, 0, 1)), 10);
  EXPECT_EQ(find_shot_point(list, at(2003, 123, 15, 0, 0)), 10);
  EXPECT_EQ(find_shot_point(list, at(2003, 123, 15, 30, 0)), 20);
  EXPECT_EQ(find_shot_point(list, at(2004, 1, 0, 0, 0)), 30);
  EXPECT_EQ(find_shot_point(shot_point_list("", 1), at(2003, 123, 15, 30, 0)), std::nullopt);
}

}  // namespace
