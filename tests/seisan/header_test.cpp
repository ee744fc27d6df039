#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "seisan/seis_block.h"
#include "seisan/seis_header.h"

using namespace pk::seis;

namespace {

// The framed bytes of one record, in PC blocks.
std::string frame_record(std::string_view bytes) {
  std::ostringstream out;
  record_writer(pk::seis::SeiFraming::pc_blocks, out)->record(bytes);
  return out.str();
}

std::string line_of(const std::string& hd, int line) { return hd.substr(file_col(line, 1), kLineCols); }

std::string line1(std::string_view network, const std::string& time) {
  std::string hd = blank_file_header();
  fill_file_line1(hd, network, seis_time(time));
  return line_of(hd, 1);
}

std::string chan_head(const std::string& time, std::string_view station = "9A21", std::string_view comp = "11Z ") {
  std::string ch = blank_channel_header();
  fill_channel_header(ch, station, comp, seis_time(time));
  return ch;
}

}  // namespace

TEST(SeisFileHeader, LineOneColumnByColumn) {
  // 2005, day 283 = 10 October, 07:00:05.250
  EXPECT_EQ(line1("PELKAN NETWORK", "2005283070005250"),
            " PELKAN NETWORK                  105 283 10 10  7  0  5.250" + std::string(21, ' '));
  // 1999 has no century digit; 31 December of a common year; a leading zero second blanked
  EXPECT_EQ(line1("NET", "1999365230908001").substr(32, 27), "  99 365 12 31 23  9  8.001");
  // day 60 of a leap year is 29 February, of a common year 1 March
  EXPECT_EQ(line1("N", "2004060000000000").substr(41, 5), " 2 29");
  EXPECT_EQ(line1("N", "2003060000000000").substr(41, 5), " 3  1");
  EXPECT_EQ(line1("N", "2103001000000000")[33], '2');
}

TEST(SeisFileHeader, NetworkIsCutAndNeverOverflows) {
  const std::string forty(40, 'X');
  EXPECT_EQ(line1(forty, "2003001000000000").substr(1, 30), std::string(29, 'X') + " ");
  std::string hd = blank_file_header();
  fill_file_line1(hd, std::string(5000, 'Y'), seis_time("2003001000000000"));
  EXPECT_EQ(hd.size(), kFileHeaderSize);
  EXPECT_EQ(network_text(""), "PELKAN NETWORK");
  EXPECT_EQ(network_text("ABC\r"), "ABC");
  EXPECT_EQ(network_text("ABC\r\r"), "ABC\r");  // only one is removed
}

TEST(SeisFileHeader, CountTotalTimeAndEntries) {
  std::string hd = blank_file_header();
  EXPECT_TRUE(set_channel_count(hd, 6));
  EXPECT_EQ(hd.substr(file_col(1, 31), 3), "  6");
  EXPECT_FALSE(set_channel_count(hd, 1000));
  EXPECT_EQ(hd.substr(file_col(1, 31), 3), "   ");
  set_total_time(hd, 4.99967);  // further decimals are dropped, not rounded
  EXPECT_EQ(hd.substr(file_col(1, 61), 9), "    4.999");
  set_total_time(hd, 123456.0);
  EXPECT_EQ(hd.substr(file_col(1, 61), 9), "         ");

  for (int i = 0; i < kMaxEntries; ++i) {
    const std::string e = channel_entry("ST" + std::to_string(i % 10) + "X", component(0, static_cast<uint32_t>(i), ""),
                                        i == 1 ? 0.25 : 0.0, 5.0);
    ASSERT_EQ(e.size(), kEntryCols);
    EXPECT_TRUE(put_entry(hd, i, e));
  }
  EXPECT_FALSE(put_entry(hd, kMaxEntries, std::string(kEntryCols, '#')));
  EXPECT_EQ(hd.size(), kFileHeaderSize);
  EXPECT_EQ(line_of(hd, 3), " ST0X11Z     0.00     5.00 ST1X12N     0.25     5.00 ST2X13E     0.00     5.00  ");
  EXPECT_EQ(line_of(hd, 4).substr(0, 27), " ST3X14Z     0.00     5.00 ");
  // Channels from 10 on are letters in the component, as in the log.
  EXPECT_EQ(line_of(hd, 6).substr(0, 9), " ST9X1AZ ");
  EXPECT_EQ(line_of(hd, 12).substr(52, 28), " ST9X1UE     0.00     5.00  ");
  EXPECT_EQ(hd.find('#'), std::string::npos);

  // One line per three channels beyond thirty, the twelve lines at least.
  const std::pair<std::size_t, int> lines[] = {{0, 12}, {30, 12}, {31, 13}, {33, 13}, {34, 14}, {48, 18}};
  for (const auto& [channels, n] : lines) EXPECT_EQ(file_lines(channels), n) << channels;
  widen_file_header(hd, 31);
  EXPECT_EQ(hd.size(), kFileHeaderSize + kLineCols);
  EXPECT_TRUE(put_entry(hd, 30, std::string(kEntryCols, '#')));
  EXPECT_EQ(line_of(hd, 13), std::string(kEntryCols, '#') + std::string(kLineCols - kEntryCols, ' '));
  EXPECT_FALSE(put_entry(hd, 33, "x"));
}

