// pk_segy -LY -QY on packet files: the whole log and QCC texts of a
// hand-built recording, and one header line per packet of the field recordings.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/pkfile.h"
#include "tests/common/test_packet.h"
#include "tests/support/testkit.h"

namespace fs = std::filesystem;
using namespace pktest;
using testkit::read_file;

namespace {

testkit::RunResult pk_segy(const fs::path& input, const fs::path& out_dir, const testkit::ScratchDir& cwd) {
  return testkit::run_program(testkit::program_path("pk_segy"),
                              "-LY -QY -VN '" + input.string() + "' '" + out_dir.string() + "'", cwd.path());
}

// What follows the run header that opens every log and QCC file.
std::string after_run_header(const std::string& text) {
  const std::string end = "    Log DT Blks : YES\r\n\r\n";
  const std::size_t at = text.find(end);
  return at == std::string::npos ? "<no run header>" : text.substr(at + end.size());
}

void header(Packet& p, unsigned seq, uint8_t msec_hi, uint8_t msec_lo) {
  put_bytes(p, 10, {msec_hi, msec_lo});
  put_bytes(p, 14, {0x00, static_cast<uint8_t>(seq)});
}

Packet event_packet(const char* type, unsigned seq) {
  Packet p = test_packet(type);
  header(p, seq, 0x99, 0x00);
  put_bytes(p, 16, {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0});
  put_text(p, 64, "Run test");
  put_text(p, 88, "100 CON ");
  put_text(p, 96, "2003365235959900");
  put_text(p, 112, "2003365235959900");
  put_text(p, 160, "2.0uV");
  put_text(p, 288, "1");
  put_text(p, 352, "10V");
  return p;
}

Packet dt16(unsigned seq, uint8_t msec_hi, uint8_t msec_lo, std::initializer_list<int16_t> samples) {
  Packet p = test_packet("DT", 0);
  header(p, seq, msec_hi, msec_lo);
  put_bytes(p, 16, {0x00, 0x01, 0x00, 0x00, 0x00, static_cast<uint8_t>(samples.size()), 0x00, 0x16});
  std::size_t off = 24;
  for (int16_t s : samples) {
    put_u16be(p, off, static_cast<uint16_t>(s));
    off += 2;
  }
  return p;
}

const char* const kEventDump =
    "     Trigger time                 : 2003365235959900\r\n"
    "     First sample time            : 2003365235959900\r\n"
    "     Detrigger time               :                 \r\n"
    "     Last sample time             :                 \r\n"
    "     Sample rate                  : 100 \r\n"
    "     Trigger type                 : CON \r\n"
    "     Stream Name                  : Run test                \r\n"
    "     Channel Information          : BitWght   Gain  FSVoltage\r\n"
    "                   Channel  1     : 2.0uV     1     10V     \r\n"
    "\r\n";

}  // namespace

