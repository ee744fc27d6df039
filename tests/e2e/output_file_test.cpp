// Temporaries and publishing: the hidden names files are written under, and which final
// name a finished file takes.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "convert/output_file.h"
#include "convert/run.h"
#include "tests/support/testkit.h"

namespace {

using testkit::ScratchDir;

bool refuse_exclusive_renames = false;
int exclusive_renames_refused = 0;

}  // namespace

// Stands in for the C library's within this program, to play a file system that refuses
// exclusive renames as some do (EINVAL).
extern "C" int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) noexcept {
  if (refuse_exclusive_renames && (flags & RENAME_NOREPLACE) != 0) {
    ++exclusive_renames_refused;
    errno = EINVAL;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_renameat2, from_dir, from, to_dir, to, flags));
}

namespace {

const std::string kName = "2003_123_14_05_22_01234_1.EGY";

std::string lettered(char c) { return pk::name_candidate(kName, c - 'A' + 1); }

TEST(Temporaries, HiddenNamesOfTheirOwnCreatedExclusively) {
  ScratchDir dir;
  pk::Temporaries temps;
  temps.set_program("pk_segy");
  const std::string owner = "pk_segy-" + std::to_string(::getpid());
  EXPECT_EQ(pk::temporary_name("a.RSY", "pk_segy-4711", 2), ".a.RSY.pk_segy-4711.2.part");
  // Another machine's run with the same process id holds the first name.
  testkit::write_file(dir / pk::temporary_name(kName, owner, 0), "theirs");
  const auto mine = temps.create(dir.dir(), kName);
  ASSERT_TRUE(mine.ok);
  EXPECT_EQ(mine.path, dir / pk::temporary_name(kName, owner, 1));
  EXPECT_FALSE(temps.create(dir / "missing/", kName).ok);

  // A file moved on to another name takes it the same way and never replaces one there.
  testkit::write_file(dir / pk::temporary_name("b.RSY", owner, 0), "theirs too");
  const auto moved = temps.move(mine.path, dir.dir(), "b.RSY");
  ASSERT_TRUE(moved.ok);
  EXPECT_EQ(moved.path, dir / pk::temporary_name("b.RSY", owner, 1));
  EXPECT_EQ(testkit::read_file(dir / pk::temporary_name("b.RSY", owner, 0)), "theirs too");
  EXPECT_FALSE(temps.move(dir / "gone", dir.dir(), "c.RSY").ok);
  temps.remove_all();
  EXPECT_EQ(testkit::list_files(dir.path()), (std::vector<std::string>{pk::temporary_name(kName, owner, 0),
                                                                        pk::temporary_name("b.RSY", owner, 0)}));
}

TEST(Temporaries, MovedEvenWhereExclusiveRenamesAreRefused) {
  ScratchDir dir;
  pk::Outputs run("pk");
  run.Dir = dir.dir();
  const std::string from = pk::create_temporary(run, run.Dir, "a.RSY");
  testkit::write_file(from, "samples");
  refuse_exclusive_renames = true;
  const std::string moved = pk::move_temporary(run, from, run.Dir, "b.RSY");
  refuse_exclusive_renames = false;
  EXPECT_GT(exclusive_renames_refused, 0);
  EXPECT_EQ(testkit::read_file(moved), "samples");
  EXPECT_EQ(testkit::list_files(dir.path()), std::vector<std::string>{moved.substr(run.Dir.size())});
  run.temps.remove_all();  // the moved file is one of the run's temporaries
  EXPECT_EQ(testkit::list_files(dir.path()), std::vector<std::string>{});
}

// A file from before the run is replaced; one made since - by another run or an earlier
// event of this one - keeps its name and the new file takes the next lettered one.
TEST(Publish, ReplacesOlderFilesAndNeverOnesMadeDuringTheRun) {
  ScratchDir dir;
  pk::Outputs run("pk");
  run.Dir = dir.dir();
  testkit::write_file(dir / kName, "before");
  testkit::write_file(dir / lettered('B'), "before");
  pk::take_run_start(run);
  EXPECT_TRUE(run.temps.empty()) << "the probe stays behind";
  EXPECT_EQ(testkit::list_files(dir.path()).size(), 2u);

  auto written = [&](const std::string& bytes) {
    const std::string t = pk::create_temporary(run, run.Dir, kName);
    testkit::write_file(t, bytes);
    return t;
  };
  EXPECT_EQ(pk::publish(run, run.Dir, {{written("one"), kName}}), std::vector<std::string>{dir / kName});
  testkit::write_file(dir / lettered('A'), "another run");
  // One batch: the second file must not take the name the first one has just been given.
  const auto finals = pk::publish(run, run.Dir, {{written("two"), kName}, {written("three"), kName}});
  EXPECT_EQ(finals, (std::vector<std::string>{dir / lettered('B'), dir / lettered('C')}));
  EXPECT_EQ(testkit::read_file(dir / kName), "one");
  EXPECT_EQ(testkit::read_file(dir / lettered('A')), "another run");
  EXPECT_EQ(testkit::read_file(dir / lettered('B')), "two");
  EXPECT_EQ(testkit::read_file(dir / lettered('C')), "three");
  EXPECT_TRUE(run.temps.empty());
}

}  // namespace
