// Large-scale behaviour the benchmark relies on: an event with more interleaved channels
// than files may stay open, benchmark inputs whose packet and miniSEED forms carry
// the same samples, and the measuring of a run.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "output_readers.h"
#include "pkenc.h"
#include "testkit.h"

namespace {

namespace fs = std::filesystem;
using testkit::program_path;
using testkit::run_program;
using testkit::ScratchDir;

std::vector<int32_t> wave(std::size_t n, unsigned chan) {
  std::vector<int32_t> s(n);
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<int32_t>(std::lround(20000.0 * std::sin(0.01 * static_cast<double>(i) + chan))) +
           static_cast<int32_t>(chan * 1000);
  return s;
}

fs::path trace_path(const ScratchDir& dir, unsigned chan) {
  char name[64];
  std::snprintf(name, sizeof name, "2003_001_00_00_00_01234_1_%u.RSY", chan + 1);
  return fs::path(dir.path()) / name;
}

// Sixty channels take their turns packet by packet: files must be closed and reopened
// along the way, and a run allowed fewer descriptors than channels still succeeds
// because the number of open channel files stays bounded.
TEST(WideEvent, EveryChannelKeepsItsSamplesWhenFilesMustBeReopened) {
  ScratchDir dir;
  pktest::Recording rec;
  constexpr unsigned kChannels = 60;
  for (unsigned c = 0; c < kChannels; ++c)
    rec.channels.push_back(pktest::ChannelData{.channel = c, .samples = wave(2000, c), .per_packet = 400});
  pktest::write_packets(dir / "in.pk", rec.packets());

  const testkit::RunResult r = run_program(program_path("pk_segy"), "in.pk -VN", dir.path(), "ulimit -n 48 &&");
  ASSERT_EQ(r.code, 0) << r.out;
  for (unsigned c = 0; c < kChannels; ++c)
    EXPECT_EQ(testkit::trace_file_samples(trace_path(dir, c)), rec.channels[c].samples) << c;
}

// Channels of a million samples and more: SEISAN counts read back in either framing, a
// channel past what a channel header counts goes on in a second file from where the
// first ends, and pk_segy says where a long trace's full count is.
TEST(LongChannel, CountsReadBackAndTheLongestGoesOnInASecondFile) {
  struct Case {
    std::size_t samples;
    const char* switches;
    std::vector<std::size_t> counts;  // per file, in time order
  };
  const Case cases[] = {{1'200'000, "-WP", {1'200'000}},
                        {1'200'000, "-W4", {1'200'000}},
                        {10'000'001, "-WP", {9'999'320, 681}},  // the packet that would pass 9,999,999 begins the second
                        {10'000'001, "-W4", {9'999'320, 681}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.samples) + " " + c.switches);
    ScratchDir dir;
    fs::create_directory(dir / "out");
    ASSERT_EQ(run_program(program_path("make_pk_bench"), "1 " + std::to_string(c.samples) + " in.pk in.mseed",
                          dir.path()).code, 0);
    const testkit::RunResult r = run_program(program_path("pk_seis"), std::string("in.pk out -VN ") + c.switches,
                                             dir.path());
    ASSERT_EQ(r.code, 0) << r.out;
    const std::vector<std::string> files = testkit::list_files(dir / "out");
    ASSERT_EQ(files.size(), c.counts.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string bytes = testkit::read_file(dir.path() / "out" / files[i]);
      const auto sei = c.switches == std::string("-W4") ? testkit::read_sei4(bytes) : testkit::read_sei(bytes);
      ASSERT_EQ(sei.channels.size(), 1u);
      const std::string count = std::to_string(c.counts[i]);
      EXPECT_EQ(testkit::cols(sei.channels[0].header, 44, 50), std::string(7 - count.size(), ' ') + count);
      EXPECT_EQ(sei.channels[0].samples.size(), c.counts[i]);
    }
    // At 100 samples a second the second file begins 99993.2 s after the first.
    if (files.size() == 2) {
      EXPECT_EQ(files[1], "2021_061_03_46_33_BE01_1.SEI");
    }
  }

  ScratchDir dir;
  ASSERT_EQ(run_program(program_path("make_pk_bench"), "1 40000 in.pk in.mseed", dir.path()).code, 0);
  const testkit::RunResult r = run_program(program_path("pk_segy"), "in.pk -VN -HY", dir.path());
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("\nNOTE: 1 trace holds more than 32767 samples; general SEG-Y readers read at most 32767 "
                       "samples per trace. The full count is the 32-bit field at byte 228 of the trace header"),
            std::string::npos)
      << r.out;
  const std::string trace = testkit::read_file(dir.path() / "2021_060_00_00_00_0BE01_1_1.SGY");
  EXPECT_EQ(testkit::u32be(trace, 3828), 40000u);
}

// The benchmark compares the converters with mseed2sac; that is only fair when the
// miniSEED records carry exactly the packets' samples.
TEST(BenchInputs, PacketAndMiniSeedFormsCarryTheSameSamples) {
  if (!testkit::on_path("mseed2sac")) GTEST_SKIP() << "mseed2sac is not installed";
  for (const std::string format : {"C0", "C2"}) {
    SCOPED_TRACE(format);
    ScratchDir dir;
    const fs::path d = dir.path();
    fs::create_directories(d / "segy");
    fs::create_directories(d / "sac");
    ASSERT_EQ(run_program(program_path("make_pk_bench"), "3 5000 in.pk in.mseed " + format, dir.path()).code, 0);
    ASSERT_EQ(run_program(program_path("pk_segy"), "../in.pk -VN", d / "segy").code, 0);
    ASSERT_EQ(run_program("mseed2sac", "../in.mseed", d / "sac").code, 0);

    for (unsigned c = 1; c <= 3; ++c) {
      const std::vector<int32_t> ours =
          testkit::trace_file_samples(d / "segy" / ("2021_060_00_00_00_0BE01_1_" + std::to_string(c) + ".RSY"));
      // mseed2sac writes the byte order of the machine it runs on.
      const std::vector<float> ref =
          testkit::read_sac(d / "sac" / ("XX.BENCH..H0" + std::to_string(c) + ".D.2021.060.000000.SAC"),
                            std::endian::native == std::endian::big)
              .samples();
      ASSERT_EQ(ours.size(), 5000u) << c;
      ASSERT_EQ(ref.size(), ours.size()) << c;
      for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(static_cast<float>(ours[i]), ref[i]) << c << " " << i;
    }
  }
}

// The written bytes come from the process before it is reaped, children it waited for
// included, and the program's exit status passes through.
TEST(BenchMeasureRun, WrittenBytesOfTheRunAndItsStatus) {
  ScratchDir dir;
  const std::string script = "'head -c 300000 /dev/zero >a; printf 12345 >b; exit 3'";
  const testkit::RunResult r =
      run_program(program_path("measure_run"), "result.txt sh -c " + script, dir.path());
  EXPECT_EQ(r.code, 3) << r.out;
  std::istringstream line(testkit::read_file(dir.path() / "result.txt"));
  double seconds = -1, user_seconds = -1, system_seconds = -1;
  long long peak_kib = -1, wchar = -1;
  ASSERT_TRUE(line >> seconds >> peak_kib >> wchar >> user_seconds >> system_seconds);
  EXPECT_GT(seconds, 0);
  EXPECT_GT(peak_kib, 0);
  EXPECT_EQ(wchar, 300'005);
}

}  // namespace
