// Whole-text comparisons of the packet dumps against texts written out from
// the log formats.
#include <gtest/gtest.h>

#include <string>

#include "common/log.h"
#include "tests/common/test_packet.h"
#include "tests/support/testkit.h"

using namespace pktest;
using testkit::capture;

namespace {
// Consecutive blank-padded text fields of the given widths.
void fields(Packet& p, std::size_t off, std::initializer_list<const char*> values,
            std::initializer_list<std::size_t> widths) {
  auto w = widths.begin();
  for (const char* v : values) {
    put_text(p, off, v);
    off += *w++;
  }
}
}  // namespace

namespace {

const char* kEventTimes[4] = {"2003365235959900", "2003365235959000", "2004001000001500", "2004001000001990"};
const std::string kEventTimeLines =
    "     Trigger time                 : 2003365235959900\r\n"
    "     First sample time            : 2003365235959000\r\n"
    "     Detrigger time               : 2004001000001500\r\n"
    "     Last sample time             : 2004001000001990\r\n";
const std::string kChannelLines =
    "     Channel Information          : BitWght   Gain  FSVoltage\r\n"
    "                   Channel  1     : 1.59uV    x32   2.5V    \r\n"
    "                   Channel 12     : 2.00uV    x1    5V      \r\n";

void event_body(Packet& p) {
  put_bytes(p, 16, {0x00, 0x12, 0x01, 0x00, 0x00, 0x00, 0x00, 0xC0});
  put_text(p, 64, "Stream One");
  put_text(p, 88, "100 CON ");
  for (int i = 0; i < 4; ++i) put_text(p, 96 + 16 * i, kEventTimes[i]);
}

Packet full_eh() {
  Packet p = test_packet("EH");
  event_body(p);
  // channels 1 and 12; channel 2's bit weight starts with a blank and is left out
  put_text(p, 160, "1.59uV  ");
  put_text(p, 168, " 9.9uV  ");
  put_text(p, 160 + 8 * 11, "2.00uV  ");
  put_text(p, 288, "x32 ");
  put_text(p, 288 + 4 * 11, "x1  ");
  put_text(p, 352, "2.5V    ");
  put_text(p, 352 + 8 * 11, "5V      ");
  return p;
}

void mes_dau(Packet& p) {
  put_text(p, 88, "250.0000");
  put_text(p, 944, "0000012345000003V2.1    433.9200TX07    SITEA   PKS2    RCV1    ");
  put_text(p, 1012, "0012000000");
}

Packet nh_packet() {
  Packet p = test_packet("NH");
  put_bytes(p, 16, {0x00, 0x12, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00});
  put_text(p, 64, "Net");
  put_text(p, 88, "100 EVT ");
  for (int i = 0; i < 4; ++i) put_text(p, 96 + 16 * i, kEventTimes[i]);
  return p;
}

}  // namespace

TEST(LogHead, NonEventTypesPadTheEventColumns) {
  const Packet p = test_packet("SC");
  int sign = 0;
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_head(f, p.data(), 5, sign, 42); }),
            "SC 03:365:23:59:59.900 X:01 U:1234 N:0007                           B:0000000042\r\n");
}

TEST(LogHead, DataPacketShowsChannelLetterAndConsumesTheMark) {
  Packet p = test_packet("DT", 0);
  put_bytes(p, 16, {0x00, 0x12, 0x12, 0x11, 0x02, 0x50, 0x00, 0x32});
  int sign = 5;
  const std::string out = capture([&](std::FILE* f) {
    pk::log_head(f, p.data(), 3, sign, 7);
    pk::log_head(f, p.data(), 3, sign, 8);
    sign = -2;
    pk::log_head(f, p.data(), 3, sign, 9);
  });
  EXPECT_EQ(out,
            "DT+03:365:23:59:59.900 X:01 U:1234 N:0007 E:0012 D:2 C:B S:250 F:32 B:0000000007\r\n"
            "DT 03:365:23:59:59.900 X:01 U:1234 N:0007 E:0012 D:2 C:B S:250 F:32 B:0000000008\r\n"
            "DT-03:365:23:59:59.900 X:01 U:1234 N:0007 E:0012 D:2 C:B S:250 F:32 B:0000000009\r\n");
  EXPECT_EQ(sign, 0);
}

