// The packet dumps. Most are one table row each: a packet whose text fields each hold
// their own letter, and what every line of the dump shows after its label. A field read
// at a wrong offset or width shows a mixed or cut text, swapped fields show out of order,
// a lost line end splits the lines differently; a few whole lines check the labels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/log.h"
#include "tests/common/test_packet.h"
#include "tests/support/testkit.h"

using namespace pktest;
using testkit::capture;

namespace {

using Dump = void (*)(std::FILE*, const uint8_t*);

// The lines of a dump without their CR LF; any other line end fails the test.
std::vector<std::string> crlf_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
    lines.push_back(text.substr(from, at - from));
  EXPECT_EQ(from, text.size()) << "text after the last CR LF";
  for (const std::string& line : lines) EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
  return lines;
}

// A body or entry line shows what follows its 36-column label; any other line shows whole.
std::string shown(const std::string& line) {
  const bool labelled = line.size() >= 36 && line.starts_with("     ") && line.compare(34, 2, ": ") == 0;
  return labelled ? line.substr(36) : line;
}

struct Field {
  std::size_t off, width;
  bool marks = false;  // one character per channel, a blank shown as '_'
};

// A packet and what its dump must show, built side by side.
class Case {
 public:
  explicit Case(const char* type, uint8_t fill = ' ') : p_(test_packet(type, fill)) {}
  Packet& packet() { return p_; }
  const Packet& packet() const { return p_; }
  const std::vector<std::string>& shown() const { return shown_; }
  const std::vector<std::pair<std::size_t, std::string>>& whole() const { return whole_; }

  // Each field its own letter and a closing blank, expected on the next lines in order.
  Case& lettered(std::size_t base, std::initializer_list<Field> fields) {
    for (const Field& f : fields) {
      const std::string text(f.width - 1, next_letter());
      put_text(p_, base + f.off, text + ' ');
      shown_.push_back(text + (f.marks ? '_' : ' '));
    }
    return *this;
  }
  // Fields back to back from `base`.
  Case& lettered_run(std::size_t base, std::initializer_list<std::size_t> widths) {
    for (std::size_t w : widths) {
      lettered(base, {{0, w}});
      base += w;
    }
    return *this;
  }
  Case& shows(std::initializer_list<std::string> lines) {
    shown_.insert(shown_.end(), lines);
    return *this;
  }
  // The whole of the line last expected.
  Case& line(const std::string& text) {
    whole_.emplace_back(shown_.size() - 1, text);
    return *this;
  }
  // Its label: five blanks and 29 columns in a body, six blanks and 28 columns in an entry.
  Case& body(std::string label) { return line("     " + padded(label, 29) + ": " + shown_.back()); }
  Case& entry(std::string label) { return line("      " + padded(label, 28) + ": " + shown_.back()); }

 private:
  static std::string padded(std::string s, std::size_t width) {
    s.resize(std::max(width, s.size()), ' ');
    return s;
  }
  char next_letter() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    return kLetters[letters_++ % (sizeof kLetters - 1)];
  }
  Packet p_;
  std::vector<std::string> shown_;
  std::vector<std::pair<std::size_t, std::string>> whole_;
  std::size_t letters_ = 0;
};

// ---- EH, ET, NH, NT ----

// What the four share: the four times, the rate (with a MES block it runs over the trigger
// type) and the stream name.
Case event_packet(const char* type, bool mes) {
  Case c(type);
  c.lettered(96, {{0, 16}}).body("Trigger time").lettered_run(112, {16, 16, 16}).body("Last sample time");
  if (mes)
    c.lettered(88, {{0, 8}}).body("Sample rate");
  else
    c.lettered(88, {{0, 4}, {4, 4}}).body("Trigger type");
  c.lettered(64, {{0, 24}}).body("Stream Name");
  return c;
}

// Channels 1 and 12; channel 2's bit weight starts with a blank and is left out.
void channel_table(Case& c) {
  Packet& p = c.packet();
  put_text(p, 160, "1.59uV  ");
  put_text(p, 168, " 9.9uV  ");
  put_text(p, 160 + 8 * 11, "2.00uV  ");
  put_text(p, 288, "x32 ");
  put_text(p, 288 + 4 * 11, "x1  ");
  put_text(p, 352, "2.5V    ");
  put_text(p, 352 + 8 * 11, "5V      ");
  c.shows({"BitWght   Gain  FSVoltage"}).body("Channel Information");
  c.shows({"1.59uV    x32   2.5V    ", "2.00uV    x1    5V      "});
  c.line("                   Channel 12     : 2.00uV    x1    5V      ");
}

