// The engine end to end: packet files built by the test encoder go through the
// shared loop; the channel data files it leaves behind are checked byte by byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/pkenc.h"
#include "tests/support/testkit.h"

using namespace testkit;
using pktest::ChannelData;
using pktest::Recording;

namespace {

const std::string kStart = "2003123140522000";

Recording each_format() {
  Recording rec;
  rec.unit = 0x9A21;
  rec.start = kStart;
  rec.rate = 100.0;
  rec.channels = {ChannelData{.channel = 0, .format = pktest::kFmt16, .samples = ramp(700, -2, 3)},
                  ChannelData{.channel = 1, .format = pktest::kFmt32, .samples = ramp(600, 100000, -777)},
                  ChannelData{.channel = 2, .format = pktest::kFmtC0, .samples = ramp(1500, 5, 1)},
                  ChannelData{.channel = 3, .format = pktest::kFmtC2, .samples = ramp(3000, 5, 1)}};
  // Signals with every difference width in the compressed channels.
  auto& c = rec.channels[2].samples;
  for (std::size_t i = 0; i < c.size(); ++i) c[i] = static_cast<int32_t>((i % 7) * (i % 3 == 0 ? 100000 : 300) - 50);
  auto& c2 = rec.channels[3].samples;
  for (std::size_t i = 0; i < c2.size(); ++i) c2[i] = static_cast<int32_t>((i % 9) << (i % 26)) - 70;
  return rec;
}

std::string std_path(const ScratchDir& dir, const std::string& sub, uint16_t unit, unsigned chan,
                     const std::string& time = kStart) {
  char name[64];
  std::snprintf(name, sizeof name, "%.4s_%.3s_%.2s_%.2s_%.2s_%04X_1_%u.STD", time.c_str(), time.c_str() + 4,
                time.c_str() + 7, time.c_str() + 9, time.c_str() + 11, unit, chan + 1);
  return dir / (sub + name);
}

std::vector<int32_t> first(const std::vector<int32_t>& v, std::size_t n) {
  return {v.begin(), v.begin() + static_cast<std::ptrdiff_t>(std::min(n, v.size()))};
}

TEST(Engine, EachFormatStoresItsSamplesMostSignificantByteFirst) {
  ScratchDir dir;
  const Recording rec = each_format();
  pktest::write_packets(dir / "in.pk", rec.packets());
  RunResult r = run_program(PK_ENGINE, "in.pk -VN", dir.path());
  ASSERT_EQ(r.code, 0) << r.out;
  for (const auto& ch : rec.channels)
    EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x9A21, ch.channel))), ch.samples) << "channel " << ch.channel;
  // -2 as a 16-bit sample, sign-extended.
  EXPECT_EQ(read_file(std_path(dir, "", 0x9A21, 0)).substr(0, 4), std::string("\xFF\xFF\xFF\xFE", 4));
}

TEST(Engine, LeastSignificantByteFirstForSeisan) {
  ScratchDir dir;
  const Recording rec = each_format();
  pktest::write_packets(dir / "in.pk", rec.packets());
  RunResult r = run_program(PK_ENGINE, "in.pk -VN", dir.path(), "PK_ENGINE_LE=1");
  ASSERT_EQ(r.code, 0) << r.out;
  for (const auto& ch : rec.channels)
    EXPECT_EQ(samples_le(read_file(std_path(dir, "", 0x9A21, ch.channel))), ch.samples);
  EXPECT_EQ(read_file(std_path(dir, "", 0x9A21, 0)).substr(0, 4), std::string("\xFE\xFF\xFF\xFF", 4));
}

TEST(Engine, DiscardAndLimitCountPerChannelAcrossPackets) {
  ScratchDir dir;
  Recording rec;
  rec.start = kStart;
  rec.channels = {ChannelData{.channel = 0, .format = pktest::kFmt32, .samples = ramp(400, 1, 1), .per_packet = 3},
                  ChannelData{.channel = 1, .format = pktest::kFmtC0, .samples = ramp(400, -9, 2), .per_packet = 40},
                  ChannelData{.channel = 2, .format = pktest::kFmtC2, .samples = ramp(400, 9, -2), .per_packet = 3}};
  pktest::write_packets(dir / "in.pk", rec.packets());
  ASSERT_EQ(run_program(PK_ENGINE, "in.pk -VN -T5 -S100", dir.path()).code, 0);
  for (const auto& ch : rec.channels) {
    const auto got = samples_be(read_file(std_path(dir, "", 0x1234, ch.channel)));
    EXPECT_EQ(got, std::vector<int32_t>(ch.samples.begin() + 5, ch.samples.begin() + 105));
  }
}

