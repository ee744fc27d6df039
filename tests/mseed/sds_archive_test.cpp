// The SDS archive: day files split at midnight, re-runs that leave each sample once,
// old records cut exactly where new data covers them, concurrent runs, failures. Waiting
// for a lock and a path that cannot be made show in pk_mseed's own tests.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "mseed/sds_archive.h"
#include "tests/mseed/sds_mseed_files.h"
#include "tests/support/testkit.h"

namespace {

using namespace sdstest;
using testkit::ScratchDir;

// Sample k of the test signal: differences of up to 2000 counts.
std::vector<int32_t> signal(int64_t first, int64_t count, int32_t offset = 0) {
  std::vector<int32_t> v;
  for (int64_t k = first; k < first + count; ++k) v.push_back(static_cast<int32_t>((k * 2654435761u) % 2001) - 1000 + offset);
  return v;
}

const int64_t kLateOnNewYearsEve = utc(2025, 12, 31, 23, 50, 0);

void merge_ok(const std::string& root, const std::vector<std::string>& inputs) {
  auto failure = pk::merge_into_sds(root, inputs, false);
  ASSERT_FALSE(failure) << failure->what << " " << failure->path << ": " << std::strerror(failure->error_number);
}

TEST(SdsArchive, SplitsRecordsAtMidnightIntoTheirDayFilesKeepingTheEncoding) {
  ScratchDir tmp;
  Stream z, n{.channel = "HHN", .encoding = 10};  // Steim-1
  append_records(tmp / "in.mseed", z, kLateOnNewYearsEve, signal(0, 120000));
  append_records(tmp / "in.mseed", n, kLateOnNewYearsEve, signal(7, 120000));

  merge_ok(tmp / "sds", {tmp / "in.mseed"});
  Archive a = read_archive(tmp / "sds");
  EXPECT_EQ(a.problems, std::vector<std::string>{});
  EXPECT_EQ(a.files, (std::vector<std::string>{"2025/XX/TST01/HHN.D/XX.TST01..HHN.D.2025.365",
                                               "2025/XX/TST01/HHZ.D/XX.TST01..HHZ.D.2025.365",
                                               "2026/XX/TST01/HHN.D/XX.TST01..HHN.D.2026.001",
                                               "2026/XX/TST01/HHZ.D/XX.TST01..HHZ.D.2026.001"}));
  Samples want;
  add_expected(want, z, kLateOnNewYearsEve, signal(0, 120000));
  add_expected(want, n, kLateOnNewYearsEve, signal(7, 120000));
  EXPECT_TRUE(a.samples == want);
  for (const auto& [name, encodings] : a.encodings)  // split records too
    EXPECT_EQ(encodings, std::vector<int>(encodings.size(), name.find("HHN") != std::string::npos ? 10 : 11)) << name;
}

TEST(SdsArchive, TheSameDataTwiceLeavesEachSampleOnce) {
  ScratchDir tmp;
  Stream z;
  append_records(tmp / "a.mseed", z, kLateOnNewYearsEve, signal(0, 90000));
  std::filesystem::copy_file(tmp / "a.mseed", tmp / "copy.mseed");
  merge_ok(tmp / "sds", {tmp / "a.mseed"});
  std::string first = testkit::read_file(tmp / "sds/2025/XX/TST01/HHZ.D/XX.TST01..HHZ.D.2025.365");
  // What a run killed while writing left behind goes with the next run.
  testkit::write_file(tmp / "sds/2025/XX/TST01/HHZ.D/.XX.TST01..HHZ.D.2025.365.pk_mseed-99999.part", "killed");
  merge_ok(tmp / "sds", {tmp / "a.mseed"});
  EXPECT_EQ(testkit::read_file(tmp / "sds/2025/XX/TST01/HHZ.D/XX.TST01..HHZ.D.2025.365"), first);

  merge_ok(tmp / "both", {tmp / "a.mseed", tmp / "copy.mseed"});
  Samples want;
  add_expected(want, z, kLateOnNewYearsEve, signal(0, 90000));
  for (const char* root : {"sds", "both"}) {
    Archive a = read_archive(tmp / root);
    EXPECT_EQ(a.problems, std::vector<std::string>{}) << root;
    EXPECT_TRUE(a.samples == want) << root;
  }
}

// New data over the middle of old records: the old samples it covers (within half an
// interval of a new one) go, every other old sample stays exactly once.
TEST(SdsArchive, PartlyCoveredOldRecordsKeepExactlyTheirUncoveredSamples) {
  struct Case {
    int64_t shift;  // of the new samples against the old ones' grid
  };
  for (Case c : {Case{0}, Case{3000}, Case{-4000}}) {
    ScratchDir tmp;
    Stream z;
    int64_t t0 = utc(2026, 3, 1, 12, 0, 0) + 37;  // cut records start at odd microseconds
    append_records(tmp / "old.mseed", z, t0, signal(0, 6000));
    append_records(tmp / "new.mseed", z, t0 + 2050 * 10000 + c.shift, signal(2050, 900, 5000));
    merge_ok(tmp / "sds", {tmp / "old.mseed"});
    merge_ok(tmp / "sds", {tmp / "new.mseed"});
    Samples want;
    add_expected(want, z, t0, signal(0, 2050));
    add_expected(want, z, t0 + 2050 * 10000 + c.shift, signal(2050, 900, 5000));
    add_expected(want, z, t0 + 2950 * 10000, signal(2950, 3050));
    Archive a = read_archive(tmp / "sds");
    EXPECT_EQ(a.problems, std::vector<std::string>{}) << c.shift;
    EXPECT_TRUE(a.samples == want) << c.shift;
  }
}

// Four processes merge overlapping stretches of two channels into one archive at once,
// each in ten runs of its own: a run that overwrote another's records would lose them
// for good. Nothing is lost or doubled, and the samples are a clean merge's.
TEST(SdsArchive, ConcurrentRunsNeverLoseEachOthersRecords) {
  ScratchDir tmp;
  Stream z, e{.channel = "HHE"};
  const int64_t starts[4] = {0, 60000, 120000, 30000}, chunk = 15000;
  std::vector<std::string> inputs;
  for (int i = 0; i < 4; ++i) {
    for (int64_t c = 0; c < 10; ++c) {
      inputs.push_back(tmp / ("in" + std::to_string(i * 10 + c) + ".mseed"));
      int64_t first = starts[i] + c * chunk;
      for (const Stream& s : {z, e}) append_records(inputs.back(), s, kLateOnNewYearsEve + first * 10000, signal(first, chunk));
    }
  }
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int c = 0; c < 10; ++c)
        if (pk::merge_into_sds(tmp / "sds", {inputs[i * 10 + c]}, false)) _exit(1);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  merge_ok(tmp / "clean", inputs);
  Archive a = read_archive(tmp / "sds"), clean = read_archive(tmp / "clean");
  EXPECT_EQ(a.problems, std::vector<std::string>{});
  EXPECT_EQ(clean.problems, std::vector<std::string>{});
  Samples want;
  for (const Stream& s : {z, e}) add_expected(want, s, kLateOnNewYearsEve, signal(0, 270000));
  EXPECT_TRUE(clean.samples == want);
  EXPECT_TRUE(a.samples == want);
  EXPECT_EQ(a.files, clean.files);
}