Case eh_just_long_enough() {
  Case c = event_packet("EH", false);
  put_bytes(c.packet(), 12, {0x00, 0x58});
  channel_table(c);
  return c;
}

Case et_with_mes_dau() {
  Case c = event_packet("ET", true);
  channel_table(c);
  c.lettered(0, {{960, 8}}).body("MES-DAU Version");
  c.lettered(0, {{968, 8}, {976, 8}, {984, 8}, {992, 8}, {1000, 8}, {1012, 4}, {1016, 2}, {1018, 4}, {944, 10}});
  return c.lettered(0, {{954, 6}}).body("MES-DAU Overscale Count");
}

// 57 bytes or fewer: the first 31 characters of the trigger message and nothing else.
Case eh_short() {
  Case c("EH");
  put_bytes(c.packet(), 12, {0x00, 0x57});
  put_text(c.packet(), 24, "123456789012345678901234567890123");
  return c.shows({"1234567890123456789012345678901"});
}

Case nt_with_mes_cru() {
  Case c = event_packet("NT", true);
  c.lettered(0, {{960, 8}, {968, 8}, {976, 8}, {984, 8}}).body("MES-CRU Transmitter Site");
  c.lettered(0, {{992, 8}}).body("MES-CRU (Transmitter Freq)");
  return c.lettered(0, {{1000, 8}, {1012, 4}, {1016, 2}, {1018, 4}}).body("MES-CRU Data Channel Position");
}

Case nh_without_mes() { return event_packet("NH", false); }

// ---- SC, DS, CD, AD, OM ----

// Channel entries 1 and 3 used, 2, 4 and 5 blank.
Case sc_two_channels() {
  Case c("SC");
  c.lettered(16, {{0, 2}}).body("Experiment Number");
  c.lettered_run(18, {24, 40, 4, 24, 40, 12, 12, 14, 4, 10}).body("Time Clock S/N");
  for (std::size_t entry : {202 + 0 * 146, 202 + 2 * 146}) {
    c.shows({""}).lettered(entry, {{0, 2}}).entry("Channel Number");
    c.lettered_run(entry + 2, {10, 10, 10, 10, 10, 10, 4, 4, 4, 12, 12, 40, 8}).entry("Bit-count Voltage");
  }
  return c.shows({""});
}

// Stream entry k of a DS packet, up to its trigger type.
void ds_stream(Case& c, std::size_t k, const char* trigger) {
  const std::size_t e = 16 + 230 * k;
  c.lettered(e, {{0, 2}}).body("Data Stream No");
  c.lettered(e, {{2, 24}, {26, 16, true}, {42, 4}, {46, 2}}).body("Data Format");
  put_text(c.packet(), e + 64, trigger);
  c.shows({trigger});
}
std::size_t trigger_record(std::size_t k) { return 16 + 230 * k + 68; }

Case ds_event_and_timed() {
  Case c("DS");
  ds_stream(c, 0, " EVT");
  c.lettered(trigger_record(0), {{0, 16, true}}).entry("Trigger Channels");
  c.lettered(trigger_record(0), {{16, 2}, {18, 8}, {26, 8}, {34, 8}, {42, 8}, {58, 8}, {66, 8}, {74, 8}, {82, 8},
                                 {90, 8}, {98, 4}});
  c.entry("LTA hold").shows({""});
  ds_stream(c, 1, "TIM ");
  c.lettered(trigger_record(1), {{0, 14}, {14, 8}, {22, 4}}).entry("Number of Intervals");
  return c.lettered(trigger_record(1), {{34, 8}}).shows({""});
}

// Stream 2 blank; bytes past the fourth stream never form one.
Case ds_level_continuous_external() {
  Case c("DS");
  ds_stream(c, 0, "LEV ");
  c.lettered(trigger_record(0), {{0, 8}}).entry("Trigger Level").lettered_run(trigger_record(0) + 8, {8, 8});
  c.shows({""});
  ds_stream(c, 2, "con ");
  c.lettered(trigger_record(2), {{0, 8}}).entry("Record Length").shows({""});
  ds_stream(c, 3, "EXT ");
  c.lettered_run(trigger_record(3), {8, 8}).shows({""});
  put_text(c.packet(), 936, "5X reserved bytes never form a stream");
  return c;
}

