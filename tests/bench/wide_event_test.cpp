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