// An archive "sds" holding 30 s of old.mseed's samples from `t0` on, and new.mseed with
// `replacing` other samples from t0 on. Returns the day file's path, for day `day`.
std::string old_day_and_new_input(const ScratchDir& tmp, int64_t t0, int64_t replacing, const std::string& day) {
  append_records(tmp / "old.mseed", Stream{}, t0, signal(0, 3000));
  append_records(tmp / "new.mseed", Stream{}, t0, signal(0, replacing, 9));
  merge_ok(tmp / "sds", {tmp / "old.mseed"});
  return tmp / ("sds/2026/XX/TST01/HHZ.D/XX.TST01..HHZ.D.2026." + day);
}

TEST(SdsArchive, AFailedWriteNamesTheDayFileAndLeavesItAsItWasWithNoTemporary) {
  ScratchDir tmp;
  std::string day = old_day_and_new_input(tmp, utc(2026, 5, 4, 3, 2, 1), 60000, "124");
  std::string before = testkit::read_file(day);
  pid_t pid = fork();  // the child's files may not grow past 8 KiB: the temporary cannot be written
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit small{8192, 8192};
    setrlimit(RLIMIT_FSIZE, &small);
    auto f = pk::merge_into_sds(tmp / "sds", {tmp / "new.mseed"}, true);
    _exit(!f ? 1 : f->path != day ? 2 : f->error_number != EFBIG ? 3 : f->what != "cannot write" ? 4 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no failure, 2: wrong path, 3: wrong errno, 4: wrong step";
  EXPECT_EQ(testkit::read_file(day), before);
  EXPECT_EQ(read_archive(tmp / "sds").problems, std::vector<std::string>{});
}

// Inputs that cannot go into the archive are refused before anything is written: SEED
// codes that would climb out of it as directory names, bytes that are no record, a
// record whose length libmseed refuses. libmseed says nothing itself: its explanation is
// kept for the failure's line.
TEST(SdsArchive, RefusesUnfitInputsBeforeWritingAnything) {
  ScratchDir tmp;
  append_records(tmp / "climbs.mseed", Stream{.network = "..", .station = "ETC"}, utc(2026, 1, 2, 0, 0, 0), signal(0, 100));
  append_records(tmp / "damaged.mseed", Stream{}, utc(2026, 1, 2, 0, 0, 0), signal(0, 100));
  testkit::write_file(tmp / "damaged.mseed", testkit::read_file(tmp / "damaged.mseed") + std::string(4096, 'x'));
  append_records(tmp / "length.mseed", Stream{}, utc(2026, 1, 2, 0, 0, 0), signal(0, 100));
  std::string bytes = testkit::read_file(tmp / "length.mseed");
  bytes[54] = 3;  // blockette 1000: records of 2^3 bytes
  testkit::write_file(tmp / "length.mseed", bytes);
  const struct {
    const char* input;
    int error;
    const char* cause;  // libmseed's explanation; empty: none
  } cases[] = {{"length.mseed", EBADMSG, "msr_unpack(XX_TST01__HHZ_D): Record length is out of range: 8"},
               {"climbs.mseed", EINVAL, ""},
               {"damaged.mseed", EBADMSG, ""}};
  for (auto [input, error, cause] : cases) {
    testing::internal::CaptureStderr();
    auto failure = pk::merge_into_sds(tmp / "sds/in", {tmp / input}, false);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << input;
    ASSERT_TRUE(failure) << input;
    EXPECT_EQ(failure->cause, cause) << input;
    EXPECT_EQ(failure->error_number, error) << input;
    EXPECT_EQ(failure->path, tmp / input);
    EXPECT_FALSE(std::filesystem::exists(tmp / "sds")) << input;
  }
}

// A day file another tool wrote, holding another channel's records too, or records that
// overlap: what the new data does not cover stays as it is.
TEST(SdsArchive, WhatNewDataDoesNotCoverInAForeignDayFileStays) {
  ScratchDir tmp;
  Stream z, x{.channel = "HHX"};
  int64_t t0 = utc(2026, 2, 3, 4, 5, 6);
  std::string dir = tmp / "sds/2026/XX/TST01/HHZ.D";
  std::filesystem::create_directories(dir);
  for (const Stream& s : {z, x}) append_records(dir + "/XX.TST01..HHZ.D.2026.034", s, t0, signal(0, 3000));
  append_records(tmp / "new.mseed", z, t0, signal(0, 3000, 9));
  merge_ok(tmp / "sds", {tmp / "new.mseed"});
  Samples want;
  add_expected(want, z, t0, signal(0, 3000, 9));
  add_expected(want, x, t0, signal(0, 3000));
  Archive a = read_archive(tmp / "sds");
  EXPECT_EQ(a.problems, std::vector<std::string>{});
  EXPECT_TRUE(a.samples == want);

  // Old records overlapping each other, apart from the new data, stay both.
  append_records(dir + "/XX.TST01..HHZ.D.2026.034", x, t0 + 3600 * kSecond, signal(0, 100));
  append_records(dir + "/XX.TST01..HHZ.D.2026.034", x, t0 + 3600 * kSecond, signal(0, 100));
  merge_ok(tmp / "sds", {tmp / "new.mseed"});
  int twice = 0;
  for (const Record& r : read_records(dir + "/XX.TST01..HHZ.D.2026.034")) twice += r.start_us == t0 + 3600 * kSecond;
  EXPECT_EQ(twice, 2);
}

}  // namespace
