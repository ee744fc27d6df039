// The shared readers decide whether an output counts as correct, so they must reject
// what is broken and read what is whole, including the layouts' edge cases.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "output_readers.h"
#include "testkit.h"

namespace {

using namespace testkit;

// A SEISAN file of the given records, framed as the writer frames them.
std::string sei_file(const std::vector<std::string>& records) {
  std::string f = "K";
  for (const std::string& r : records) {
    std::size_t at = 0;
    for (; r.size() - at >= 128; at += 128) f += "\x81" + r.substr(at, 128) + "\x81";
    if (at < r.size()) {
      const char n = static_cast<char>(r.size() - at);
      f += n + r.substr(at) + n;
    }
  }
  return f + "\x82";
}

std::vector<std::string> sei_header(const std::string& channels) {
  std::vector<std::string> lines(12, std::string(80, ' '));
  lines[0].replace(30, 3, channels);
  return lines;
}

std::string channel_header(const std::string& count) {
  std::string h(1040, ' ');
  h.replace(44, 6, count);
  return h;
}

TEST(SeiReader, RecordsFillingTheirLastBlockAreReadByTheirLength) {
  auto records = sei_header("  2");
  records.push_back(channel_header("    32"));  // 128 data bytes: one full block, no short one
  records.push_back(le_bytes(ramp(32, -5, 3)));
  records.push_back(channel_header("     3"));
  records.push_back(le_bytes({7, 8, 9}));
  const SeiFile f = read_sei(sei_file(records));
  ASSERT_EQ(f.channels.size(), 2u);
  EXPECT_EQ(f.channels[0].samples, ramp(32, -5, 3));
  EXPECT_EQ(f.channels[1].samples, (std::vector<int32_t>{7, 8, 9}));
  EXPECT_EQ(cols(f.lines[0], 31, 33), "  2");

  // Without lengths the full-block record runs on into the next.
  EXPECT_EQ(sei_records(sei_file(records)).size(), 12u + 3);
}

TEST(SeiReader, FramingAndLayoutErrorsThrow) {
  auto records = sei_header("  1");
  records.push_back(channel_header("     2"));
  records.push_back(le_bytes({1, 2}));
  const std::string good = sei_file(records);
  ASSERT_NO_THROW(read_sei(good));

  std::string unmatched = good;
  unmatched[1 + 81] = 'x';  // closing length of the first header line
  EXPECT_THROW(read_sei(unmatched), std::runtime_error);
  EXPECT_THROW(read_sei(good.substr(0, good.size() - 1)), std::runtime_error);  // no end byte
  EXPECT_THROW(sei_records(good.substr(1)), std::runtime_error);                // no start byte

  records.back() = le_bytes({1});  // fewer samples than the channel header counts
  EXPECT_THROW(read_sei(sei_file(records)), std::runtime_error);
}

std::string trace(uint32_t count, const std::vector<int32_t>& samples) {
  std::string h(240, '\0');
  h.replace(228, 4, be_bytes({static_cast<int32_t>(count)}));
  return h + be_bytes(samples);
}

TEST(SegyReader, WholeOnlyWhenEveryTraceHasItsSamplesAndNothingIsLeftOver) {
  const std::string two = trace(2, {1, 2}) + trace(1, {-3});
  SegyFile f = read_segy(two, false, false);
  EXPECT_TRUE(f.whole);
  ASSERT_EQ(f.traces.size(), 2u);
  EXPECT_EQ(f.traces[1].samples, std::vector<int32_t>{-3});

  f = read_segy(trace(3, {1, 2}), false, false);
  EXPECT_FALSE(f.whole);
  ASSERT_EQ(f.traces.size(), 1u);
  EXPECT_EQ(f.traces[0].samples, (std::vector<int32_t>{1, 2}));
  EXPECT_FALSE(read_segy(two + "xyz", false, false).whole);
  EXPECT_FALSE(read_segy(std::string(3599, ' '), true, false).whole);

  // A gather of fixed length takes the count from the file header, not the traces.
  std::string gather(3600, ' ');
  gather.replace(3268, 4, be_bytes({1}));
  f = read_segy(gather + trace(5, {4}) + trace(0, {6}), true, true);
  EXPECT_TRUE(f.whole);
  ASSERT_EQ(f.traces.size(), 2u);
  EXPECT_EQ(f.traces[1].samples, std::vector<int32_t>{6});
}

TEST(SacReader, CountsAndShortFiles) {
  ScratchDir dir;
  std::string header(632, '\0');
  header.replace(79 * 4, 4, le_bytes({2}));
  write_file(dir / "le.sac", header + le_bytes({0x3F800000, 0x40000000}));
  const SacFile le = read_sac(dir / "le.sac", false);
  EXPECT_TRUE(le.whole());
  EXPECT_EQ(le.samples(), (std::vector<float>{1.0f, 2.0f}));
  EXPECT_FALSE(read_sac(dir / "le.sac", true).whole());  // npts read in the wrong order

  write_file(dir / "short.sac", header + le_bytes({0x3F800000}));
  EXPECT_FALSE(read_sac(dir / "short.sac", false).whole());
  const SacFile missing = read_sac(dir / "missing.sac");
  EXPECT_FALSE(missing.ok());
  EXPECT_THROW(missing.npts(), std::out_of_range);
}

TEST(RunProgram, ExitCodeAndOutputWithoutTracesInTheDirectory) {
  std::string cwd;
  {
    ScratchDir dir;
    cwd = dir.path().string();
    const RunResult r = run_program("/bin/sh", "-c 'echo out; echo err >&2; exit 3'", cwd);
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, "out\nerr\n");
    EXPECT_EQ(run_program("/bin/sh", "-c 'echo $PK_X; pwd'", cwd, "PK_X=set").out, "set\n" + cwd + "\n");
    EXPECT_TRUE(list_files(dir.path()).empty());
    EXPECT_EQ(run_program("/nonexistent/program", "", cwd).code, 127);
  }
  EXPECT_FALSE(std::filesystem::exists(cwd));
}

}  // namespace
