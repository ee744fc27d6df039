// Channels of a million samples and more, as only the benchmark's generator makes them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/output_readers.h"
#include "tests/support/testkit.h"

namespace {

namespace fs = std::filesystem;
using testkit::program_path;
using testkit::run_program;
using testkit::ScratchDir;

// Channels of a million samples and more: SEISAN counts read back in either framing, a
// channel past what a channel header counts goes on in a second file from where the
// first ends, and pk_segy says where a long trace's full count is.
TEST(LongChannel, CountsReadBackAndTheLongestGoesOnInASecondFile) {
  struct Case {
    std::size_t samples;
    const char* switches;
    std::vector<std::size_t> counts;  // per file, in time order
  };
  const Case cases[] = {{10'000'001, "-WP", {9'999'320, 681}},  // the packet that would pass 9,999,999 begins the second
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

}  // namespace