TEST(LogRun, HandBuiltRecordingGivesTheExpectedLogAndQcc) {
  testkit::ScratchDir tmp;
  Packet ad = test_packet("AD");
  header(ad, 1, 0x99, 0x00);
  put_text(ad, 18, "1               0.010   16");
  // 59.900 + 3 samples at 100 Hz is 59.930: the packet at 59.950 is late, the next one on time
  const std::vector<Packet> packets = {
      ad,
      event_packet("EH", 2),
      dt16(3, 0x99, 0x00, {10, 20, 30}),
      dt16(4, 0x99, 0x50, {40}),
      dt16(5, 0x99, 0x60, {50}),
      event_packet("ET", 6),
  };
  const fs::path input = tmp.path() / "LINE7.PK";
  write_packets(input.string(), packets);
  const fs::path out_dir = tmp.path() / "out";
  fs::create_directories(out_dir);
  const testkit::RunResult run = pk_segy(input, out_dir, tmp);
  ASSERT_EQ(run.code, 0) << run.out;

  EXPECT_EQ(after_run_header(read_file(out_dir / "LINE7.RSH")),
            std::string("AD 03:365:23:59:59.900 X:01 U:1234 N:0001                           B:0000000000\r\n"
                        "     Channels Included            : 1_______________\r\n"
                        "     Sample Interval              : 0.010   \r\n"
                        "     Data Format                  : 16\r\n"
                        "     Record Length                :         \r\n"
                        "\r\n"
                        "EH 03:365:23:59:59.900 X:01 U:1234 N:0002 E:0001 D:0           F:C0 B:0000000001\r\n") +
                kEventDump +
                "DT 03:365:23:59:59.900 X:01 U:1234 N:0003 E:0001 D:0 C:0 S:003 F:16 B:0000000002\r\n"
                "DT+03:365:23:59:59.950 X:01 U:1234 N:0004 E:0001 D:0 C:0 S:001 F:16 B:0000000003\r\n"
                "DT 03:365:23:59:59.960 X:01 U:1234 N:0005 E:0001 D:0 C:0 S:001 F:16 B:0000000004\r\n"
                "ET 03:365:23:59:59.900 X:01 U:1234 N:0006 E:0001 D:0           F:C0 B:0000000005\r\n" +
                kEventDump +
                // The second packet starts 20 ms after the first one's samples end.
                "WARNING: unit 1234 event 1 channel 1: 1 time tear, the largest 0.020 s; samples after it are placed "
                "by count, not by packet time\r\n");

  const std::string stats = "      10.0000      50.0000      40.0000      30.0000      15.8114";
  EXPECT_EQ(after_run_header(read_file(out_dir / "ID1234.QCC")),
            "\r\n\r\nET 03:365:23:59:59.900 X:01 U:1234 N:0006 E:0001 D:0           F:C0 B:0000000005\r\n"
            "\r\n                        Min          Max        Range         Mean       St Dev"
            "\r\n   Channel  0:" + stats + "\r\n\r\n");
  EXPECT_EQ(after_run_header(read_file(out_dir / "LINE7.QCC")), "\r\n\r\n\r\n   1234     0:" + stats);
}

TEST(LogRun, FieldRecordingsLogOneHeaderLinePerPacket) {
  const fs::path field = PK_FIELD_DIR;
  std::vector<fs::path> inputs;
  if (fs::is_directory(field))
    for (const auto& e : fs::directory_iterator(field))
      if (e.path().extension() == ".pk") inputs.push_back(e.path());
  if (inputs.empty()) GTEST_SKIP() << "no packet recordings in " << field;

  const std::regex head_line(
      "^(EH|ET|DT|SH|SC|DS|CD|OM|AD|DR|NH|NT)[ +-][0-9:;<=>?]{2}:[0-9:;<=>?]{3}:.{2}:.{2}:.{2}\\..{3} X:.{2} "
      "U:[0-9A-F]{4} N:.{4}(.{26}| E:.{4} D:. C:. S:[0-9]{3,} F:[0-9A-F]{2}) B:([0-9]{10})\r$");
  for (const fs::path& input : inputs) {
    SCOPED_TRACE(input.filename().string());
    testkit::ScratchDir tmp;
    const testkit::RunResult run = pk_segy(input, tmp.path(), tmp);
    ASSERT_EQ(run.code, 0) << run.out;

    // The packets of known type, in file order, with their packet counts.
    std::vector<std::string> expected;
    const std::string raw = read_file(input);
    for (std::size_t off = 0, n = 0; off + 1024 <= raw.size(); off += 1024, ++n)
      if (pk::code_set(reinterpret_cast<const uint8_t*>(raw.data() + off)) != pk::PacketType::unknown) {
        char b[16];
        std::snprintf(b, sizeof b, "%010zu", n);
        expected.push_back(raw.substr(off, 2) + "@" + b);
      }
    ASSERT_FALSE(expected.empty());

    std::vector<std::string> logged;
    std::istringstream log(read_file(tmp.path() / (input.stem().string() + ".RSH")));
    std::smatch m;
    for (std::string line; std::getline(log, line);)
      if (std::regex_match(line, m, head_line)) logged.push_back(m[1].str() + "@" + m[3].str());
    EXPECT_EQ(logged, expected);
  }
}
