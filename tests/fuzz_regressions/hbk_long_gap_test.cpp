// A flipped bit in a block's day count asks for months of gap padding. When the disk
// refuses part-way, the conversion has to stop there rather than walk the remaining
// two billion padding samples.
#include "hbk2sac/driver.h"
#include "tests/support/hbk_encoder.h"
#include "tests/support/testkit.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kDay = 11'000;

// 1000 samples at 100 Hz, `days` after the first block's day.
hbk::Block block_on(std::uint32_t days) {
  std::vector<std::int32_t> samples(1000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int32_t>(i % 50);
  hbktest::BlockFields fields = hbktest::fields_from_samples(samples, 4);
  fields.sysid = hbktest::text_to_id("GAP");
  fields.streamid = hbktest::text_to_id("HHZ1");
  fields.rate_code = 100;
  fields.timecode = hbktest::make_timecode(kDay + days, 3600);
  return hbktest::encode_block(fields);
}

// Exit codes of the child that converts under the file-size limit.
enum ChildResult { kReported = 0, kNotReported = 1, kFileKept = 2 };

[[noreturn]] void convert_with_small_disk(const fs::path& input, const fs::path& out_dir) {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit one_mib{1 << 20, 1 << 20};
  ::setrlimit(RLIMIT_FSIZE, &one_mib);
  std::ostringstream console;
  hbk::run({input.string(), "-o:" + out_dir.string()}, console);
  if (console.str().find("ERROR: cannot write file") == std::string::npos) ::_exit(kNotReported);
  ::_exit(fs::exists(out_dir / "gap.sac") ? kFileKept : kReported);
}

TEST(HbkLongGap, FailedWriteEndsThePaddingAtOnce) {
  testkit::ScratchDir dir;
  const fs::path input = dir.path() / "gap.hbk";
  // 231 days at 100 Hz: just under two billion padding samples, within the 32-bit count.
  hbktest::write_blocks(input.string(), {block_on(0), block_on(231)});

  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) convert_with_small_disk(input, dir.path() / "sac");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  const auto elapsed = std::chrono::steady_clock::now() - start;

  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), kReported) << "1: no write error reported, 2: the broken file was kept";
  // Writing the megabyte the disk allows takes milliseconds; padding on past the
  // failure took seconds.
  EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
}

}  // namespace