TEST(SeisFileHeader, EntryNumberForms) {
  EXPECT_EQ(channel_entry("A", "11Z ", 0.0, std::nullopt), " A   11Z     0.00         ");
  EXPECT_EQ(channel_entry("ABCD", "11Z ", 1234.567, 99999.994).substr(10), "1234.57 99999.99");
  EXPECT_EQ(channel_entry("ABCD", "11Z ", 10000.0, 100000.0).substr(10), std::string(16, ' '));
  EXPECT_EQ(fixed_text(2.0 / 3.0, 8, 5, 2, Decimals::round), "    0.67");
  EXPECT_EQ(fixed_text(-0.0101, 9, 5, 3, Decimals::truncate), "   -0.010");
  EXPECT_EQ(fixed_text(std::numeric_limits<double>::infinity(), 9, 5, 3, Decimals::truncate), std::nullopt);
}

TEST(SeisChannelHeader, ColumnsAndResponseBlock) {
  const std::string ch = chan_head("2005283070005250");
  ASSERT_EQ(ch.size(), kChanHeaderSize);
  EXPECT_EQ(ch.substr(0, 80), "9A21 11Z 105 283 10 10 07 00 05.250" + std::string(41, ' ') + "4   ");
  EXPECT_EQ(ch.substr(80, 80), std::string(80, ' '));
  EXPECT_EQ(ch[160], '9');
  EXPECT_EQ(ch.substr(161), std::string(879, ' '));
  EXPECT_EQ(chan_head("1999001000000000").substr(9, 3), " 99");
}

TEST(SeisChannelHeader, RateAndSampleCount) {
  std::string ch = chan_head("2003001000000000");
  EXPECT_TRUE(set_rate_and_count(ch, rate_text(100.0), 500));
  EXPECT_EQ(ch.substr(36, 14), " 100.00    500");
  EXPECT_TRUE(set_rate_and_count(ch, rate_text(5.0), 999999));
  EXPECT_EQ(ch.substr(36, 14), "   5.0  999999");
  // From a million on the count takes column 44 as well.
  EXPECT_TRUE(set_rate_and_count(ch, rate_text(0.5), 1000000));
  EXPECT_EQ(ch.substr(36, 14), "   0.501000000");
  EXPECT_TRUE(set_rate_and_count(ch, rate_text(100.0), kMaxChannelSamples));
  EXPECT_EQ(ch.substr(36, 14), " 100.009999999");
  EXPECT_FALSE(set_rate_and_count(ch, rate_text(0.5), kMaxChannelSamples + 1));
  EXPECT_EQ(ch.substr(36, 14), "   0.50       ");
  EXPECT_EQ(ch[76], '4');

  const std::pair<double, const char*> rates[] = {
      {40.0, "  40.00"}, {1000.0, "1000.00"}, {33.3333333, "  33.33"},
      {2.75, "   2.7 "},  // one integer digit, one decimal
      {1.0, "   1.0 "},    {10000.0, "       "},
      {0.1f, "   0.10"},   // below 1: two decimals, further ones dropped
      {0.5, "   0.50"},    {0.0667, "   0.06"},  {0.999, "   0.99"},
      {0.004, "0.00400"},  {0.0000099, "       "},  // too slow to show in seven columns
      {0.0, "       "},    {-5.0, "       "},
  };
  for (const auto& [rate, text] : rates) EXPECT_EQ(rate_text(rate), text) << rate;
}