TEST(LogHead, EventPacketsAndOddHeaderBytes) {
  Packet p = full_eh();
  put_text(p, 0, "ET");
  p[3] = 0x9A;                       // bad year nibble
  put_bytes(p, 4, {0x00, 0x00});          // unit 0 is shown as stored
  int sign = 0;
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_head(f, p.data(), 2, sign, 1234567890); }),
            "ET 9::365:23:59:59.900 X:01 U:0000 N:0007 E:0012 D:1           F:C0 B:1234567890\r\n");
}

TEST(LogEhEt, FullPacketWithoutMesBlock) {
  const Packet p = full_eh();
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_eh_et(f, p.data()); }),
      kEventTimeLines +
      "     Sample rate                  : 100 \r\n"
      "     Trigger type                 : CON \r\n"
      "     Stream Name                  : Stream One              \r\n" +
      kChannelLines);
}

TEST(LogEhEt, ShortPacketGivesOnlyTheTriggerMessage) {
  Packet p = full_eh();
  put_bytes(p, 12, {0x00, 0x57});
  put_text(p, 24, "123456789012345678901234567890123");
  mes_dau(p);
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_eh_et(f, p.data()); }), "1234567890123456789012345678901\r\n");
  put_bytes(p, 12, {0x00, 0x58});
  EXPECT_NE(capture([&](std::FILE* f) { pk::log_eh_et(f, p.data()); }).find("Trigger time"), std::string::npos);
}

TEST(LogEhEt, ZeroMesBlockStillCountsForTheDump) {
  Packet p = full_eh();
  mes_dau(p);
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_eh_et(f, p.data()); }),
      kEventTimeLines +
      "     Sample rate                  : 250.0000\r\n"
      "     Stream Name                  : Stream One              \r\n" +
      kChannelLines +
      "     MES-DAU Version              : V2.1    \r\n"
      "     MES-DAU Transmitter Frequency: 433.9200\r\n"
      "     MES-DAU Transmitter Id       : TX07    \r\n"
      "     MES-DAU Transmitter Site     : SITEA   \r\n"
      "     MES-DAU Sensor               : PKS2    \r\n"
      "     MES-DAU Receiver Site        : RCV1    \r\n"
      "     MES-DAU Propagation Delay    : 0012\r\n"
      "     MES-DAU Data Channel         : 00\r\n"
      "     MES-DAU Data Channel Position: 0000\r\n"
      "     MES-DAU Sample Count         : 0000012345\r\n"
      "     MES-DAU Overscale Count      : 000003\r\n");
}

TEST(LogNhNt, WithoutAndWithMesBlock) {
  Packet p = nh_packet();
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_nh_nt(f, p.data()); }),
      kEventTimeLines +
      "     Sample rate                  : 100 \r\n"
      "     Trigger type                 : EVT \r\n"
      "     Stream Name                  : Net                     \r\n");
  put_text(p, 88, "40.00000");
  put_text(p, 960, "CRU3    151.2500ID9     HILL    150.0000BASE    ");
  put_text(p, 1012, "0007020004");
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_nh_nt(f, p.data()); }),
      kEventTimeLines +
      "     Sample rate                  : 40.00000\r\n"
      "     Stream Name                  : Net                     \r\n"
      "     MES-CRU Version              : CRU3    \r\n"
      "     MES-CRU Transmitter Frequency: 151.2500\r\n"
      "     MES-CRU Transmitter Id       : ID9     \r\n"
      "     MES-CRU Transmitter Site     : HILL    \r\n"
      "     MES-CRU (Transmitter Freq)   : 150.0000\r\n"
      "     MES-CRU Site                 : BASE    \r\n"
      "     MES-CRU Propagation Delay    : 0007\r\n"
      "     MES-CRU Data Channel         : 02\r\n"
      "     MES-CRU Data Channel Position: 0004\r\n");
}

