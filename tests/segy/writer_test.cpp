// The finishing pass on hand-built events: trace files, shot points and gathers.
#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <tuple>

#include "convert/lists.h"
#include "convert/failure.h"
#include "convert/run.h"
#include "tests/support/output_readers.h"
#include "tests/support/testkit.h"
#include "segy/segy_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace testkit;
using pk::segy::SegyWriter;

// What a run gives the writer: its setup and where the files go.
struct HandRun {
  pk::RunSetup setup;
  pk::Outputs out{"pk_segy"};
};

// One event with hand-written channel data files, linked as the engine links them.
struct TestEvent {
  pk::EventNode evt;
  std::vector<std::unique_ptr<pk::ChannelNode>> chans;
  std::size_t room = 240;  // the header room the writer reserves: 3600 more with -HY

  TestEvent(uint32_t unit, uint32_t evt_num, const std::string& time, float rate) {
    evt.Unit_num = unit;
    evt.Evt_num = evt_num;
    evt.First_smp_time = pk::PacketTime(time);
    evt.Samp_rate = rate;
  }

  // Adds a channel whose data file `data_path` holds `samples` (no file when empty path).
  pk::ChannelNode& add(uint32_t chan, const std::vector<int32_t>& samples, const std::string& data_path,
                         uint32_t strm = 0) {
    auto f = std::make_unique<pk::ChannelNode>();
    f->Chan_num = chan;
    f->Strm_num = strm;
    f->Unit_num = evt.Unit_num;
    f->Evt_num = evt.Evt_num;
    f->stored = static_cast<uint32_t>(samples.size());
    if (!samples.empty()) {
      f->smallest = *std::min_element(samples.begin(), samples.end());
      f->largest = *std::max_element(samples.begin(), samples.end());
    }
    f->First_smp_time = evt.First_smp_time;
    f->Filename = data_path;
    f->Evt_pointer = &evt;
    if (!data_path.empty()) write_file(data_path, std::string(room, '\0') + be_bytes(samples));
    chans.push_back(std::move(f));
    relink();
    return *chans.back();
  }

  void relink() {
    for (std::size_t i = 0; i < chans.size(); ++i) {
      chans[i]->Next_file = chans[(i + 1) % chans.size()].get();
      chans[i]->Prev_file = chans[(i + chans.size() - 1) % chans.size()].get();
    }
    evt.First_chan = chans.front().get();
    evt.Chan_each.clear();
    for (const auto& c : chans) evt.Chan_each.push_back(c->Chan_num);
    std::sort(evt.Chan_each.begin(), evt.Chan_each.end());
  }

  void merge(SegyWriter& w, HandRun& run) { w.finish_event(run.setup, run.out, evt); }
};

class SegyWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp.path().empty());
    run.out.Dir = tmp.dir();
  }
  std::string std_path(const std::string& name) { return tmp.dir() + name; }

  ScratchDir tmp;
  HandRun run;
  SegyWriter writer;
};

constexpr const char* kTime = "2003123140522057";

TEST_F(SegyWriterTest, RawTraceFilesStartWithTheTraceHeader) {
  TestEvent e(0x9A21, 77, kTime, 100.0f);
  e.add(2, {5, -3, 70000}, std_path("2003_123_14_05_22_9A21_1_3.STD"));
  e.add(0, {1, 2}, std_path("2003_123_14_05_22_9A21_1_1.STD"));
  e.merge(writer, run);

  EXPECT_EQ(list_files(tmp.path()),
            (std::vector<std::string>{"2003_123_14_05_22_09A21_1_1.RSY", "2003_123_14_05_22_09A21_1_3.RSY"}));
  const auto f = read_file(tmp.dir() + "2003_123_14_05_22_09A21_1_3.RSY");
  ASSERT_EQ(f.size(), 240u + 3 * 4);
  EXPECT_EQ(u32be(f, 0), 2u);
  EXPECT_EQ(u32be(f, 8), 77u);
  EXPECT_EQ(u16be(f, 114), 3u);
  EXPECT_EQ(u16be(f, 116), 10000u);
  EXPECT_EQ(u32be(f, 200), 10000u);
  EXPECT_EQ(u32be(f, 228), 3u);
  EXPECT_EQ(i32be(f, 232), 70000);
  EXPECT_EQ(i32be(f, 236), -3);
  EXPECT_EQ(u16be(f, 206), 57u);
  EXPECT_EQ(u16be(f, 224), 0x9A21u);
  EXPECT_EQ(f.substr(240), be_bytes({5, -3, 70000}));
}

