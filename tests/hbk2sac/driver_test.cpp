#include "hbk2sac/block_reader.h"
#include "tests/support/hbk_encoder.h"
#include "hbk2sac/driver.h"
#include "hbk2sac/pending_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/testkit.h"

namespace {

namespace fs = std::filesystem;

TEST(HbkSwitches, FindSwitchCaseSlashAndPrefix) {
  using V = std::vector<std::string>;
  EXPECT_TRUE(hbk::find_switch(V{"a.hbk", "-l"}, "-l"));
  EXPECT_TRUE(hbk::find_switch(V{"-L"}, "-l"));
  EXPECT_TRUE(hbk::find_switch(V{"/l"}, "-l"));
  EXPECT_TRUE(hbk::find_switch(V{"/L"}, "-l"));
  EXPECT_TRUE(hbk::find_switch(V{"-little"}, "-l"));
  EXPECT_TRUE(hbk::find_switch(V{"-l"}, "/l"));
  EXPECT_FALSE(hbk::find_switch(V{"l.hbk", "x-l", "-o:out"}, "-l"));
  EXPECT_FALSE(hbk::find_switch(V{}, "-l"));
}

TEST(HbkSwitches, SwitchValueKeepsCaseAndTakesTheFirst) {
  using V = std::vector<std::string>;
  EXPECT_EQ(hbk::switch_value(V{"a", "-o:Out/Dir", "-o:other"}, "-o:", ""), "Out/Dir");
  EXPECT_EQ(hbk::switch_value(V{"-O:X"}, "-o:", ""), "X");
  EXPECT_EQ(hbk::switch_value(V{"/o:X"}, "-o:", "none"), "none");
  EXPECT_EQ(hbk::switch_value(V{"-o:"}, "-o:", "none"), "");
}

TEST(HbkOutputDir, MadeAbsoluteWithTrailingSlash) {
  const std::string cwd = "/home/u", home = "/home/me";
  EXPECT_EQ(hbk::expand_output_dir("", cwd, home), "");
  EXPECT_EQ(hbk::expand_output_dir("out", cwd, home), "/home/u/out/");
  EXPECT_EQ(hbk::expand_output_dir("out/", cwd, home), "/home/u/out/");
  EXPECT_EQ(hbk::expand_output_dir(".", cwd, home), "/home/u/");
  EXPECT_EQ(hbk::expand_output_dir("..", cwd, home), "/home/");
  EXPECT_EQ(hbk::expand_output_dir("../x/./y/../z", cwd, home), "/home/x/z/");
  EXPECT_EQ(hbk::expand_output_dir("~", cwd, home), "/home/me/");
  EXPECT_EQ(hbk::expand_output_dir("~/sac", cwd, home), "/home/me/sac/");
  EXPECT_EQ(hbk::expand_output_dir("/data//sac/.", cwd, home), "/data/sac/");
  EXPECT_EQ(hbk::expand_output_dir("/..", cwd, home), "/");
}

TEST(HbkOutputName, ExtensionRule) {
  EXPECT_EQ(hbk::output_path_for("x.HBK", ""), "x.sac");
  EXPECT_EQ(hbk::output_path_for("x.hbk", ""), "x.sac");
  EXPECT_EQ(hbk::output_path_for("x.Hbk", ""), "x.sac");
  EXPECT_EQ(hbk::output_path_for("x.dat", ""), "x.dat.sac");
  EXPECT_EQ(hbk::output_path_for("x", ""), "x.sac");
  EXPECT_EQ(hbk::output_path_for("x.hbkk", ""), "x.hbkk.sac");
  EXPECT_EQ(hbk::output_path_for("dir.hbk/x", ""), "dir.hbk/x.sac");
  EXPECT_EQ(hbk::output_path_for("in/a.b.hbk", ""), "in/a.b.sac");
  EXPECT_EQ(hbk::output_path_for("in/a.HBK", "/out/"), "/out/a.sac");
}

TEST(HbkOutputName, TemporaryIsHiddenBesideTheFinalName) {
  EXPECT_EQ(hbk::temporary_name("a.sac", 4711, 0), ".a.sac.hbk2sac-4711.part");
  EXPECT_EQ(hbk::temporary_name("/out/x.dat.sac", 4711, 0), "/out/.x.dat.sac.hbk2sac-4711.part");
  EXPECT_EQ(hbk::temporary_name("in/a.sac", 12, 3), "in/.a.sac.hbk2sac-12.3.part");
}

// A temporary of the same name (left by a killed process of the same id) is neither
// taken nor removed; only a committed file reaches the final name.
TEST(HbkPendingOutput, TakesAFreeNameAndRenamesOnlyOnCommit) {
  const testkit::ScratchDir scratch;
  const std::string final_path = scratch / "a.sac";
  const std::string stale = hbk::temporary_name(final_path, ::getpid(), 0);
  testkit::write_file(stale, "stale");
  testkit::write_file(final_path, "earlier");
  // The second round takes the same name again: the first removed its temporary.
  for (const bool commit : {false, true}) {
    EXPECT_EQ(testkit::read_file(final_path), "earlier");
    hbk::PendingOutput out(final_path);
    ASSERT_NE(out.file(), nullptr);
    EXPECT_EQ(out.temporary_path(), hbk::temporary_name(final_path, ::getpid(), 1));
    EXPECT_EQ(std::fputs("new", out.file()), 1);
    if (commit) {
      EXPECT_FALSE(out.commit(false).failed());
    }
  }
  EXPECT_EQ(testkit::read_file(final_path), "new");
  EXPECT_EQ(testkit::read_file(stale), "stale");
  EXPECT_EQ(testkit::list_files(scratch.path()).size(), 2u);
  EXPECT_EQ(hbk::PendingOutput(scratch / "missing/a.sac").file(), nullptr);
}

// Block i holds the byte i + 1 throughout, so a block out of place or torn shows.
std::string numbered_blocks(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes.append(hbk::kBlockSize, char(i + 1));
  return bytes;
}

// The blocks `reader` hands out until its end, each as its first byte, or 0 when torn.
std::vector<int> blocks_read(hbk::BlockReader& reader) {
  std::vector<int> got;
  while (const hbk::Block* b = reader.next()) {
    const bool whole = std::all_of(b->begin(), b->end(), [&](std::uint8_t v) { return v == (*b)[0]; });
    got.push_back(whole ? (*b)[0] : 0);
  }
  return got;
}

std::vector<int> one_to(int n) {
  std::vector<int> v(n);
  for (int i = 0; i < n; ++i) v[i] = i + 1;
  return v;
}

TEST(HbkBlockReader, WholeBlocksAcrossReadsAndNoTrailingPart) {
  const testkit::ScratchDir scratch;
  // More blocks than one read takes, and a trailing partial block.
  testkit::write_file(scratch / "f.hbk", numbered_blocks(150) + std::string(100, 'x'));
  hbk::BlockReader file(scratch / "f.hbk");
  ASSERT_TRUE(file.is_open());
  EXPECT_EQ(blocks_read(file), one_to(150));
  EXPECT_FALSE(hbk::BlockReader(scratch / "missing.hbk").is_open());

  // A pipe hands a block over in pieces; the reader waits for the rest of it.
  const std::string fifo = scratch / "p.hbk";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    const std::string bytes = numbered_blocks(3) + "tail";
    const std::size_t cuts[] = {0, 700, 1500, bytes.size()};
    for (int i = 0; i < 3; ++i) {
      if (::write(fd, bytes.data() + cuts[i], cuts[i + 1] - cuts[i]) < 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
  });
  hbk::BlockReader pipe(fifo);
  const std::vector<int> from_pipe = blocks_read(pipe);
  writer.join();
  EXPECT_EQ(from_pipe, one_to(3));
}

TEST(HbkMessages, InvalidBlockNumberRealForm) {
  EXPECT_EQ(hbk::block_number_real(12), " 1.20000000000000E+0001");
  EXPECT_EQ(hbk::block_number_real(1), " 1.00000000000000E+0000");
  EXPECT_EQ(hbk::block_number_real(123456), " 1.23456000000000E+0005");
  EXPECT_EQ(hbk::block_number_real(12).size(), 23u);
}

TEST(HbkPadding, CountEndsAtTheBlockStart) {
  EXPECT_EQ(hbk::padding_count(500'000, 100), 50u);
  EXPECT_EQ(hbk::padding_count(1, 100), 1u);
  EXPECT_EQ(hbk::padding_count(10'001, 100), 2u);
  // Intervals that are no whole number of microseconds.
  EXPECT_EQ(hbk::padding_count(1'000'000, 128), 128u);
  EXPECT_EQ(hbk::padding_count(1'000'000, 3), 3u);
  EXPECT_EQ(hbk::padding_count(0, 100), 0u);
  // Far gaps do not overflow.
  EXPECT_EQ(hbk::padding_count(10'000'000'000'000'000, 4000), 40'000'000'000'000u);
}

TEST(HbkPatterns, ListingMatchesHiddenFilesAndSkipsDirectories) {
  const testkit::ScratchDir scratch;
  const fs::path dir = scratch.path();
  fs::create_directories(dir / "sub.hbk");
  for (const char* name : {"a.hbk", "b.HBK", ".hidden.hbk", "c.txt"}) std::ofstream(dir / name) << "x";
  const std::string prefix = dir.string() + "/";
  const auto listed = hbk::expand_argument(prefix + "*.hbk");
  const std::set<std::string> got(listed.begin(), listed.end());
  EXPECT_EQ(got, (std::set<std::string>{prefix + "a.hbk", prefix + ".hidden.hbk"}));
  EXPECT_EQ(hbk::expand_argument(prefix + "?.[hH][bB][kK]").size(), 2u);
  EXPECT_TRUE(hbk::expand_argument(prefix + "none*").empty());
  // A directory that is not there names no file; one that cannot be read is a failure.
  int error = 0;
  EXPECT_TRUE(hbk::expand_argument(prefix + "missing/*", &error).empty());
  EXPECT_TRUE(hbk::expand_argument(prefix + "a.hbk/*", &error).empty());
  EXPECT_EQ(error, 0);
  if (::geteuid() == 0) return;  // root reads any directory
  fs::permissions(dir / "sub.hbk", fs::perms::none);
  EXPECT_TRUE(hbk::expand_argument(prefix + "sub.hbk/*", &error).empty());
  EXPECT_EQ(error, EACCES);
  fs::permissions(dir / "sub.hbk", fs::perms::owner_all);
}

// A console whose writes after the first `writes` throw std::bad_alloc, as operator new
// does when memory runs out.
class MemoryRunsOut : public std::streambuf {
 public:
  explicit MemoryRunsOut(int writes) : left_(writes) {}

 protected:
  int_type overflow(int_type c) override { return take() ? c : traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return take() ? n : 0; }

 private:
  bool take() {
    if (--left_ < 0) throw std::bad_alloc();
    return true;
  }
  int left_;
};

// Memory that runs out in the middle of a file (at its gap warning) ends the run with its
// own status and line; the unfinished temporary goes, the earlier SAC file stays.
TEST(HbkMemory, RunningOutEndsTheRunAndLeavesNoTemporary) {
  const testkit::ScratchDir scratch;
  std::vector<hbk::Block> blocks;
  for (const std::uint32_t seconds : {10u, 12u}) {
    hbktest::BlockFields f = hbktest::fields_from_samples(std::vector<std::int32_t>(100, 7), 4);
    f.timecode = hbktest::make_timecode(11'000, seconds);
    blocks.push_back(hbktest::encode_block(f));
  }
  hbktest::write_blocks(scratch / "m.hbk", blocks);
  testkit::write_file(scratch / "m.sac", "earlier");
  MemoryRunsOut buffer(3);  // "Converting ", the name, the line end
  std::ostream console(&buffer);
  console.exceptions(std::ios::badbit);
  std::ostringstream errors;
  EXPECT_EQ(hbk::run({scratch / "m.hbk", "later.hbk"}, console, errors), hbk::kStatusNoMemory);
  EXPECT_EQ(errors.str(), "ERROR: cannot convert " + scratch / "m.hbk" + ": Cannot allocate memory\n");
  EXPECT_EQ(testkit::list_files(scratch.path()), (std::vector<std::string>{"m.hbk", "m.sac"}));
  EXPECT_EQ(testkit::read_file(scratch / "m.sac"), "earlier");
}

TEST(HbkUsage, PrintedOnlyWithoutArguments) {
  std::ostringstream out;
  EXPECT_EQ(hbk::run({}, out), 0);
  const std::string usage = out.str();
  EXPECT_EQ(usage.substr(0, 16), "\nHBK2SAC v1.4.1\n");
  EXPECT_NE(usage.find("\n    \"output_dir\" specifies a directory for converted files. If not "
                       "specified,\n                 the directory of the input file is used.\n\n"),
            std::string::npos);
  EXPECT_NE(usage.find("\n  Any gaps in the time-series will be filled with value -2147483647\n"),
            std::string::npos);
  EXPECT_TRUE(usage.ends_with(
      "\n  An output file of the same name with extension '.sac' is generated.\n"
      "  Any gaps in the time-series will be filled with value -2147483647\n"
      "  Any blocks with a timestamp going backwards will be ignored.\n\n"
      "    -y flushes each SAC file to the disk before it takes its name (durable run)\n\n"));
  EXPECT_NE(usage.find("\nConverter for HBK to SAC format\nUsage: HBK2SAC hbkfile [-l] "
                       "[-o:output_dir]\n  where\n    -l produces little-endian (intel) byte "
                       "order (default big-endian)\n"),
            std::string::npos);

  std::ostringstream quiet, errors;
  EXPECT_EQ(hbk::run({"-l"}, quiet, errors), 0);
  EXPECT_EQ(quiet.str(), "");
  EXPECT_EQ(errors.str(), "");
}

}  // namespace