namespace {
// The dump of one channel entry as LogSc fills it.
std::string sc_channel(const std::string& num, const std::string& name) {
  return "      Channel Number              : " + num + "\r\n      Channel Name                : " + name +
         std::string(10 - name.size(), ' ') +
         "\r\n"
         "      Azimuth                     : 90.0      \r\n"
         "      Inclination                 : 0.0       \r\n"
         "      X Coordinate                : 12.5      \r\n"
         "      Y Coordinate                : -3.25     \r\n"
         "      Z Coordinate                : 100       \r\n"
         "      Unit type for X, Y          : m   \r\n"
         "      Unit type for Z             : m   \r\n"
         "      Preamp Gain                 : 32  \r\n"
         "      Sensor Model                : PKS-1       \r\n"
         "      Sensor Serial Number        : A-99        \r\n"
         "      Comments                    : buried 1 m                              \r\n"
         "      Bit-count Voltage           : 1.5e-6  \r\n"
         "\r\n";
}
}  // namespace

TEST(LogSc, TwoUsedChannelEntries) {
  Packet p = test_packet("SC");
  put_text(p, 16, "07Basin survey");
  put_text(p, 42, "Line 4 refraction");
  put_text(p, 82, "0123North ridge");
  put_text(p, 110, "Near the gate");
  put_text(p, 150, "PK-7");
  put_text(p, 162, "SN7741");
  put_text(p, 174, "20030010000000GPS C1234");
  for (const auto& [k, num, name] : {std::tuple{0, "01", "Vertical"}, std::tuple{2, "03", "East"}}) {
    const std::size_t e = 202 + 146 * k;
    put_text(p, e, num);
    put_text(p, e + 2, name);
    put_text(p, e + 12, "90.0");
    put_text(p, e + 22, "0.0");
    put_text(p, e + 32, "12.5");
    put_text(p, e + 42, "-3.25");
    put_text(p, e + 52, "100");
    put_text(p, e + 62, "m   m   32  PKS-1");
    put_text(p, e + 86, "A-99");
    put_text(p, e + 98, "buried 1 m");
    put_text(p, e + 138, "1.5e-6");
  }
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_sc(f, p.data()); }),
      "     Experiment Number            : 07\r\n"
      "     Experiment Name              : Basin survey            \r\n"
      "     Experiment Comment           : Line 4 refraction                       \r\n"
      "     Station Number               : 0123\r\n"
      "     Station Name                 : North ridge             \r\n"
      "     Station Comment              : Near the gate                           \r\n"
      "     DAS Model                    : PK-7        \r\n"
      "     DAS Serial Number            : SN7741      \r\n"
      "     Experiment Start             : 20030010000000\r\n"
      "     Time Clock Type              : GPS \r\n"
      "     Time Clock S/N               : C1234     \r\n"
      "\r\n" +
      sc_channel("01", "Vertical") + sc_channel("03", "East"));
}

namespace {
// One stream entry: number, name, channels 1-3 and 5, rate 100, format 16.
void ds_stream(Packet& p, int k, const char* num, const char* name, const char* trg) {
  const std::size_t e = 16 + 230 * k;
  put_text(p, e, num);
  put_text(p, e + 2, name);
  put_text(p, e + 26, "123 5");
  put_text(p, e + 42, "100 16");
  put_text(p, e + 64, trg);
}
// The dump's lines of such an entry up to its trigger type.
std::string stream_head(const std::string& num, const std::string& name, const std::string& trg) {
  return "     Data Stream No               : " + num + "\r\n     Data Stream Name             : " + name +
         std::string(24 - name.size(), ' ') +
         "\r\n     Channels Included            : 123_5___________\r\n"
         "     Sample Rate                  : 100 \r\n     Data Format                  : 16\r\n"
         "     Trigger Type                 : " + trg + "\r\n";
}
}  // namespace

