// Runs the built hbk2sac on files written into a fresh directory and reads
// back its console output and SAC files.
#include "tests/support/hbk_encoder.h"
#include "hbk2sac/driver.h"
#include "hbk2sac/pending_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/output_readers.h"
#include "tests/support/testkit.h"

namespace {

namespace fs = std::filesystem;
using hbktest::BlockFields;
using testkit::read_sac;
using testkit::SacFile;

const std::string kSysText = "RX7";
const std::string kStreamText = "HHZ1";
constexpr std::uint32_t kDay = 11'000;

// Built by appending: GCC 12 warns falsely on literal + temporary string.
std::string quoted(const fs::path& p) {
  std::string q = "'";
  q += p.string();
  q += '\'';
  return q;
}

// A 100 Hz block of `n` samples counting up from `first`, starting `seconds`
// after midnight plus `fraction` x 2.5 s.
hbk::Block block_at(std::uint32_t seconds, unsigned fraction, int n, std::int32_t first,
                    std::uint8_t rate = 100, unsigned comp = 4) {
  std::vector<std::int32_t> s;
  for (int i = 0; i < n; ++i) s.push_back(first + i);
  BlockFields fields = hbktest::fields_from_samples(s, comp);
  fields.sysid = hbktest::text_to_id(kSysText);
  fields.streamid = hbktest::text_to_id(kStreamText);
  fields.timecode = hbktest::make_timecode(kDay, seconds);
  fields.rate_code = rate;
  fields.fraction = fraction;
  return hbktest::encode_block(fields);
}

hbk::Block with_sysid(hbk::Block b, std::uint32_t id) {
  for (int i = 0; i < 4; ++i) b[i] = std::uint8_t(id >> (24 - 8 * i));
  return b;
}

hbk::Block with_timecode(hbk::Block b, std::uint32_t code) {
  for (int i = 0; i < 4; ++i) b[8 + i] = std::uint8_t(code >> (24 - 8 * i));
  return b;
}

class HbkEndToEnd : public ::testing::Test {
 protected:
  // Runs the program in the test directory; `prefix` goes before it in the shell.
  std::string run(const std::string& args, const std::string& prefix = "") {
    const testkit::RunResult r = testkit::run_program(testkit::program_path("hbk2sac"), args, dir_, prefix);
    return r.out + "status=" + std::to_string(r.code) + "\n";
  }