Case ds_radio_cross_list_none() {
  Case c("DS");
  ds_stream(c, 0, "RAD ");
  c.lettered_run(trigger_record(0), {8, 8}).shows({""});
  ds_stream(c, 1, "CRS ");
  c.lettered_run(trigger_record(1), {2}).entry("Trigger Stream Number").lettered_run(trigger_record(1) + 2, {8, 8});
  c.shows({""});
  ds_stream(c, 2, "TML ");
  for (int k = 1; k <= 11; ++k) {
    char time[15], line[64];
    std::snprintf(time, sizeof time, "2003%03d12000%02d", 100 + k, k);
    std::snprintf(line, sizeof line, "   Start Time %02d               : %s", k, time);
    put_text(c.packet(), trigger_record(2) + 14 * (k - 1), time);
    c.shows({line});
  }
  c.lettered(trigger_record(2), {{154, 8}}).entry("Record Length").shows({""});
  ds_stream(c, 3, "Evt ");  // neither all upper nor all lower case: no trigger record
  put_text(c.packet(), trigger_record(3), "1 3             0210.0");
  return c.shows({""});
}

Case cd_step_off() {
  Case c("CD");
  c.lettered_run(16, {14, 8, 4, 8}).body("Length of Intervals");
  put_text(c.packet(), 50, "OFF 0.5     2       ");
  return c.shows({"OFF ", ""});
}

Case cd_step_on() {
  Case c("CD");
  c.lettered(16, {{0, 14}}).body("Start Time").lettered_run(30, {8, 4, 8});
  put_text(c.packet(), 50, "on  ");
  c.shows({"on  "}).body("Step").shows({""});
  c.lettered_run(54, {8, 8, 8}).body("Step Amplitude").lettered(78, {{0, 4}});
  return c.body("Step Output").shows({""});
}

Case ad_channels() {
  Case c("AD");
  put_text(c.packet(), 18, "12  5");
  c.shows({"12__5___________"}).body("Channels Included");
  c.lettered_run(34, {8, 2, 8}).body("Record Length");
  return c.shows({""});
}

// Wake-up entries 1 and 4 used.
Case om_flags_and_wakes() {
  Case c("OM");
  put_text(c.packet(), 16, "010212 DYN800030YnTO");
  c.shows({"01", "02", "1"}).body("Primary Disk ID").shows({"2", " "}).body("Tape ID").shows({"D"});
  c.shows({"Enabled"}).body("Auto-dump on ET Block").shows({"Disabled"}).body("Auto-dump in Serial Mode");
  c.shows({"80%"}).body("Auto-dump Threshold").shows({"0030 seconds"}).body("SCSI Powerdown Delay");
  c.shows({"Enabled", "Disabled"}).body("SCSI Directory");
  c.shows({"Toggle"}).body("SCSI Device Power").shows({"Always On"}).body("SCSI Termintor Power");
  c.shows({"     Wake Sequence Information"});
  put_text(c.packet(), 48, "01" "001120000000" "003600" "086400" "07");
  put_text(c.packet(), 48 + 64 * 3, "04" "002000000000" "000060" "000000" "01");
  c.shows({"", "01", "001120000000"}).entry("Start time").shows({"    003600"}).entry("Power Duration");
  c.shows({"    086400"}).entry("Repeat Interval").shows({"07"}).entry("Number of Intervals");
  return c.shows({"", "04", "002000000000", "    000060", "    000000", "01", ""});
}

// ---- DR ----

void dr_first_entry(Packet& p, std::size_t e) {
  put_u32be(p, e, 16);
  put_bytes(p, e + 4, {1, 2});
  put_u16be(p, e + 6, 80);
  put_u16be(p, e + 8, 0x0123);
  put_u16be(p, e + 10, 7);
  put_bytes(p, e + 12, {1, 0});
  put_u16be(p, e + 14, 2);
  put_text(p, e + 16, "STREAM1 CON ");
  put_bytes(p, e + 28, {0x2A, 0x00, 0x0E, 0x10});  // 2005, day 1, 01:00:00
  put_bytes(p, e + 32, {0x2A, 0x00, 0x0E, 0x10});
  put_u32be(p, e + 44, (19u << 25) | 86400u);       // 2003, day 2
  put_u16be(p, e + 48, 250);
  put_u16be(p, e + 50, 7);
  put_u16be(p, e + 52, 999);                        // milliseconds of an absent time are not shown
  put_u16be(p, e + 58, 0xC0);
  put_u32be(p, e + 60, 5);
  put_u32be(p, e + 64, 1234);
}