TEST(LogDs, EveryTriggerRecordOverSeveralPackets) {
  Packet a = test_packet("DS");
  ds_stream(a, 0, "01", "Events", " EVT");
  fields(a, 16 + 68, {"1 3", "02", "10.0", "1.5", "2.5", "60", "FILTER", "0.5", "30", "YES", "4.0", "2.0", "ON"},
         {16, 2, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 4});
  ds_stream(a, 1, "02", "Timed", "TIM ");
  fields(a, 246 + 68, {"20030010000000", "00010000", "0024", "PRETRIG", "300"}, {14, 8, 4, 8, 8});
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_ds(f, a.data()); }),
      stream_head("01", "Events", " EVT") +
      "      Trigger Channels            : 1_3_____________\r\n"
      "      Minimum Channels            : 02\r\n"
      "      Trigger Window              : 10.0    \r\n"
      "      Pretrigger Length           : 1.5     \r\n"
      "      Posttrigger Length          : 2.5     \r\n"
      "      Record Length               : 60      \r\n"
      "      STA Length                  : 0.5     \r\n"
      "      LTA Length                  : 30      \r\n"
      "      Mean Removal                : YES     \r\n"
      "      Trigger Ratio               : 4.0     \r\n"
      "      Detrigger Ratio             : 2.0     \r\n"
      "      LTA hold                    : ON  \r\n"
      "\r\n" +
      stream_head("02", "Timed", "TIM ") +
      "      Start Time                  : 20030010000000\r\n"
      "      Repeat Interval             : 00010000\r\n"
      "      Number of Intervals         : 0024\r\n"
      "      Record Length               : 300     \r\n"
      "\r\n");

  Packet b = test_packet("DS");
  ds_stream(b, 0, "03", "Level", "LEV ");
  put_text(b, 16 + 68, "1000    5       120     ");
  ds_stream(b, 2, "04", "Continuous", "con ");
  put_text(b, 476 + 68, "3600    ");
  ds_stream(b, 3, "05", "External", "EXT ");
  put_text(b, 706 + 68, "0.25    30      ");
  put_text(b, 936, "5X reserved bytes never form a stream");
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_ds(f, b.data()); }),
      stream_head("03", "Level", "LEV ") +
      "      Trigger Level               : 1000    \r\n"
      "      Pretrigger Length           : 5       \r\n"
      "      Record Length               : 120     \r\n"
      "\r\n" +
      stream_head("04", "Continuous", "con ") +
      "      Record Length               : 3600    \r\n"
      "\r\n" +
      stream_head("05", "External", "EXT ") +
      "      Pretrigger Length           : 0.25    \r\n"
      "      Record Length               : 30      \r\n"
      "\r\n");

  Packet c = test_packet("DS");
  ds_stream(c, 0, "06", "Radio", "RAD ");
  put_text(c, 16 + 68, "1       20      ");
  ds_stream(c, 1, "07", "Cross", "CRS ");
  put_text(c, 246 + 68, "012       40      ");
  ds_stream(c, 2, "08", "List", "TML ");
  for (int k = 1; k <= 11; ++k)
    if (k != 4) put_text(c, 476 + 68 + 14 * (k - 1), "2003" + std::string(k < 10 ? "00" : "0") + std::to_string(k) + "120000");
  put_text(c, 476 + 68 + 154, "600     ");
  ds_stream(c, 3, "09", "Mixed", "Evt ");
  put_text(c, 706 + 68, "1 3             0210.0");
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_ds(f, c.data()); }),
      stream_head("06", "Radio", "RAD ") +
      "      Pretrigger Length           : 1       \r\n"
      "      Record Length               : 20      \r\n"
      "\r\n" +
      stream_head("07", "Cross", "CRS ") +
      "      Trigger Stream Number       : 01\r\n"
      "      Pretrigger Length           : 2       \r\n"
      "      Record Length               : 40      \r\n"
      "\r\n" +
      stream_head("08", "List", "TML ") +
      "   Start Time 01               : 2003001120000 \r\n"
      "   Start Time 02               : 2003002120000 \r\n"
      "   Start Time 03               : 2003003120000 \r\n"
      "   Start Time 04               :               \r\n"
      "   Start Time 05               : 2003005120000 \r\n"
      "   Start Time 06               : 2003006120000 \r\n"
      "   Start Time 07               : 2003007120000 \r\n"
      "   Start Time 08               : 2003008120000 \r\n"
      "   Start Time 09               : 2003009120000 \r\n"
      "   Start Time 10               : 2003010120000 \r\n"
      "   Start Time 11               : 2003011120000 \r\n"
      "      Record Length               : 600     \r\n"
      "\r\n" +
      stream_head("09", "Mixed", "Evt ") +
      "\r\n");
}