  testkit::ScratchDir scratch_;
  const fs::path dir_ = scratch_.path();
};

TEST_F(HbkEndToEnd, WarningsNameTheirBlocksAndGoodBlocksStillCount) {
  hbk::Block invalid = with_sysid(block_at(11, 0, 100, 0), 99);
  invalid[hbk::off::record_count] = 251;
  hbk::Block other_rate = block_at(11, 0, 100, 0, 50);
  hbktest::write_blocks((dir_ / "w.hbk").string(),
                        {block_at(10, 0, 100, 0),
                         [] {
                           BlockFields s;
                           s.sysid = hbktest::text_to_id(kSysText);
                           s.streamid = hbktest::text_to_id("HHN1");
                           s.diffs = {1, 2, 3, 4};
                           return hbktest::encode_block(s);
                         }(),
                         invalid, with_sysid(block_at(11, 0, 100, 0), 1), other_rate,
                         block_at(11, 0, 100, 100)},
                        std::string(100, 'x'));
  EXPECT_EQ(run("w.hbk"),
            "Converting w.hbk\n"
            "WARNING: Mismatched StreamID found in block 2, skipping.\n"
            "WARNING: Invalid block  3.00000000000000E+0000, skipping\n"
            "WARNING: Mismatched SysID found in block 4, skipping.\n"
            "WARNING: Mismatched Samplerate found in block 5, skipping.\n"
            "WARNING: Partial block of 100 bytes at the end of the file, skipping; any samples in it are missing\n"
            "status=0\n");
  const SacFile sac = read_sac(dir_ / "w.sac");
  ASSERT_TRUE(sac.ok());
  ASSERT_EQ(sac.npts(), 200);
  ASSERT_EQ(sac.bytes.size(), 632u + 800u);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(sac.sample(i), float(i)) << i;
  EXPECT_EQ(sac.real(1), 0.0f);
  EXPECT_EQ(sac.real(2), 199.0f);
  EXPECT_EQ(sac.real(6), 1.99f);
  EXPECT_EQ(sac.word(70), 2019u);  // day 11000 after 17 November 1989
}

TEST_F(HbkEndToEnd, GapIsPaddedAndLittleEndianOnRequest) {
  // Block 2 starts at 9 s + 2.5 s = 11.5 s, half a second after block 1 ends.
  hbktest::write_blocks((dir_ / "g.hbk").string(),
                        {block_at(10, 0, 100, 0), block_at(9, 1, 100, 1000, 100, 2),
                         block_at(10, 1, 100, 2000, 100, 1)});
  EXPECT_EQ(run("g.hbk"),
            "Converting g.hbk\nWARNING: Gap in Data detected, padding with -2147483647\nstatus=0\n");
  const SacFile sac = read_sac(dir_ / "g.sac");
  ASSERT_EQ(sac.npts(), 350);
  EXPECT_EQ(sac.sample(99), 99.0f);
  for (int i = 100; i < 150; ++i) ASSERT_EQ(sac.sample(i), -2147483648.0f) << i;
  EXPECT_EQ(sac.sample(150), 1000.0f);
  EXPECT_EQ(sac.sample(349), 2099.0f);
  EXPECT_EQ(sac.real(1), -2147483648.0f);
  EXPECT_EQ(sac.word(0), 0x3C23D70Au);

  run("g.hbk -little");
  const SacFile le = read_sac(dir_ / "g.sac");
  ASSERT_EQ(le.bytes.size(), 632u + 4 * 350);
  EXPECT_EQ(le.word(0), 0x0AD7233Cu);
  EXPECT_EQ(le.word(79), 350u << 24 | (350u >> 8) << 16);
}

TEST_F(HbkEndToEnd, LongGapIsPaddedInFull) {
  // 200 s at 100 Hz: more padding than the sample buffer holds.
  hbktest::write_blocks((dir_ / "l.hbk").string(), {block_at(10, 0, 100, 0), block_at(211, 0, 100, 7)});
  EXPECT_EQ(run("l.hbk"),
            "Converting l.hbk\nWARNING: Gap in Data detected, padding with -2147483647\nstatus=0\n");
  const SacFile sac = read_sac(dir_ / "l.sac");
  ASSERT_EQ(sac.npts(), 20'200);
  EXPECT_EQ(sac.sample(99), 99.0f);
  for (int i = 100; i < 20'100; ++i) ASSERT_EQ(sac.sample(i), -2147483648.0f) << i;
  EXPECT_EQ(sac.sample(20'100), 7.0f);
}

TEST_F(HbkEndToEnd, OldAndRepeatedBlocksAreSkipped) {
  const hbk::Block second = block_at(11, 0, 100, 100);
  hbktest::write_blocks((dir_ / "o.HBK").string(),
                        {block_at(10, 0, 100, 0), second, block_at(10, 0, 100, 5000), second,
                         block_at(12, 0, 100, 200)});
  EXPECT_EQ(run("o.HBK"),
            "Converting o.HBK\n"
            "WARNING: Old Data detected - block skipped\n"
            "WARNING: Old Data detected - block skipped\n"
            "status=0\n");
  const SacFile sac = read_sac(dir_ / "o.sac");
  ASSERT_EQ(sac.npts(), 300);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(sac.sample(i), float(i)) << i;
}

TEST_F(HbkEndToEnd, PaddingOffTheMicrosecondGridStillUsesTheBlock) {
  // At 128 Hz a sample lasts 7812.5 us; a whole-second gap must not push the
  // expected time past the next block and lose the rest of the file.
  hbktest::write_blocks((dir_ / "r.hbk").string(),
                        {block_at(10, 0, 128, 0, 128), block_at(12, 0, 128, 1000, 128),
                         block_at(13, 0, 128, 2000, 128)});
  EXPECT_EQ(run("r.hbk"),
            "Converting r.hbk\nWARNING: Gap in Data detected, padding with -2147483647\nstatus=0\n");
  const SacFile sac = read_sac(dir_ / "r.sac");
  ASSERT_EQ(sac.npts(), 512);
  EXPECT_EQ(sac.sample(127), 127.0f);
  EXPECT_EQ(sac.sample(255), -2147483648.0f);
  EXPECT_EQ(sac.sample(256), 1000.0f);
  EXPECT_EQ(sac.sample(511), 2127.0f);
}

TEST_F(HbkEndToEnd, GapBeyondTheSampleCountLimitSkipsOnlyThatBlock) {
  // Ten days at 4000 Hz are more samples than npts can count.
  constexpr std::uint8_t kHz4000 = 181;
  const hbk::Block wild =
      with_timecode(block_at(10, 0, 1000, 0, kHz4000), hbktest::make_timecode(kDay + 10, 10));
  // At 4000 Hz the fraction numerator counts sixteenths: 4 -> 10.25 s.
  hbktest::write_blocks((dir_ / "t.hbk").string(),
                        {block_at(10, 0, 1000, 0, kHz4000), wild, block_at(10, 4, 1000, 1000, kHz4000)});
  EXPECT_EQ(run("t.hbk"),
            "Converting t.hbk\nWARNING: Block 2 would pass 2147483647 samples, skipping.\n"
            "status=0\n");
  const SacFile sac = read_sac(dir_ / "t.sac");
  ASSERT_EQ(sac.npts(), 2000);
  EXPECT_EQ(sac.sample(1999), 1999.0f);
  EXPECT_EQ(sac.real(0), 0.00025f);
}

TEST_F(HbkEndToEnd, PatternOutputDirectoryAndNameRules) {
  fs::create_directories(dir_ / "in" / "skipped.hbk");
  const std::vector<hbk::Block> one{block_at(10, 0, 100, 0)};
  for (const char* name : {"x.HBK", "y.Hbk", "z.dat", "w", ".h.hbk"})
    hbktest::write_blocks((dir_ / "in" / name).string(), one);
  const std::string out = run("'in/*' -o:made/deep");
  std::istringstream lines(out);
  std::multiset<std::string> got;
  for (std::string l; std::getline(lines, l);) got.insert(l);
  EXPECT_EQ(got, (std::multiset<std::string>{"Converting x.HBK", "Converting y.Hbk",
                                             "Converting z.dat", "Converting w",
                                             "Converting .h.hbk", "status=0"}));
  for (const char* name : {"x.sac", "y.sac", "z.dat.sac", "w.sac", ".h.sac"})
    EXPECT_EQ(read_sac(dir_ / "made" / "deep" / name).npts(), 100) << name;
  EXPECT_FALSE(fs::exists(dir_ / "in" / "x.sac"));

  // Without a directory the output lies beside the input.
  EXPECT_EQ(run("in/x.HBK -o:"), "Converting x.HBK\nstatus=0\n");
  EXPECT_EQ(read_sac(dir_ / "in" / "x.sac").npts(), 100);
}

TEST_F(HbkEndToEnd, ArgumentsThatNameNoFileAreWarnedOfOnStandardError) {
  fs::create_directories(dir_ / "in" / "sub.hbk");
  hbktest::write_blocks((dir_ / "in" / "x.hbk").string(), {block_at(10, 0, 100, 0)});
  const std::string program = quoted(fs::path(testkit::program_path("hbk2sac")));
  const int status = testkit::run_shell("cd " + quoted(dir_) + " && " + program +
                                        " 'nothing*' in/x.hbk 'in/sub*' /o:x -O:out -little"
                                        " >console.txt 2>errors.txt");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(testkit::read_file(dir_ / "console.txt"), "Converting x.hbk\n");
  EXPECT_EQ(testkit::read_file(dir_ / "errors.txt"),
            "WARNING: no file matches nothing*\n"
            "WARNING: no file matches in/sub*\n"
            "WARNING: no file matches /o:x\n");
  EXPECT_EQ(read_sac(dir_ / "out" / "x.sac", false).npts(), 100);
}

// Blocks ahead of the first valid block with a sample rate are skipped with their
// usual warnings; that block fixes the system, stream, rate and start time, so a damaged
// identity in a bad first block costs none of the good blocks after it.
TEST_F(HbkEndToEnd, DamagedLeadingBlocksAreSkippedAndTheFirstGoodOneFixesTheStream) {
  hbk::Block invalid = with_sysid(block_at(5, 0, 100, 9000), 99);
  invalid[hbk::off::record_count] = 251;
  hbk::Block no_rate = block_at(7, 0, 100, 0);
  no_rate[hbk::off::rate_code] = 0;
  const hbk::Block other_rate = block_at(8, 0, 100, 0, 50);
  struct Case {
    const char* name;
    std::vector<hbk::Block> blocks;
    std::string warnings;
  } cases[] = {
      {"invalid.hbk", {invalid, block_at(10, 0, 100, 0), block_at(11, 0, 100, 100)},
       "WARNING: Invalid block  1.00000000000000E+0000, skipping\n"},
      {"no_rate.hbk", {no_rate, invalid, block_at(10, 0, 100, 0), other_rate, block_at(11, 0, 100, 100)},
       "WARNING: Mismatched Samplerate found in block 1, skipping.\n"
       "WARNING: Invalid block  2.00000000000000E+0000, skipping\n"
       "WARNING: Mismatched Samplerate found in block 4, skipping.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    hbktest::write_blocks((dir_ / c.name).string(), c.blocks);
    EXPECT_EQ(run(c.name), "Converting " + std::string(c.name) + "\n" + c.warnings + "status=0\n");
    const SacFile sac = read_sac(dir_ / (std::string(c.name, std::strlen(c.name) - 4) + ".sac"));
    ASSERT_EQ(sac.npts(), 200);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(sac.sample(i), float(i)) << i;
    EXPECT_EQ(sac.word(74), 10u);  // nzsec of the first good block
    EXPECT_EQ(sac.bytes.substr(440, 4), kSysText + '\0');
  }
}

// Every file without a sample to give is reported as an ERROR on standard output and,
// with its cause, on standard error; it gets no SAC file and leaves an earlier SAC file
// of its name as it was; the run goes on and ends with 1.
TEST_F(HbkEndToEnd, UnusableInputsLeaveNoFileAndTheStatusShowsIt) {
  hbk::Block no_rate = block_at(10, 0, 100, 0);
  no_rate[hbk::off::rate_code] = 0;
  hbk::Block invalid = block_at(10, 0, 100, 0);
  invalid[hbk::off::record_count] = 251;
  BlockFields empty_fields = hbktest::fields_from_samples({}, 4);
  empty_fields.sysid = hbktest::text_to_id(kSysText);
  empty_fields.streamid = hbktest::text_to_id(kStreamText);
  empty_fields.timecode = hbktest::make_timecode(kDay, 10);
  hbktest::write_blocks((dir_ / "a.hbk").string(), {no_rate, no_rate});
  hbktest::write_blocks((dir_ / "b.hbk").string(), {}, std::string(1023, '\0'));
  fs::create_symlink(dir_ / "gone", dir_ / "c.hbk");
  hbktest::write_blocks((dir_ / "e.hbk").string(), {invalid, invalid});
  hbktest::write_blocks((dir_ / "f.hbk").string(),
                        {hbktest::encode_block(empty_fields), with_sysid(block_at(10, 0, 100, 0), 1)});
  std::ofstream(dir_ / "blocker") << "a file where a directory should be";
  hbktest::write_blocks((dir_ / "d.hbk").string(), {block_at(10, 0, 100, 0)});
  for (const char* name : {"a.sac", "e.sac", "f.sac"}) testkit::write_file(dir_ / name, "earlier");

  const std::string d = dir_.string();
  EXPECT_EQ(run("a.hbk b.hbk c.hbk e.hbk f.hbk d.hbk"),
            "Converting a.hbk\nERROR: no block with a sample rate in file \"a.hbk\"\n"
            "ERROR: cannot convert a.hbk: no block with a sample rate\n"
            "Converting b.hbk\nERROR: no complete block in file \"b.hbk\"\n"
            "ERROR: cannot convert b.hbk: no complete block\n"
            "Converting c.hbk\nERROR: cannot open file \"c.hbk\"\n"
            "ERROR: cannot open c.hbk: No such file or directory\n"
            "Converting e.hbk\nWARNING: Invalid block  1.00000000000000E+0000, skipping\n"
            "WARNING: Invalid block  2.00000000000000E+0000, skipping\n"
            "ERROR: no valid block in file \"e.hbk\"\nERROR: cannot convert e.hbk: no valid block\n"
            "Converting f.hbk\nWARNING: Mismatched SysID found in block 2, skipping.\n"
            "ERROR: no usable block in file \"f.hbk\"\nERROR: cannot convert f.hbk: no usable block\n"
            "Converting d.hbk\n"
            "status=1\n");
  EXPECT_EQ(read_sac(dir_ / "d.sac").npts(), 100);
  EXPECT_EQ(run("d.hbk -o:blocker/sub"),
            "Converting d.hbk\nERROR: cannot create file \"" + d + "/blocker/sub/d.sac\"\n" +
                "ERROR: cannot create directory " + d + "/blocker/sub: Not a directory\nstatus=1\n");
  // The whole file cannot take its name: a directory holds it.
  hbktest::write_blocks((dir_ / "g.hbk").string(), {block_at(10, 0, 100, 0)});
  fs::create_directories(dir_ / "g.sac" / "kept");
  EXPECT_EQ(run("g.hbk"), "Converting g.hbk\nERROR: cannot create file \"g.sac\"\n"
                          "ERROR: cannot create g.sac: Is a directory\nstatus=1\n");
  // A relative output directory in a current directory that is gone is not guessed.
  fs::create_directory(dir_ / "gone");
  const testkit::RunResult gone = testkit::run_program(testkit::program_path("hbk2sac"), quoted(dir_ / "d.hbk") + " -o:out",
                                                       (dir_ / "gone").string(), "rmdir " + quoted(dir_ / "gone") + " &&");
  EXPECT_EQ(gone.out + std::to_string(gone.code),
            "ERROR: cannot resolve output directory out: No such file or directory\n1");
  // The kernel refuses to read a process's memory at address 0.
  EXPECT_EQ(run("/proc/self/mem"), "Converting mem\nERROR: cannot read file \"/proc/self/mem\"\n"
                                   "ERROR: cannot read /proc/self/mem: Input/output error\nstatus=1\n");
  for (const char* name : {"a.sac", "e.sac", "f.sac"}) EXPECT_EQ(testkit::read_file(dir_ / name), "earlier");
  for (const char* name : {"b.sac", "c.sac"}) EXPECT_FALSE(fs::exists(dir_ / name)) << name;
  for (const std::string& name : testkit::list_files(dir_)) EXPECT_FALSE(name.ends_with(".part")) << name;
}

struct Unmount {
  fs::path at;
  ~Unmount() {
    if (!at.empty()) testkit::run_shell("umount " + quoted(at));
  }
};

// A directory no file can be created in: read-only for a user; for root, who writes
// anyway, a read-only tmpfs. Returns the cause the program must name, or "" when neither
// can be had.
std::string lock_directory(const fs::path& d) {
  if (::geteuid() != 0) {
    fs::permissions(d, fs::perms::owner_read | fs::perms::owner_exec);
    return "Permission denied";
  }
  return testkit::run_shell("mount -t tmpfs -o ro,size=16k tmpfs " + quoted(d) + " 2>/dev/null") == 0
             ? "Read-only file system"
             : "";
}

TEST_F(HbkEndToEnd, UnwritableDirectoryIsNamedWithItsCause) {
  hbktest::write_blocks((dir_ / "d.hbk").string(), {block_at(10, 0, 100, 0)});
  fs::create_directory(dir_ / "locked");
  const std::string cause = lock_directory(dir_ / "locked");
  if (cause.empty()) GTEST_SKIP() << "no way to make a directory unwritable";
  const Unmount unmount{::geteuid() == 0 ? dir_ / "locked" : fs::path()};
  const std::string sac = fs::canonical(dir_).string() + "/locked/d.sac";
  EXPECT_EQ(run("d.hbk -o:locked"), "Converting d.hbk\nERROR: cannot create file \"" + sac +
                                        "\"\nERROR: cannot create " + sac + ": " + cause + "\nstatus=1\n");
  EXPECT_EQ(testkit::list_files(dir_), (std::vector<std::string>{"d.hbk"}));
}

TEST_F(HbkEndToEnd, FailedWriteIsReportedAndTheEarlierFileKept) {
  std::vector<hbk::Block> blocks;
  for (std::uint32_t i = 0; i < 20; ++i) blocks.push_back(block_at(10 + 10 * i, 0, 1000, 0));
  hbktest::write_blocks((dir_ / "big.hbk").string(), blocks);
  hbktest::write_blocks((dir_ / "small.hbk").string(), {block_at(10, 0, 100, 0)});
  testkit::write_file(dir_ / "big.sac", "earlier");
  // A file size limit far below the 80 KB of big.sac makes the writes fail, as a full disk
  // would (16 blocks of 512 or 1024 bytes, depending on the shell).
  const std::string out = run("big.hbk small.hbk", "trap '' XFSZ; ulimit -f 16;");
  EXPECT_EQ(out, "Converting big.hbk\nERROR: cannot write file \"big.sac\"\n"
                 "ERROR: cannot write big.sac: File too large\n"
                 "Converting small.hbk\nstatus=1\n");
  EXPECT_EQ(testkit::read_file(dir_ / "big.sac"), "earlier");
  EXPECT_EQ(read_sac(dir_ / "small.sac").npts(), 100);
  EXPECT_EQ(testkit::list_files(dir_),
            (std::vector<std::string>{"big.hbk", "big.sac", "small.hbk", "small.sac"}));
}

// The shim logs each fdatasync, fsync and rename; temporaries are named with the pid.
std::vector<std::string> sync_calls(const fs::path& log) {
  std::istringstream lines(testkit::read_file(log));
  std::vector<std::string> calls;
  for (std::string l; std::getline(lines, l);)
    calls.push_back(std::regex_replace(l, std::regex("hbk2sac-[0-9]+"), "hbk2sac-PID"));
  return calls;
}

// With -y each file's data reaches the device before its rename, its directory entry
// after; new directory levels are synced in their parents. Without -y nothing is synced.
TEST_F(HbkEndToEnd, DurableRunFlushesEachFileBeforeItsRenameAndItsDirectoryAfter) {
  for (const char* name : {"a.hbk", "b.hbk"}) hbktest::write_blocks((dir_ / name).string(), {block_at(10, 0, 100, 0)});
  const fs::path log = dir_ / "sync.log";
  const std::string preload = "PK_SHIM_LOG=" + quoted(log) + " LD_PRELOAD=" + quoted(PK_CALL_SHIM) +
                              " ASAN_OPTIONS=verify_asan_link_order=0:$ASAN_OPTIONS";
  const std::string root = fs::canonical(dir_).string(), out = root + "/out/deep";
  const auto renamed = [&](const std::string& name) {
    return "rename " + out + "/." + name + ".hbk2sac-PID.part " + out + "/" + name;
  };
  const auto flushed = [&](const std::string& name) { return "fdatasync " + out + "/." + name + ".hbk2sac-PID.part"; };
  const std::vector<std::string> plain{renamed("a.sac"), renamed("b.sac")};
  const std::vector<std::string> durable{"fsync " + root,     "fsync " + root + "/out", flushed("a.sac"),
                                         renamed("a.sac"),    "fsync " + out,           flushed("b.sac"),
                                         renamed("b.sac"),    "fsync " + out};
  for (const auto& [switches, calls] : {std::pair{"", plain}, std::pair{" -y", durable}}) {
    SCOPED_TRACE(switches);
    fs::remove_all(dir_ / "out");
    fs::remove(log);
    EXPECT_EQ(run(std::string("a.hbk b.hbk -o:out/deep") + switches, preload),
              "Converting a.hbk\nConverting b.hbk\nstatus=0\n");
    EXPECT_EQ(sync_calls(log), calls);
    EXPECT_EQ(read_sac(dir_ / "out" / "deep" / "b.sac").npts(), 100);
  }
}

// Standard output that cannot be written is a failure of the run, told on standard error.
TEST_F(HbkEndToEnd, UnwritableConsoleIsAFailure) {
  hbktest::write_blocks((dir_ / "x.hbk").string(), {block_at(10, 0, 100, 0)});
  const std::string program = quoted(fs::path(testkit::program_path("hbk2sac")));
  const int status = testkit::run_shell("cd " + quoted(dir_) + " && " + program + " x.hbk >/dev/full 2>errors.txt");
  EXPECT_EQ(status, hbk::kStatusError);
  EXPECT_EQ(testkit::read_file(dir_ / "errors.txt"),
            "ERROR: cannot write standard output: No space left on device\n");
  EXPECT_EQ(read_sac(dir_ / "x.sac").npts(), 100);
}

// Starts hbk2sac in `dir` without a shell between, so that a signal reaches the
// program itself; standard output and error go to `console`.
pid_t start_program(const fs::path& dir, const std::vector<std::string>& args, const fs::path& console) {
  const std::string program = testkit::program_path("hbk2sac");
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  const int fd = ::open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0 || ::chdir(dir.c_str()) != 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0) ::_exit(126);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

bool appears_within_seconds(const fs::path& path, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!fs::exists(path)) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST_F(HbkEndToEnd, InterruptDropsTheUnfinishedFileAndKeepsTheEarlierOne) {
  const testkit::ScratchDir console_dir;
  const fs::path console = console_dir.path() / "console.txt";
  const fs::path input = dir_ / "x.hbk";
  hbktest::write_blocks((dir_ / "later.hbk").string(), {block_at(10, 0, 100, 0)});
  // A closed pipe, a closed terminal and SIGQUIT end the run as CTRL-C does.
  for (const int sig : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(sig);
    fs::remove(input);
    hbktest::write_blocks(input.string(), {block_at(10, 0, 100, 7)});
    ASSERT_EQ(run("x.hbk"), "Converting x.hbk\nstatus=0\n");
    const std::string earlier = testkit::read_file(dir_ / "x.sac");

    // The new input comes through a pipe, so the program is still waiting for blocks
    // when the signal comes. Holding both ends, the test never waits on the program.
    fs::remove(input);
    ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
    const int pipe = ::open(input.c_str(), O_RDWR);
    ASSERT_GE(pipe, 0);
    for (std::uint32_t i = 0; i < 3; ++i) {
      const hbk::Block b = block_at(10 + 10 * i, 0, 1000, 0);
      ASSERT_EQ(::write(pipe, b.data(), b.size()), ssize_t(b.size()));
    }
    const pid_t pid = start_program(dir_, {"x.hbk", "later.hbk"}, console);
    ASSERT_GT(pid, 0);
    const bool begun = appears_within_seconds(hbk::temporary_name((dir_ / "x.sac").string(), pid, 0), 10);
    ::kill(pid, sig);
    ::close(pipe);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);

    EXPECT_TRUE(begun);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), hbk::kStatusInterrupted);
    EXPECT_EQ(testkit::read_file(console), "Converting x.hbk\n");
    EXPECT_EQ(testkit::read_file(dir_ / "x.sac"), earlier);
    EXPECT_EQ(testkit::list_files(dir_), (std::vector<std::string>{"later.hbk", "x.sac"}));
  }
}

TEST_F(HbkEndToEnd, BundledSampleConverts) {
  const fs::path sample = fs::path(PK_SOURCE_DIR) / "samples" / "sample.hbk";
  if (!fs::exists(sample)) GTEST_SKIP() << "no bundled sample";
  EXPECT_EQ(run(quoted(sample) + " -o:out"),
            "Converting sample.hbk\nWARNING: Gap in Data detected, padding with -2147483647\n"
            "status=0\n");
  const SacFile sac = read_sac(dir_ / "out" / "sample.sac");
  EXPECT_EQ(sac.npts(), 3750);
  EXPECT_EQ(sac.sample(2750), -2147483648.0f);
  EXPECT_EQ(sac.sample(2999), -2147483648.0f);
  EXPECT_GT(sac.sample(3000), -10000.0f);
}

TEST_F(HbkEndToEnd, FieldRecordingsConvertAndAreReadBySac2mseed) {
  const fs::path field = PK_FIELD_DIR;
  if (!fs::exists(field / "blocks-a.hbk") || !fs::exists(field / "blocks-b.hbk"))
    GTEST_SKIP() << "field recordings absent";
  EXPECT_EQ(run(quoted(field / "blocks-*.hbk") + " -o:be"),
            run(quoted(field / "blocks-*.hbk") + " -o:le -l"));
  for (const char* name : {"blocks-a.sac", "blocks-b.sac"}) {
    EXPECT_GT(read_sac(dir_ / "be" / name).npts(), 0) << name;
    EXPECT_EQ(fs::file_size(dir_ / "be" / name), fs::file_size(dir_ / "le" / name));
  }
  if (!testkit::on_path("sac2mseed")) GTEST_SKIP() << "sac2mseed is not installed";
  for (const char* order : {"be", "le"}) {
    for (const char* name : {"blocks-a", "blocks-b"}) {
      const fs::path sac = dir_ / order / (std::string(name) + ".sac");
      const fs::path ms = dir_ / order / (std::string(name) + ".mseed");
      const std::string cmd =
          "sac2mseed -o " + quoted(ms) + " " + quoted(sac) + " > " + quoted(dir_ / "log") + " 2>&1";
      EXPECT_EQ(testkit::run_shell(cmd), 0) << sac;
      ASSERT_TRUE(fs::exists(ms)) << ms;
      EXPECT_GE(fs::file_size(ms), 512u);
    }
  }
}

}  // namespace