TEST_F(SegyWriterTest, FileHeaderPutsTheTraceHeaderAt3600) {
  writer.flags.file_header_output = 1;
  std::vector<int32_t> samples(40000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int32_t>(i) - 20000;
  TestEvent e(0x0001, 1, kTime, 10.0f);
  e.room = 3840;
  e.add(0, samples, std_path("a.STD"));
  e.merge(writer, run);

  const auto f = read_file(tmp.dir() + "2003_123_14_05_22_00001_1_1.SGY");
  ASSERT_EQ(f.size(), 3600u + 240 + 40000 * 4);
  EXPECT_EQ(f[0], ' ');
  EXPECT_EQ(u16be(f, 3216), 0u);  // 100000 does not fit
  EXPECT_EQ(u16be(f, 3218), 0u);
  EXPECT_EQ(u16be(f, 3220), 32767u);
  EXPECT_EQ(u16be(f, 3222), 32767u);
  EXPECT_EQ(u32be(f, 3260), 100000u);
  EXPECT_EQ(u32be(f, 3268), 40000u);
  EXPECT_EQ(u32be(f, 3272), 40000u);
  EXPECT_EQ(u16be(f, 3600 + 114), 32767u);
  EXPECT_EQ(u16be(f, 3600 + 116), 0u);
  EXPECT_EQ(u32be(f, 3600 + 200), 100000u);
  EXPECT_EQ(u32be(f, 3600 + 228), 40000u);
  EXPECT_EQ(i32be(f, 3600 + 232), 19999);
  EXPECT_EQ(i32be(f, 3600 + 236), -20000);
  EXPECT_EQ(i32be(f, 3840 + 4 * 39999), 19999);
}

TEST_F(SegyWriterTest, EventRatesBelowOneAndZero) {
  TestEvent slow(1, 1, "2003123140522000", 0.1f);
  slow.add(0, {1}, std_path("slow.STD"));
  slow.merge(writer, run);
  const auto f = read_file(tmp.dir() + "2003_123_14_05_22_00001_1_1.RSY");
  EXPECT_EQ(u32be(f, 200), 10000000u);
  EXPECT_EQ(u16be(f, 116), 0u);

  TestEvent unknown(1, 2, "2003123150000000", 0.0f);
  unknown.add(0, {1}, std_path("unknown.STD"));
  unknown.merge(writer, run);
  EXPECT_EQ(unknown.evt.Samp_rate, 1000.0f);
  EXPECT_EQ(u32be(read_file(tmp.dir() + "2003_123_15_00_00_00001_1_1.RSY"), 200), 1000u);
}

TEST_F(SegyWriterTest, PathLevelsFromTheEventTime) {
  run.out.Path_option = 3;
  TestEvent e(0xBEEF, 1, kTime, 100.0f);
  e.add(1, {9}, std_path("x.STD"));
  e.merge(writer, run);
  EXPECT_EQ(list_files(tmp.path()), (std::vector<std::string>{"2003_123/14_05/2003_123_14_05_22_0BEEF_1_2.RSY"}));
}

TEST_F(SegyWriterTest, ChannelDataComesFromTheNodesOwnFile) {
  // The unique-name rule gave channel 1 a lettered name; the plain name belongs to a
  // channel of another event and must stay untouched.
  const std::string other = std_path("2003_123_14_05_22_0001_1_1.STD");
  write_file(other, be_bytes({111, 111}));
  TestEvent e(1, 1, kTime, 100.0f);
  e.add(0, {7, 8, 9}, std_path("2003_12A_14_05_22_0001_1_1.STD"));
  e.merge(writer, run);

  const auto f = read_file(tmp.dir() + "2003_123_14_05_22_00001_1_1.RSY");
  EXPECT_EQ(f.substr(240), be_bytes({7, 8, 9}));
  EXPECT_EQ(read_file(other), be_bytes({111, 111}));
  EXPECT_FALSE(fs::exists(std_path("2003_12A_14_05_22_0001_1_1.STD")));
}

TEST_F(SegyWriterTest, MissingChannelDataGivesAHeaderOnlyTrace) {
  TestEvent e(1, 1, kTime, 100.0f);
  auto& missing = e.add(0, {}, "");
  missing.stored = 50;  // samples that never reached a file
  e.merge(writer, run);

  const auto m = read_file(tmp.dir() + "2003_123_14_05_22_00001_1_1.RSY");
  ASSERT_EQ(m.size(), 240u);
  EXPECT_EQ(u32be(m, 228), 0u);
  EXPECT_EQ(i32be(m, 232), 0);
  EXPECT_EQ(i32be(m, 236), 0);
}

// Only something outside the run can cut a data file short of the samples appended to it.
TEST_F(SegyWriterTest, ChannelDataCutShortIsAReadError) {
  TestEvent e(1, 1, kTime, 100.0f);
  auto& cut = e.add(1, {4, -4, 2}, std_path("cut.STD"));
  cut.stored = 10;
  try {
    e.merge(writer, run);
    FAIL() << "no fatal error";
  } catch (const pk::Failure& f) {
    EXPECT_EQ(f.code, pk::ExitCode::read_error);
  }
}

TEST_F(SegyWriterTest, ScaleFromTheChannelsBitWeight) {
  TestEvent e(1, 1, kTime, 100.0f);
  e.evt.Bit_weight = std::string(128, ' ').replace(8, 8, "1.589 uV");
  e.add(1, {1}, std_path("s.STD"));
  e.add(0, {1}, std_path("t.STD"));
  e.merge(writer, run);
  const auto with = read_file(tmp.dir() + "2003_123_14_05_22_00001_1_2.RSY");
  const auto without = read_file(tmp.dir() + "2003_123_14_05_22_00001_1_1.RSY");
  EXPECT_EQ(u32be(with, 220), std::bit_cast<uint32_t>(1.589e-6f));
  EXPECT_EQ(u32be(without, 220), std::bit_cast<uint32_t>(1.0f));
}

TEST_F(SegyWriterTest, ShotPointFollowsTheListAndOtherwiseKeepsItsValue) {
  run.setup.settings.text =
      "5 0001 0 2003:123:14:00:00\r\n"
      "6 0001 0 2003:123:14:30:00\r\n"
      "9 0002 0 2003:123:12:00:00\r\n";
  auto sp_of = [&](const std::string& time, uint32_t unit) {
    TestEvent e(unit, 1, time, 100.0f);
    e.add(0, {1}, std_path("sp.STD"));
    e.merge(writer, run);
    const std::string name = pk::segy::trace_file_name(time, unit, 0, 0, false);
    return u16be(read_file(tmp.dir() + name), 172);
  };
  EXPECT_EQ(sp_of("2003123135959000", 1), 0u);  // before the first shot point
  EXPECT_EQ(sp_of("2003123140001000", 1), 5u);
  EXPECT_EQ(sp_of("2003123143500000", 1), 6u);
  EXPECT_EQ(sp_of("2003123110000000", 1), 6u);  // earlier than every shot again: kept
  EXPECT_EQ(sp_of("2003123130000000", 2), 9u);
}

TEST_F(SegyWriterTest, ShotGatherPadsShortTracesWithZeroSamplesAndCutsLongOnes) {
  writer.flags.shot_gather = 1;
  writer.flags.file_header_output = 1;
  TestEvent e(0x1234, 1, kTime, 100.0f);
  e.room = 3840;
  e.add(2, {7, 7, 7, 7, 7, 7, 7}, std_path("c.STD"));
  e.add(0, {1, 2, 3, 4, 5}, std_path("a.STD"));
  e.add(1, {-1, -2, -3}, std_path("b.STD"));
  e.merge(writer, run);

  EXPECT_EQ(list_files(tmp.path()), (std::vector<std::string>{"2003_123_14_05_22_01234_1.EGY"}));
  const auto g = read_file(tmp.dir() + "2003_123_14_05_22_01234_1.EGY");
  ASSERT_EQ(g.size(), 3600u + 3 * (240 + 5 * 4));
  EXPECT_EQ(u16be(g, 3212), 1u);
  EXPECT_EQ(u16be(g, 3216), 10000u);
  EXPECT_EQ(u16be(g, 3220), 5u);
  EXPECT_EQ(u32be(g, 3260), 10000u);
  EXPECT_EQ(u32be(g, 3268), 5u);
  const auto traces = read_segy(g, true, true).traces;
  ASSERT_EQ(traces.size(), 3u);
  EXPECT_EQ(traces[0].samples, (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(traces[1].samples, (std::vector<int32_t>{-1, -2, -3, 0, 0}));
  EXPECT_EQ(traces[2].samples, (std::vector<int32_t>{7, 7, 7, 7, 7}));
  for (std::size_t i = 0; i < traces.size(); ++i) {
    EXPECT_EQ(u32be(traces[i].header, 0), i);
    EXPECT_EQ(u16be(traces[i].header, 114), 5u);
    EXPECT_EQ(u32be(traces[i].header, 228), 5u);
  }
}

// A gather's 16-bit intervals: 1 below 30 microseconds, 0 where 16 bits cannot hold it.
TEST_F(SegyWriterTest, GatherIntervalFields) {
  writer.flags.shot_gather = 1;
  const std::tuple<uint16_t, float, uint32_t, uint16_t> cases[] = {
      {0x101, 100.0f, 10000, 10000}, {0x102, 20.0f, 50000, 50000}, {0x104, 10.0f, 100000, 0}, {0x103, 50000.0f, 20, 1}};
  for (const auto& [unit, rate, interval, sixteen] : cases) {
    TestEvent e(unit, 1, kTime, rate);
    e.add(0, {1, 2, 3}, std_path("g.STD"));
    e.merge(writer, run);
    const auto g = read_file(tmp.dir() + "2003_123_14_05_22_0010" + std::to_string(unit & 0xF) + "_1.EGY");
    ASSERT_GE(g.size(), 3600u) << rate;
    EXPECT_EQ(u32be(g, 3216), uint32_t{sixteen} << 16 | sixteen) << rate;
    EXPECT_EQ(u32be(g, 3260), interval) << rate;
  }
}

TEST_F(SegyWriterTest, ShotGathersPerStreamWithoutFileHeaders) {
  writer.flags.shot_gather = 1;
  TestEvent e(0x1234, 1, kTime, 100.0f);
  e.add(0, {1, 2}, std_path("a.STD"), 0);
  e.add(0, {3, 4}, std_path("b.STD"), 1);
  e.merge(writer, run);
  EXPECT_EQ(list_files(tmp.path()),
            (std::vector<std::string>{"2003_123_14_05_22_01234_1.EGY", "2003_123_14_05_22_01234_2.EGY"}));
  const auto g = read_segy(read_file(tmp.dir() + "2003_123_14_05_22_01234_2.EGY"), true, true).traces;
  ASSERT_EQ(g.size(), 1u);
  EXPECT_EQ(g[0].samples, (std::vector<int32_t>{3, 4}));
}

TEST_F(SegyWriterTest, ReceiverGathersOneFilePerUnitForTheWholeRun) {
  writer.flags.recv_gather = 1;
  run.out.Path_option = 1;
  TestEvent a1(0x000A, 1, "2003123140000000", 100.0f);
  a1.add(0, {1, 1}, std_path("a1c0.STD"));
  a1.add(1, {2, 2}, std_path("a1c1.STD"));
  a1.merge(writer, run);
  TestEvent b1(0x000B, 1, "2003123140000500", 100.0f);
  b1.add(0, {3, 3, 3}, std_path("b1c0.STD"));
  b1.merge(writer, run);
  TestEvent a2(0x000A, 2, "2003124000000000", 100.0f);
  a2.add(0, {4, 4, 4, 4}, std_path("a2c0.STD"));
  a2.merge(writer, run);
  // Nothing is published before the run ends.
  for (const auto& f : list_files(tmp.path())) EXPECT_TRUE(f.ends_with(".part")) << f;
  writer.finish(run.out);

  EXPECT_EQ(list_files(tmp.path()), (std::vector<std::string>{"2003_123/2003_123_14_00_00_0000A.RGY",
                                                               "2003_123/2003_123_14_00_00_0000B.RGY"}));
  const auto ga = read_file(tmp.dir() + "2003_123/2003_123_14_00_00_0000A.RGY");
  EXPECT_EQ(u16be(ga, 3212), 3u);
  EXPECT_EQ(u32be(ga, 3268), 2u);  // the first trace fixes the gather count
  const auto ta = read_segy(ga, true, false).traces;
  ASSERT_EQ(ta.size(), 3u);
  EXPECT_EQ(ta[0].samples, (std::vector<int32_t>{1, 1}));
  EXPECT_EQ(ta[1].samples, (std::vector<int32_t>{2, 2}));
  EXPECT_EQ(ta[2].samples, (std::vector<int32_t>{4, 4, 4, 4}));
  for (const auto& t : ta) EXPECT_EQ(u16be(t.header, 224), 0x000Au);

  const auto gb = read_file(tmp.dir() + "2003_123/2003_123_14_00_00_0000B.RGY");
  EXPECT_EQ(u16be(gb, 3212), 1u);
  const auto tb = read_segy(gb, true, false).traces;
  ASSERT_EQ(tb.size(), 1u);
  EXPECT_EQ(tb[0].samples, (std::vector<int32_t>{3, 3, 3}));
  EXPECT_EQ(u16be(tb[0].header, 224), 0x000Bu);
}

TEST_F(SegyWriterTest, NoNameLeftForTheGatherPublishesNothingOfTheEvent) {
  writer.flags.shot_gather = 1;
  fs::create_directory(tmp.dir() + "2003_123_14_05_22_00001_1.EGY");
  for (char c = 'A'; c <= 'X'; ++c) fs::create_directory(tmp.dir() + "2003_12" + c + "_14_05_22_00001_1.EGY");
  TestEvent e(1, 1, kTime, 100.0f);
  e.add(0, {4, 5}, std_path("a.STD"));
  e.add(1, {4, 5}, std_path("b.STD"), 1);
  testing::internal::CaptureStdout();
  try {
    e.merge(writer, run);
    ADD_FAILURE() << "no fatal error";
  } catch (const pk::Failure& f) {
    EXPECT_EQ(f.code, pk::ExitCode::no_unique_name);
  }
  testing::internal::GetCapturedStdout();
  run.out.temps.remove_all();
  // The stream 2 gather had a name, but it is not published without the other one.
  EXPECT_EQ(list_files(tmp.path()), std::vector<std::string>{});
}

TEST_F(SegyWriterTest, UnwritableOutputEndsTheRunWithCode20) {
  run.out.Dir = tmp.dir() + "missing/";
  TestEvent e(1, 1, kTime, 100.0f);
  e.add(0, {1}, std_path("a.STD"));
  try {
    e.merge(writer, run);
    FAIL() << "no fatal error";
  } catch (const pk::Failure& f) {
    EXPECT_EQ(f.code, pk::ExitCode::open_error);
  }
}

}  // namespace