TEST(SeisIdentity, StationCodeAndComponents) {
  EXPECT_EQ(station_code("", 0xA12F), "A12F");
  EXPECT_EQ(station_code("", 0x00b1), "00B1");
  EXPECT_EQ(station_code("LONGNAME", 0xA12F), "LONG");
  EXPECT_EQ(station_code("AB", 1), "AB");

  // built-in letters, going on in the same pattern past the sixth channel
  std::string letters;
  for (uint32_t c = 0; c < 9; ++c) letters += component_letter("", c);
  EXPECT_EQ(letters, "ZNEZNEZNE");
  EXPECT_EQ(component(0, 0, ""), "11Z ");
  EXPECT_EQ(component(0, 1, ""), "12N ");
  EXPECT_EQ(component(1, 2, ""), "23E ");
  EXPECT_EQ(component(0, 8, ""), "19E ");
  EXPECT_EQ(component(0, 9, ""), "1AZ ");
  EXPECT_EQ(component(0, 34, ""), "1ZN ");
  EXPECT_EQ(component(0, 35, ""), "1?E ");
  EXPECT_EQ(component(0, 500, "ZZZZZZZZZZZZZZZZ"), "1?E ");

  std::string ini(kIniChannels, '\0');
  ini[0] = 'X';
  ini[2] = 'Y';
  ini[15] = 'W';
  EXPECT_EQ(component_letter(ini, 0), 'X');
  EXPECT_EQ(component_letter(ini, 1), 'N');  // no letter for this channel
  EXPECT_EQ(component_letter(ini, 2), 'Y');
  EXPECT_EQ(component_letter(ini, 15), 'W');
  EXPECT_EQ(component_letter(ini, 16), 'N');
  EXPECT_EQ(component_letter(ini, 4000000000u), kComponentLetters[4000000000u % 6]);
  ini[0] = '\0';  // letters count only when the first channel has one
  EXPECT_EQ(component_letter(ini, 2), 'E');
}

TEST(SeisBlocks, FramingByRecordLength) {
  EXPECT_EQ(frame_record(""), "");
  const std::string line(80, 'L');
  EXPECT_EQ(frame_record(line), "\x50" + line + "\x50");

  std::string data(128, 'a');
  EXPECT_EQ(frame_record(data), "\x81" + data + "\x81");
  data += 'b';
  EXPECT_EQ(frame_record(data), std::string("\x81") + data.substr(0, 128) + "\x81" + "\x01" "b" "\x01");

  std::string header(1040, ' ');
  header[1039] = '!';
  const std::string framed = frame_record(header);
  EXPECT_EQ(framed.size(), 8u * 130 + 18);
  EXPECT_EQ(framed.substr(framed.size() - 18), std::string("\x10") + header.substr(1024) + "\x10");

  // a record split across writes frames the same as written at once
  std::ostringstream out;
  BlockWriter w(out);
  w.write(header.substr(0, 100));
  w.write(header.substr(100));
  w.end_record();
  w.record("xy");
  EXPECT_EQ(out.str(), framed + "\x02xy\x02");
  EXPECT_TRUE(w.fits(uint64_t{1} << 40));
}

TEST(SeisBlocks, LengthFramingOfRecordsWrittenInPiecesAndItsLimit) {
  std::ostringstream out;
  LengthWriter w(out);
  w.begin_record(5);
  w.write("ab");
  w.write("cde");
  w.end_record();
  EXPECT_EQ(out.str(), std::string("\x05\0\0\0" "abcde" "\x05\0\0\0", 13));
  EXPECT_TRUE(w.fits(2147483647u));
  EXPECT_FALSE(w.fits(2147483648u));
  EXPECT_THROW(w.begin_record(2147483648u), std::length_error);
  EXPECT_EQ(out.str().size(), 13u);  // nothing of a refused record is written
}