TEST(Engine, ZeroSampleLimitCreatesNoFiles) {
  ScratchDir dir;
  Recording rec;
  rec.channels = {ChannelData{.channel = 0, .format = pktest::kFmt16, .samples = ramp(50, 1, 1)}};
  pktest::write_packets(dir / "in.pk", rec.packets());
  ASSERT_EQ(run_program(PK_ENGINE, "in.pk -VN -S0", dir.path()).code, 0);
  EXPECT_EQ(list_files(dir.path()), std::vector<std::string>{"in.pk"});
}

TEST(Engine, InterleavedUnitsAndEventsKeepTheirOwnFiles) {
  ScratchDir dir;
  Recording a, b, c;
  a.unit = 0x0001; a.event = 1; a.start = kStart;
  b.unit = 0x0002; b.event = 7; b.start = kStart;
  c.unit = 0x0001; c.event = 2; c.start = "2003123150000000"; c.first_seq = 500;
  a.channels = {ChannelData{.channel = 0, .format = pktest::kFmt16, .samples = ramp(900, 1, 1), .per_packet = 100},
                ChannelData{.channel = 1, .format = pktest::kFmtC0, .samples = ramp(900, 1000, -3), .per_packet = 100}};
  b.channels = {ChannelData{.channel = 0, .format = pktest::kFmt32, .samples = ramp(800, -5, -5), .per_packet = 100}};
  c.channels = {ChannelData{.channel = 0, .format = pktest::kFmt32, .samples = ramp(300, 77, 7), .per_packet = 100}};
  // Unit 1's second event runs while its first is still open; no ET for event 1 until the end.
  a.et = false;
  pktest::write_packets(dir / "in.pk", pktest::interleave({a.packets(), b.packets(), c.packets()}));
  RunResult r = run_program(PK_ENGINE, "in.pk -VN -LY -QY", dir.path());
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x0001, 0))), a.channels[0].samples);
  EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x0001, 1))), a.channels[1].samples);
  EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x0002, 0))), b.channels[0].samples);
  EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x0001, 0, c.start))), c.channels[0].samples);
  EXPECT_TRUE(std::filesystem::exists(dir / "ID0001.QCC"));
  EXPECT_TRUE(std::filesystem::exists(dir / "ID0002.QCC"));
  EXPECT_TRUE(std::filesystem::exists(dir / "in.QCC"));
  // Both units log into one file, each starting with the run header.
  const std::string log = read_file(dir / "in.RSH");
  EXPECT_EQ(log.find("PK_SEGY - Version PKU03.22A  "), 0u);
  EXPECT_NE(log.find("PK_SEGY - Version PKU03.22A  ", 10), std::string::npos);
  // The event without ET is reported at the end of input.
  EXPECT_NE(r.out.find("\nNo ET block for U:0001 E:0001"), std::string::npos);
}

TEST(Engine, OutOfSequencePacketStopsTheEventsChannels) {
  ScratchDir dir;
  Recording rec;
  rec.start = kStart;
  rec.channels = {ChannelData{.channel = 0, .format = pktest::kFmt16, .samples = ramp(1000, 1, 1), .per_packet = 100},
                  ChannelData{.channel = 1, .format = pktest::kFmtC2, .samples = ramp(1000, 1, 1), .per_packet = 100}};
  auto packets = rec.packets();  // EH, 20 DT taking turns by channel, ET
  ASSERT_EQ(packets.size(), 22u);
  pktest::put_bcd(packets[4], 14, 40, 2);  // the 4th DT packet (channel 1's second) jumps in sequence
  pktest::write_packets(dir / "in.pk", packets);
  RunResult r = run_program(PK_ENGINE, "in.pk -VN -LY", dir.path());
  ASSERT_EQ(r.code, 0);
  EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x1234, 0))), first(rec.channels[0].samples, 200));
  EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x1234, 1))), first(rec.channels[1].samples, 100));
  EXPECT_NE(read_file(dir / "in.RSH").find("\nBlock sequence # 40 is out of sequence in Event #1\n\n"),
            std::string::npos);
}