void dr_wide_entry(Packet& p, std::size_t e) {
  put_u32be(p, e, 17);
  put_u16be(p, e + 6, 80);
  put_u16be(p, e + 8, 0xFFFF);
  put_u16be(p, e + 10, 0xFFFF);
  put_bytes(p, e + 12, {255, 1});
  put_text(p, e + 16, "LONGNAMEEVT ");
  put_u16be(p, e + 58, 0x1234);
  put_u32be(p, e + 60, 0xFFFFFFFF);
  put_u32be(p, e + 68, 3);
}

// Sector addressing halves the locations; absent times show their label alone.
Case dr_two_entries() {
  Case c("DR", 0);
  Packet& p = c.packet();
  put_u32be(p, 16, 200);
  put_u32be(p, 20, 402);
  p[25] = 1;
  put_u16be(p, 26, 2);
  put_u32be(p, 28, 17);
  dr_first_entry(p, 32);
  dr_wide_entry(p, 112);
  c.shows({"0000000100"}).body("Prev Dir Location (Block)").shows({"0000000201"}).body("Next Dir Location (Block)");
  c.shows({"1"}).body("Block/Sector Flag").shows({"2"}).body("No of dir entries");
  c.shows({"17"}).body("Last Entry Number");
  c.shows({"", "16", "1", "2"}).entry("Entry Format").shows({"80", "0291"}).entry("Unit ID");
  c.shows({"7", "1", "0"}).entry("Event Trailer Flag").shows({"2", "STREAM1 ", "CON "}).entry("Trigger Type");
  c.shows({"C0"}).entry("Data Format").shows({"0000000105"}).entry("Data Location (Block)");
  c.shows({"0000001234"}).entry("Data Length (Blocks)").shows({"0"}).entry("Disk Errors (Blocks)");
  c.shows({"2005:001:01:00:00.250", "2005:001:01:00:00.007"}).entry("First sample time");
  c.shows({"", ""}).entry("Last sample time").shows({"2003:002:00:00:00.000"}).entry("Entry time");
  c.shows({"", "17", "0", "0", "80", "65535", "65535", "255", "1", "0", "LONGNAME", "EVT ", "1234"});
  return c.shows({"4294967395", "0000000000", "3", "", "", "", "", ""}).entry("Entry time");
}

struct DumpRow {
  const char* name;
  Dump dump;
  Case (*build)();
  friend void PrintTo(const DumpRow& row, std::ostream* os) { *os << row.name; }
};

const DumpRow kDumps[] = {
    {"EhJustLongEnough", pk::log_eh_et, eh_just_long_enough},
    {"EtWithMesDau", pk::log_eh_et, et_with_mes_dau},
    {"EhShortGivesTheTriggerMessage", pk::log_eh_et, eh_short},
    {"NhWithoutMes", pk::log_nh_nt, nh_without_mes},
    {"NtWithMesCru", pk::log_nh_nt, nt_with_mes_cru},
    {"ScTwoChannels", pk::log_sc, sc_two_channels},
    {"DsEventAndTimed", pk::log_ds, ds_event_and_timed},
    {"DsLevelContinuousExternal", pk::log_ds, ds_level_continuous_external},
    {"DsRadioCrossListNone", pk::log_ds, ds_radio_cross_list_none},
    {"CdStepOff", pk::log_cd, cd_step_off},
    {"CdStepOn", pk::log_cd, cd_step_on},
    {"AdChannels", pk::log_ad, ad_channels},
    {"OmFlagsAndWakes", pk::log_om, om_flags_and_wakes},
    {"DrTwoEntries", pk::log_dr, dr_two_entries},
};

class LogDump : public testing::TestWithParam<DumpRow> {};