TEST(LogCd, StepFieldsOnlyWhenSwitchedOn) {
  Packet p = test_packet("CD");
  fields(p, 16, {"20030011200000", "00001000", "0010", "00000060", "OFF", "0.5", "2", "0.125", "A"},
         {14, 8, 4, 8, 4, 8, 8, 8, 4});
  const std::string schedule =
      "     Start Time                   : 20030011200000\r\n"
      "     Repeat Interval              : 00001000\r\n"
      "     No of Intervals              : 0010\r\n"
      "     Length of Intervals          : 00000060\r\n";
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_cd(f, p.data()); }),
      schedule +
      "     Step                         : OFF \r\n"
      "\r\n");
  put_text(p, 50, "on  ");
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_cd(f, p.data()); }),
      schedule +
      "     Step                         : on  \r\n"
      "\r\n"
      "     Step Period                  : 0.5     \r\n"
      "     Step Size                    : 2       \r\n"
      "     Step Amplitude               : 0.125   \r\n"
      "     Step Output                  : A   \r\n"
      "\r\n");
}

TEST(LogOm, FlagsPowerAndWakeEntries) {
  Packet p = test_packet("OM");
  put_text(p, 16, "0102");
  put_text(p, 20, "12 DYN800030YnTO");
  fields(p, 48, {"01", "001120000000", "003600", "086400", "07"}, {2, 12, 6, 6, 2});
  fields(p, 48 + 64 * 3, {"04", "002000000000", "000060", "000000", "01"}, {2, 12, 6, 6, 2});
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_om(f, p.data()); }),
      "     Power State                  : 01\r\n"
      "     Recording Mode               : 02\r\n"
      "     Primary Disk ID              : 1\r\n"
      "     Secondary Disk ID            : 2\r\n"
      "     Tape ID                      :  \r\n"
      "     Auto-dump Device             : D\r\n"
      "     Auto-dump on ET Block        : Enabled\r\n"
      "     Auto-dump in Serial Mode     : Disabled\r\n"
      "     Auto-dump Threshold          : 80%\r\n"
      "     SCSI Powerdown Delay         : 0030 seconds\r\n"
      "     SCSI Disk Wrap               : Enabled\r\n"
      "     SCSI Directory               : Disabled\r\n"
      "     SCSI Device Power            : Toggle\r\n"
      "     SCSI Termintor Power         : Always On\r\n"
      "     Wake Sequence Information\r\n"
      "\r\n"
      "      Sequence number             : 01\r\n"
      "      Start time                  : 001120000000\r\n"
      "      Power Duration              :     003600\r\n"
      "      Repeat Interval             :     086400\r\n"
      "      Number of Intervals         : 07\r\n"
      "\r\n"
      "      Sequence number             : 04\r\n"
      "      Start time                  : 002000000000\r\n"
      "      Power Duration              :     000060\r\n"
      "      Repeat Interval             :     000000\r\n"
      "      Number of Intervals         : 01\r\n"
      "\r\n");
}

TEST(LogAd, AuxiliaryDefinition) {
  Packet p = test_packet("AD");
  fields(p, 18, {"12  5", "0.010", "16", "3600"}, {16, 8, 2, 8});
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_ad(f, p.data()); }),
      "     Channels Included            : 12__5___________\r\n"
      "     Sample Interval              : 0.010   \r\n"
      "     Data Format                  : 16\r\n"
      "     Record Length                : 3600    \r\n"
      "\r\n");
}