TEST(Engine, SequenceWrapAndZeroAreNotGaps) {
  ScratchDir dir;
  Recording rec;
  rec.first_seq = 9997;  // 9997 9998 9999 0 1 ...
  rec.channels = {ChannelData{.channel = 0, .format = pktest::kFmt16, .samples = ramp(1000, 1, 1), .per_packet = 100}};
  pktest::write_packets(dir / "in.pk", rec.packets());
  ASSERT_EQ(run_program(PK_ENGINE, "in.pk -VN", dir.path()).code, 0);
  EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x1234, 0, rec.start))), rec.channels[0].samples);
}

TEST(Engine, CompressedPacketAfterAGapIsReportedAndDecodedFromItsStart) {
  for (const auto make : {pktest::make_dt_c0, pktest::make_dt_c2}) {
    ScratchDir dir;
    pktest::DataHeader d;
    d.head.time = kStart;
    d.head.seq = 1;
    const auto s1 = ramp(100, 10, 1), s2 = ramp(100, 5000, -2);
    auto p1 = make(d, s1, {.prev = 0});
    SCOPED_TRACE(int{p1.pkt[23]});
    d.head.seq = 2;
    d.head.advance(1000);
    auto p2 = make(d, s2, {.prev = s1.back()});  // continues: no report
    d.head.seq = 3;
    d.head.advance(1000);
    auto p3 = make(d, s1, {.prev = 12345});      // a gap: X0 is not previous + d0
    pktest::write_packets(dir / "in.pk", {p1.pkt, p2.pkt, p3.pkt});
    ASSERT_EQ(run_program(PK_ENGINE, "in.pk -VN -LY", dir.path()).code, 0);
    std::vector<int32_t> want = s1;
    want.insert(want.end(), s2.begin(), s2.end());
    want.insert(want.end(), s1.begin(), s1.end());
    EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x1234, 0))), want);
    const std::string log = read_file(dir / "in.RSH");
    const std::size_t at = log.find("     Read start 0x0000000A  stop 0x0000006D  samples 100\r\n");
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find("     Read start", at + 1), std::string::npos);  // one report only
    // Previous sample 4802 plus the stored first difference 10 - 12345.
    EXPECT_EQ(log.substr(at + 58, 58), "     Calc start 0xFFFFE293  stop 0x0000006D  samples 100\r\n");
    EXPECT_NE(log.find("     000   44 54 "), std::string::npos);  // the hex dump of the packet follows
  }
}

TEST(Engine, UnitZeroIsFFFF) {
  ScratchDir dir;
  Recording rec;
  rec.unit = 0;
  rec.channels = {ChannelData{.channel = 0, .format = pktest::kFmt16, .samples = ramp(10, 1, 1)}};
  pktest::write_packets(dir / "in.pk", rec.packets());
  ASSERT_EQ(run_program(PK_ENGINE, "in.pk -VN -QY", dir.path()).code, 0);
  EXPECT_TRUE(std::filesystem::exists(std_path(dir, "", 0xFFFF, 0, rec.start)));
  EXPECT_TRUE(std::filesystem::exists(dir / "IDFFFF.QCC"));
}

TEST(Engine, PathLevelsPlaceTheFiles) {
  const std::pair<int, std::string> levels[] = {
      {1, "2003_123/"}, {2, "2003_123/14/"}, {3, "2003_123/14_05/"}, {4, "2003_123/14_05_22/"}, {7, "2003_123/14_05_22/"}};
  for (const auto& [level, sub] : levels) {
    ScratchDir dir;
    Recording rec;
    rec.start = kStart;
    rec.channels = {ChannelData{.channel = 3, .format = pktest::kFmt32, .samples = ramp(20, 1, 1)}};
    pktest::write_packets(dir / "in.pk", rec.packets());
    std::filesystem::create_directory(dir / "out");
    ASSERT_EQ(run_program(PK_ENGINE, "in.pk out -VN -P" + std::to_string(level), dir.path()).code, 0);
    EXPECT_EQ(samples_be(read_file(std_path(dir, "out/" + sub, 0x1234, 3))), rec.channels[0].samples) << level;
  }
}