TEST_P(LogDump, ShowsEveryFieldInOrder) {
  const Case c = GetParam().build();
  const std::vector<std::string> lines = crlf_lines(capture([&](std::FILE* f) { GetParam().dump(f, c.packet().data()); }));
  std::vector<std::string> values;
  std::transform(lines.begin(), lines.end(), std::back_inserter(values), shown);
  EXPECT_EQ(values, c.shown());
  for (const auto& [at, line] : c.whole()) EXPECT_EQ(at < lines.size() ? lines[at] : "<no line>", line);
}

INSTANTIATE_TEST_SUITE_P(Packets, LogDump, testing::ValuesIn(kDumps),
                         [](const testing::TestParamInfo<DumpRow>& row) { return std::string(row.param.name); });

}  // namespace

TEST(LogHead, NonEventTypesPadTheEventColumns) {
  const Packet p = test_packet("SC");
  int sign = 0;
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_head(f, p.data(), pk::PacketType::sc, sign, 42); }),
            "SC 03:365:23:59:59.900 X:01 U:1234 N:0007                           B:0000000042\r\n");
}

TEST(LogHead, DataPacketShowsChannelLetterAndConsumesTheMark) {
  Packet p = test_packet("DT", 0);
  put_bytes(p, 4, {0x9A, 0x2F});
  put_bytes(p, 16, {0x00, 0x12, 0x12, 0x11, 0x02, 0x50, 0x00, 0x32});
  int sign = 5;
  const std::string out = capture([&](std::FILE* f) {
    pk::log_head(f, p.data(), pk::PacketType::dt, sign, 7);
    pk::log_head(f, p.data(), pk::PacketType::dt, sign, 8);
    sign = -2;
    pk::log_head(f, p.data(), pk::PacketType::dt, sign, 9);
  });
  EXPECT_EQ(out,
            "DT+03:365:23:59:59.900 X:01 U:9A2F N:0007 E:0012 D:2 C:B S:250 F:32 B:0000000007\r\n"
            "DT 03:365:23:59:59.900 X:01 U:9A2F N:0007 E:0012 D:2 C:B S:250 F:32 B:0000000008\r\n"
            "DT-03:365:23:59:59.900 X:01 U:9A2F N:0007 E:0012 D:2 C:B S:250 F:32 B:0000000009\r\n");
  EXPECT_EQ(sign, 0);
}

TEST(LogHead, EventPacketsAndOddHeaderBytes) {
  Packet p = test_packet("ET");
  put_bytes(p, 16, {0x00, 0x12, 0x01, 0x00, 0x00, 0x00, 0x00, 0xC0});
  p[3] = 0x9A;                       // bad year nibble
  put_bytes(p, 4, {0x00, 0x00});          // unit 0 is shown as stored
  int sign = 0;
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_head(f, p.data(), pk::PacketType::et, sign, 1234567890); }),
            "ET 9::365:23:59:59.900 X:01 U:0000 N:0007 E:0012 D:1           F:C0 B:1234567890\r\n");
}

// The text of an SH packet up to its byte count, every line indented, closed by CR LF.
TEST(LogBlock, StateOfHealthText) {
  struct Row {
    std::string text;
    uint8_t count_hi, count_lo;  // BCD byte count, 24 header and prefix bytes included
    std::string out;
  };
  const Row rows[] = {
      {"GPS LOCK\nBATT 12.1V\n", 0x00, 0x44, "     GPS LOCK\n     BATT 12.1V\n     \r\n"},
      {"TEMP 21C\r\nDISK 80%", 0x00, 0x42, "     TEMP 21C\r\n     DISK 80%\r\n\r\n"},
      {"OK\r!", 0x00, 0x28, "     OK\r!\n\r\n"},  // a CR before the last byte stands for the line's own
      {"", 0x00, 0x24, "     \r\n\r\n"},
      {std::string(999, 'a') + "z", 0x99, 0xFF, "     " + std::string(999, 'a') + "z\r\n\r\n"},  // only the packet's bytes
  };
  for (const Row& row : rows) {
    Packet p = test_packet("SH", 0);
    p[23] = '\n';  // not part of the text
    put_text(p, 24, row.text);
    put_bytes(p, 12, {row.count_hi, row.count_lo});
    EXPECT_EQ(capture([&](std::FILE* f) { pk::log_block(f, p.data(), 4); }), row.out) << row.text;
  }
}

