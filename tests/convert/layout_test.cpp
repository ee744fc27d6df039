// Samples laid out as the channel data files hold them, and files appended to others.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "convert/failure.h"
#include "convert/raw_file.h"
#include "convert/sample_layout.h"
#include "convert/write_behind.h"
#include "tests/support/testkit.h"

namespace {

// The samples appended in pieces of `piece`, as packets bring them.
std::string appended(const pk::SampleLayout& layout, const std::vector<int32_t>& s, std::size_t piece) {
  std::string bytes;
  uint8_t buf[pk::kMaxLaidOutBytes];
  for (std::size_t at = 0; at < s.size(); at += piece) {
    const std::size_t n = std::min(piece, s.size() - at);
    const std::size_t len = pk::lay_out_samples(layout, at, std::span(s).subspan(at, n), buf);
    bytes.append(reinterpret_cast<const char*>(buf), len);
  }
  return bytes;
}

// The PC-block record of `s` as a reader expects it: 128-byte blocks marked 129, the
// short last one marked with its length on both sides.
std::string pc_record(const std::vector<int32_t>& s) {
  const std::string data = testkit::le_bytes(s);
  std::string out;
  for (std::size_t at = 0; at < data.size(); at += 128) {
    const std::size_t n = std::min<std::size_t>(128, data.size() - at);
    const char mark = static_cast<char>(n == 128 ? 129 : n);
    out += mark + data.substr(at, n) + mark;
  }
  return out;
}

TEST(SampleLayout, PcBlocksFramedWhileAppendingThenCompleted) {
  const pk::SampleLayout pc{false, true};
  for (const std::size_t count : {1u, 31u, 32u, 33u, 64u, 100u, 1001u}) {
    for (const std::size_t piece : {1u, 7u, 32u, 250u, 1000u}) {
      std::vector<int32_t> s(count);
      std::iota(s.begin(), s.end(), -50);
      std::string file = appended(pc, s, piece);
      const std::string want = pc_record(s);
      ASSERT_EQ(pk::record_bytes(pc, count), want.size()) << count;
      if (const auto last = pk::short_last_block(count)) {
        ASSERT_EQ(file.size(), want.size() - 1) << count << "/" << piece;
        file[last->at] = static_cast<char>(last->length);
        file += static_cast<char>(last->length);
      } else {
        EXPECT_EQ(count % 32, 0u);
      }
      EXPECT_EQ(file, want) << count << " samples in pieces of " << piece;
    }
  }
}

TEST(SampleLayout, PlainSamplesInTheFormatsByteOrder) {
  const std::vector<int32_t> s{1, -2, 0x01020304};
  EXPECT_EQ(appended({true, false}, s, 2), testkit::be_bytes(s));
  EXPECT_EQ(appended({false, false}, s, 2), testkit::le_bytes(s));
  EXPECT_EQ(pk::record_bytes({false, false}, 3), 12u);
}

// 600 KiB (more than two buffers) from offset 5, after a head of its own, written by the
// write-behind thread; then a source that ends early.
TEST(AppendingFile, AppendsPartOfAnotherFileAndNoticesAShortSource) {
  testkit::ScratchDir dir;
  std::string src(600 * 1024 + 5, '\0');
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<char>(i * 7);
  testkit::write_file(dir / "src", src);
  pk::WriteBehind writes;
  pk::RawFile in(dir / "src", pk::RawFile::Mode::read);
  pk::AppendingFile out;
  ASSERT_TRUE(out.open(dir / "dst", writes));
  out.append("head");
  out.append_from(in, 5, src.size() - 5);
  try {
    out.append_from(in, src.size() - 2, 3);
    ADD_FAILURE() << "no fatal error";
  } catch (const pk::Failure& f) {
    EXPECT_EQ(f.code, pk::ExitCode::read_error);
    EXPECT_EQ(f.message, "\nFile read error for " + dir / "src");
  }
  out.close();
  EXPECT_EQ(testkit::read_file(dir / "dst"), "head" + src.substr(5) + src.substr(src.size() - 2));
}

// A write that fails on the other thread still ends the run with the write-error code,
// naming the file, by the time the file is closed at the latest.
TEST(AppendingFile, AWriteThatFailsBehindTheEngineEndsTheRun) {
  pk::WriteBehind writes;
  pk::AppendingFile out;
  if (!out.open("/dev/full", writes)) GTEST_SKIP() << "no /dev/full";
  try {
    out.append(std::string(700 * 1024, 'x'));
    out.close();
    ADD_FAILURE() << "no fatal error";
  } catch (const pk::Failure& f) {
    EXPECT_EQ(f.code, pk::ExitCode::write_error);
    EXPECT_EQ(f.message, "\nFile write error for /dev/full");
  }
}

// Five files filled piece by piece in turn, as channels of one event are: each holds its
// own bytes in order, though their buffers go out at staggered points, through one queue,
// and come from more than one region of the pool.
TEST(AppendingFile, InterleavedFilesKeepTheirBytesInOrder) {
  testkit::ScratchDir dir;
  pk::WriteBehind writes;
  constexpr int kFiles = 5;
  std::vector<pk::AppendingFile> files(kFiles);
  std::vector<std::string> want(kFiles);
  for (int f = 0; f < kFiles; ++f) ASSERT_TRUE(files[f].open(dir / std::to_string(f), writes));
  for (int piece = 0; piece < 400; ++piece) {
    for (int f = 0; f < kFiles; ++f) {
      const auto length = static_cast<std::size_t>(1000 + 37 * f + piece % 7);
      const std::string bytes(length, static_cast<char>('a' + (piece + f) % 26));
      std::copy(bytes.begin(), bytes.end(), files[f].room(bytes.size()));
      files[f].commit(bytes.size());
      want[f] += bytes;
    }
  }
  for (auto& f : files) f.close();
  for (int f = 0; f < kFiles; ++f) EXPECT_EQ(testkit::read_file(dir / std::to_string(f)), want[f]) << "file " << f;
}

// Writes handed on after the thread was stopped (as a failed run stops it) are still
// written, by a thread of their own.
TEST(AppendingFile, AStoppedWriteBehindStartsAgain) {
  testkit::ScratchDir dir;
  pk::WriteBehind writes;
  for (const char* name : {"a", "b"}) {
    pk::AppendingFile out;
    ASSERT_TRUE(out.open(dir / name, writes));
    out.append(std::string(300 * 1024, *name));
    out.close();
    writes.stop();
    EXPECT_EQ(testkit::read_file(dir / name), std::string(300 * 1024, *name));
  }
}

// Buffers handed out together never overlap, and one given back is handed out again.
TEST(BufferPool, BuffersBeyondOneRegionAreDistinctAndReused) {
  pk::BufferPool pool;
  std::vector<uint8_t*> taken;
  for (int i = 0; i < 20; ++i) {
    taken.push_back(pool.take());
    std::fill_n(taken.back(), pk::BufferPool::kBufferBytes, static_cast<uint8_t>(i));
  }
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(taken[i][0], i);
    EXPECT_EQ(taken[i][pk::BufferPool::kBufferBytes - 1], i);
  }
  pool.give_back(taken[7]);
  EXPECT_EQ(pool.take(), taken[7]);
}

}  // namespace