TEST(Engine, ManyChannelsBeyondTheOpenBudget) {
  ScratchDir dir;
  Recording rec;
  for (unsigned ch = 0; ch < 24; ++ch)
    rec.channels.push_back(ChannelData{.channel = ch, .format = pktest::kFmtC0,
                                       .samples = ramp(2000, static_cast<int32_t>(ch) * 1000, 1), .per_packet = 200});
  pktest::write_packets(dir / "in.pk", rec.packets());
  ASSERT_EQ(run_program(PK_ENGINE, "in.pk -VN", dir.path()).code, 0);
  for (const auto& ch : rec.channels)
    EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x1234, ch.channel, rec.start))), ch.samples) << ch.channel;
}

TEST(Engine, VerboseShowsOneLinePerPacket) {
  ScratchDir dir;
  Recording rec;
  rec.channels = {ChannelData{.channel = 0, .format = pktest::kFmt16, .samples = ramp(1000, 1, 1), .per_packet = 100}};
  auto packets = rec.packets();
  packets.push_back(pktest::make_packet(pktest::Header{.type = "XX"}, 0));  // unknown: counted, not shown
  packets.push_back(pktest::make_sh(pktest::Header{.type = "SH"}, "hello\n"));
  pktest::write_packets(dir / "in.pk", packets);
  { std::ofstream(dir / "in.pk", std::ios::app) << std::string(512, 'x'); }  // trailing partial packet
  RunResult r = run_program(PK_ENGINE, "in.pk", dir.path());
  ASSERT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("\r00001       EH      1234       0001          -          -                    "), std::string::npos);
  EXPECT_NE(r.out.find("\r00002       DT      1234       0001         01         01   "), std::string::npos);
  EXPECT_NE(r.out.find("\r00012       ET      1234       0001          -          -    "), std::string::npos);
  EXPECT_NE(r.out.find("\r00014       SH      1234          -          -          -   "), std::string::npos);
  EXPECT_EQ(r.out.find("\r00013"), std::string::npos);
}

TEST(Engine, MegCounterWhenQuiet) {
  ScratchDir dir;
  std::vector<pktest::Packet> packets(3000, pktest::make_sh(pktest::Header{.type = "SH"}, "x\n"));
  pktest::write_packets(dir / "in.pk", packets);
  RunResult r = run_program(PK_ENGINE, "in.pk -VN", dir.path());
  ASSERT_EQ(r.code, 0);
  auto count = [&](const std::string& s) {
    std::size_t n = 0;
    for (std::size_t at = r.out.find(s); at != std::string::npos; at = r.out.find(s, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("\rMeg:    0"), 1024u);
  EXPECT_EQ(count("\rMeg:    1"), 0u);
  EXPECT_EQ(count("\rMeg:    2"), 3000u - 2048u);
}

TEST(Engine, RealCompressedRecordingDecodesSmoothly) {
  const std::string src = std::string(PK_FIELD_DIR) + "/packets-compressed-3ch.pk";
  if (!std::filesystem::exists(src)) GTEST_SKIP() << "field recording absent";
  ScratchDir dir;
  std::filesystem::copy_file(src, dir / "in.pk");
  RunResult r = run_program(PK_ENGINE, "in.pk -LY", dir.path());
  ASSERT_EQ(r.code, 0);
  std::size_t lines = 0;
  for (std::size_t at = r.out.find("\r000"); at != std::string::npos; at = r.out.find("\r000", at + 1)) ++lines;
  EXPECT_EQ(lines, std::filesystem::file_size(src) / 1024);
  EXPECT_EQ(read_file(dir / "in.RSH").find("Read start"), std::string::npos);
  std::size_t std_files = 0;
  for (const auto& f : list_files(dir.path()))
    if (f.size() > 4 && f.substr(f.size() - 4) == ".STD") {
      ++std_files;
      EXPECT_GT(std::filesystem::file_size(dir / f), 0u);
    }
  EXPECT_EQ(std_files, 3u);
}

}  // namespace

// ---------------------------------------------------------------- interrupts

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(Engine, CtrlCEndsWithCodeOneAndKeepsWhatWasConverted) {
  ScratchDir dir;
  const std::string fifo = dir / "in.pk";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Recording done, open;
  done.event = 1;
  done.channels = {ChannelData{.channel = 0, .format = pktest::kFmt32, .samples = ramp(500, 1, 1)}};
  open.event = 2;
  open.first_seq = 100;
  open.et = false;
  open.channels = {ChannelData{.channel = 0, .format = pktest::kFmt16, .samples = ramp(300, 9, 1)}};
  const std::string out = dir / "console.txt";

  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(99);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, 1);
    ::execl(PK_ENGINE, PK_ENGINE, "in.pk", "-VN", static_cast<char*>(nullptr));
    ::_exit(98);
  }
  const int w = ::open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(w, 0);
  std::vector<pktest::Packet> packets = done.packets();
  for (const auto& p : open.packets()) packets.push_back(p);
  for (const auto& p : packets) ASSERT_EQ(::write(w, p.data(), p.size()), 1024);
  ::usleep(300000);  // the program now waits for more input
  ::kill(pid, SIGINT);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(w);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(read_file(out).find("\nProgram aborted by user"), std::string::npos);
  EXPECT_EQ(samples_be(read_file(std_path(dir, "", 0x1234, 0, done.start))), done.channels[0].samples);
  // The open event's channel data file goes with the run.
  const std::string kept = std::filesystem::path(std_path(dir, "", 0x1234, 0, done.start)).filename();
  EXPECT_EQ(list_files(dir.path()), (std::vector<std::string>{kept, "console.txt"}));
}

}  // namespace