TEST(LogBlock, HexDumpOfAWholePacket) {
  Packet p;
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(i);
  const std::string out = capture([&](std::FILE* f) { pk::log_block(f, p.data(), 0); });
  ASSERT_EQ(out.size(), 64u * 81u + 2u);
  EXPECT_EQ(out.substr(0, 81), "     000   00 01 02 03 04 05 06 07 - 08 09 0A 0B 0C 0D 0E 0F   ................\r\n");
  EXPECT_EQ(out.substr(4 * 81, 81), "     040   40 41 42 43 44 45 46 47 - 48 49 4A 4B 4C 4D 4E 4F   @ABCDEFGHIJKLMNO\r\n");
  EXPECT_EQ(out.substr(63 * 81), "     3F0   F0 F1 F2 F3 F4 F5 F6 F7 - F8 F9 FA FB FC FD FE FF   ................\r\n\r\n");
  EXPECT_EQ(out.substr(7 * 81 + 63, 18), "pqrstuvwxyz{|}~.\r\n");
}

TEST(LogDkFmt, PositionsHalvedCountsAsStored) {
  Packet r;
  r.fill(0);
  put_u32be(r, 0, 2000);      // write
  put_u32be(r, 20, 3);        // wrap count
  put_u32be(r, 24, 1000);     // read
  put_u32be(r, 28, 500);      // copy
  put_u32be(r, 32, 9);        // leod
  put_u32be(r, 36, 64);       // first directory
  put_u32be(r, 40, 128);      // last directory
  put_u32be(r, 44, 5);        // ovwr
  put_u32be(r, 48, 11);       // directory count
  put_u32be(r, 52, 0xFFFFFFFF);  // directory entries
  put_u32be(r, 56, 4000);     // wrap at
  put_u32be(r, 60, 8001);     // peod
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_dk_fmt(f, r.data()); }),
            "     PEOD: 0000004000  LEOD: 0000000004  Ovwr:          5  Wrap Cnt:          3\r\n"
            "     Write: 0000001000  Read: 0000000500  Copy: 0000000250   Wrap At: 0000002000\r\n"
            "     DirFst: 0000000032  Last: 0000000064   Cnt:         11   Entries: 4294967295\r\n");
}

TEST(LogEhet, OlderLayout) {
  Packet p = test_packet("EH");
  put_text(p, 24, "123456789012345678901234567890123");
  put_text(p, 58, "2003365235959900" "2003365235959000" "2004001000001500" "2004001000001990");
  put_text(p, 122, "100 EVT ");
  put_text(p, 130, "1.59uV  ");
  put_text(p, 130 + 8 * 15, "3.0uV   ");
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_ehet(f, p.data()); }),
            "       Trigger time       : 2003:365:23:59:59.900\r\n"
            "       First sample time  : 2003:365:23:59:59.000\r\n"
            "       Detrigger time     : 2004:001:00:00:01.500\r\n"
            "       Last sample time   : 2004:001:00:00:01.990\r\n"
            "       Sample rate        : 100 \r\n"
            "       Trigger type       : EVT \r\n"
            "       Channel bit weights: \r\n"
            "                       0 1.59uV  \r\n"
            "                      15 3.0uV   \r\n");
  put_bytes(p, 12, {0x00, 0x57});
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_ehet(f, p.data()); }), "1234567890123456789012345678901\r\n");
}

TEST(LogDumps, ArbitraryBytesStayInsideThePacket) {
  // Every dump over packets of every byte value; run under the sanitizers
  // this catches reads past the 1024-byte buffer.
  for (int fill : {0x00, 0x20, 0x7F, 0xFF}) {
    Packet p;
    p.fill(static_cast<uint8_t>(fill));
    const std::string out = capture([&](std::FILE* f) {
      int sign = 1;
      for (int type = 0; type <= 12; ++type) pk::log_head(f, p.data(), static_cast<pk::PacketType>(type), sign, 0);
      pk::log_block(f, p.data(), 4);
      pk::log_block(f, p.data(), 0);
      pk::log_eh_et(f, p.data());
      pk::log_nh_nt(f, p.data());
      pk::log_sc(f, p.data());
      pk::log_ds(f, p.data());
      pk::log_cd(f, p.data());
      pk::log_om(f, p.data());
      pk::log_ad(f, p.data());
      pk::log_dr(f, p.data());
      pk::log_dk_fmt(f, p.data());
      pk::log_ehet(f, p.data());
    });
    EXPECT_GT(out.size(), 64u * 81u) << fill;
  }
}