TEST(LogDr, SectorFlagAbsentTimesAndWideValues) {
  Packet p = test_packet("DR", 0);
  put_u32be(p, 16, 200);
  put_u32be(p, 20, 402);
  p[25] = 1;
  put_u16be(p, 26, 2);
  put_u32be(p, 28, 17);
  std::size_t e = 32;
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
  e += 80;
  put_u32be(p, e, 17);
  put_bytes(p, e + 4, {0, 0});
  put_u16be(p, e + 6, 80);
  put_u16be(p, e + 8, 0xFFFF);
  put_u16be(p, e + 10, 0xFFFF);
  put_bytes(p, e + 12, {255, 1});
  put_text(p, e + 16, "LONGNAMEEVT ");
  put_u16be(p, e + 58, 0x1234);
  put_u32be(p, e + 60, 0xFFFFFFFF);
  put_u32be(p, e + 68, 3);
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_dr(f, p.data()); }),
      "     Prev Dir Location (Block)    : 0000000100\r\n"
      "     Next Dir Location (Block)    : 0000000201\r\n"
      "     Block/Sector Flag            : 1\r\n"
      "     No of dir entries            : 2\r\n"
      "     Last Entry Number            : 17\r\n"
      "\r\n"
      "      Entry Number                : 16\r\n"
      "      Entry Status                : 1\r\n"
      "      Entry Format                : 2\r\n"
      "      Entry Length                : 80\r\n"
      "      Unit ID                     : 0291\r\n"
      "      Event Number                : 7\r\n"
      "      Event Header Flag           : 1\r\n"
      "      Event Trailer Flag          : 0\r\n"
      "      Stream Number               : 2\r\n"
      "      Data Stream Name            : STREAM1 \r\n"
      "      Trigger Type                : CON \r\n"
      "      Data Format                 : C0\r\n"
      "      Data Location (Block)       : 0000000105\r\n"
      "      Data Length (Blocks)        : 0000001234\r\n"
      "      Disk Errors (Blocks)        : 0\r\n"
      "      Trigger time                : 2005:001:01:00:00.250\r\n"
      "      First sample time           : 2005:001:01:00:00.007\r\n"
      "      Detrigger time              : \r\n"
      "      Last sample time            : \r\n"
      "      Entry time                  : 2003:002:00:00:00.000\r\n"
      "\r\n"
      "      Entry Number                : 17\r\n"
      "      Entry Status                : 0\r\n"
      "      Entry Format                : 0\r\n"
      "      Entry Length                : 80\r\n"
      "      Unit ID                     : 65535\r\n"
      "      Event Number                : 65535\r\n"
      "      Event Header Flag           : 255\r\n"
      "      Event Trailer Flag          : 1\r\n"
      "      Stream Number               : 0\r\n"
      "      Data Stream Name            : LONGNAME\r\n"
      "      Trigger Type                : EVT \r\n"
      "      Data Format                 : 1234\r\n"
      "      Data Location (Block)       : 4294967395\r\n"
      "      Data Length (Blocks)        : 0000000000\r\n"
      "      Disk Errors (Blocks)        : 3\r\n"
      "      Trigger time                : \r\n"
      "      First sample time           : \r\n"
      "      Detrigger time              : \r\n"
      "      Last sample time            : \r\n"
      "      Entry time                  : \r\n");
}

TEST(LogDr, WalkStopsAtTheLastEntryThatFits) {
  Packet p = test_packet("DR", 0);
  put_u16be(p, 26, 40);
  for (std::size_t e = 32; e + 80 <= 1024; e += 80) put_u16be(p, e + 6, 80);
  const std::string out = capture([&](std::FILE* f) { pk::log_dr(f, p.data()); });
  std::size_t entries = 0;
  const std::string entry = "\r\n      Entry Number";
  for (std::size_t at = out.find(entry); at != std::string::npos; at = out.find(entry, at + 1))
    ++entries;
  EXPECT_EQ(entries, 12u);
}

TEST(LogBlock, StateOfHealthLines) {
  Packet p = test_packet("SH", 0);
  const std::string lf = "GPS LOCK\nBATT 12.1V\n";
  put_text(p, 24, lf);
  put_bytes(p, 12, {0x00, 0x44});  // 24 + 20 bytes
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_block(f, p.data(), 4); }),
            "     GPS LOCK\n     BATT 12.1V\n     \r\n");

  const std::string crlf = "TEMP 21C\r\nDISK 80%";
  put_text(p, 24, crlf);
  put_bytes(p, 12, {0x00, 0x42});  // 24 + 18 bytes
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_block(f, p.data(), 4); }),
            "     TEMP 21C\r\n     DISK 80%\r\n\r\n");

  put_bytes(p, 12, {0x00, 0x24});  // no text at all
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_block(f, p.data(), 4); }), "     \r\n\r\n");
}

TEST(LogBlock, ByteCountBeyondThePacketIsClamped) {
  Packet p = test_packet("SH", 'a');
  put_bytes(p, 12, {0x99, 0xFF});  // 9999 and more: only the packet's own bytes
  p[1023] = 'z';
  EXPECT_EQ(capture([&](std::FILE* f) { pk::log_block(f, p.data(), 4); }),
            "     " + std::string(999, 'a') + "z\r\n\r\n");
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
  for (int i = 0; i < 4; ++i) put_text(p, 58 + 16 * i, kEventTimes[i]);
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
      for (int type = 0; type <= 12; ++type) pk::log_head(f, p.data(), type, sign, 0);
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