namespace {

TEST(Engine, EventWithoutHeaderTakesItsTimeFromThePackets) {
  const std::string pk_segy = program_path("pk_segy");
  if (!std::filesystem::exists(pk_segy)) GTEST_SKIP() << "pk_segy not built";
  ScratchDir dir;
  Recording rec;
  rec.eh = false;
  rec.et = false;
  rec.start = kStart;
  // Samples whose bytes read "0000..." where an EH packet has its first-sample time.
  rec.channels = {ChannelData{.channel = 0, .format = pktest::kFmt16, .samples = std::vector<int32_t>(600, 0x3030)}};
  pktest::write_packets(dir / "in.pk", rec.packets());
  ASSERT_EQ(run_program(pk_segy, "in.pk -VN", dir.path()).code, 0);
  EXPECT_EQ(list_files(dir.path()), (std::vector<std::string>{"2003_123_14_05_22_01234_1_1.RSY", "in.pk"}));
}

}  // namespace

namespace {

TEST(PkSegyProgram, ProgressUsageAndExitCodes) {
  const std::string pk_segy = program_path("pk_segy");
  if (!std::filesystem::exists(pk_segy)) GTEST_SKIP() << "pk_segy not built";
  ScratchDir dir;
  const std::string src = std::string(PK_FIELD_DIR) + "/packets-compressed-3ch.pk";
  if (std::filesystem::exists(src)) {
    std::filesystem::copy_file(src, dir / "field.pk");
    RunResult r = run_program(pk_segy, "field.pk -VY", dir.path());
    EXPECT_EQ(r.code, 0);
    std::size_t lines = 0;
    for (std::size_t at = r.out.find("\r000"); at != std::string::npos; at = r.out.find("\r000", at + 1)) ++lines;
    EXPECT_EQ(lines, std::filesystem::file_size(src) / 1024);
  }
  RunResult usage = run_program(pk_segy, "-L", dir.path());
  EXPECT_EQ(usage.code, 2);
  EXPECT_NE(usage.out.find("\r\n   -Hc     output file Header                                     (N/-)"),
            std::string::npos);
  RunResult missing = run_program(pk_segy, "none.pk", dir.path());
  EXPECT_EQ(missing.code, 20);
  EXPECT_NE(missing.out.find("\nFile open error for none.pk"), std::string::npos);
  { std::ofstream(dir / "empty.pk"); }
  EXPECT_EQ(run_program(pk_segy, "empty.pk", dir.path()).code, 1);
}

}  // namespace
