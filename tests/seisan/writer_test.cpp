// The finishing pass on events built by hand: nodes and channel data files written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "convert/failure.h"
#include "convert/lists.h"
#include "tests/support/output_readers.h"
#include "tests/support/pkenc.h"
#include "convert/run.h"
#include "seisan/seis_header.h"
#include "seisan/seis_writer.h"
#include "tests/support/testkit.h"

namespace fs = std::filesystem;
using testkit::cols;
using testkit::ramp;

namespace {

// A channel data file as the engine appends it: a packet's worth of samples at a time.
std::string laid_out(const pk::SampleLayout& layout, const std::vector<int32_t>& samples) {
  std::string bytes;
  uint8_t buf[pk::kMaxLaidOutBytes];
  for (std::size_t at = 0; at < samples.size(); at += pk::kMaxDtSamples) {
    const std::size_t n = std::min(samples.size() - at, pk::kMaxDtSamples);
    const std::size_t len = pk::lay_out_samples(layout, at, std::span(samples).subspan(at, n), buf);
    bytes.append(reinterpret_cast<const char*>(buf), len);
  }
  return bytes;
}

struct HandEvent {
  testkit::ScratchDir dir;
  pk::RunSetup run;
  pk::Outputs out{"pk_seis"};
  pk::UnitNode unit;
  pk::EventNode evt;
  std::vector<std::unique_ptr<pk::ChannelNode>> files;
  pk::seis::SeisanWriter writer;

  explicit HandEvent(const std::string& first, float rate = 100.0f, uint16_t path_option = 0) {
    out.Dir = dir.path().string() + "/";
    out.Path_option = path_option;
    unit.Unit_num = evt.Unit_num = 0x9A21;
    evt.Unit_pointer = &unit;
    evt.Samp_rate = rate;
    evt.First_smp_time = evt.Latest_time = pk::PacketTime(first);
  }

  pk::ChannelNode& add(uint32_t chan, const std::string& first, const std::vector<int32_t>& samples) {
    auto f = std::make_unique<pk::ChannelNode>();
    f->Evt_pointer = &evt;
    f->Unit_num = evt.Unit_num;
    f->Chan_num = chan;
    f->First_smp_time = pk::PacketTime(first);
    f->stored = static_cast<uint32_t>(samples.size());
    const std::string sub = out.Dir + pk::level_dir(out.Path_option, first);
    fs::create_directories(sub);
    // As the engine makes it: the writer's room in front, then the samples.
    f->Filename = writer.create_channel_data(run, out, sub, pk::channel_base_name(first, evt.Unit_num, 0, chan));
    testkit::write_file(f->Filename,
                        testkit::read_file(f->Filename) + laid_out(writer.sample_layout(run.options), samples));
    pk::ChannelNode* node = f.get();
    if (files.empty()) {
      node->Next_file = node->Prev_file = node;
    } else {
      pk::ChannelNode* last = files.back().get();
      node->Next_file = last->Next_file;
      node->Prev_file = last;
      last->Next_file->Prev_file = node;
      last->Next_file = node;
    }
    evt.First_chan = files.empty() ? node : evt.First_chan;
    files.push_back(std::move(f));
    return *node;
  }

  // What the engine does at the event trailer.
  void close() {
    evt.Chan_each.clear();
    for (const auto& f : files) evt.Chan_each.push_back(f->Chan_num);
    std::sort(evt.Chan_each.begin(), evt.Chan_each.end());
    writer.finish_event(run, out, evt);
  }

  // close() for a run that is to end there: its exit code (-1 when it goes on) and output.
  std::pair<int, std::string> close_fatally() {
    testing::internal::CaptureStdout();
    int code = -1;
    std::string message;  // what pk_main prints after the run's own output
    try {
      close();
    } catch (const pk::Failure& f) {
      code = static_cast<int>(f.code);
      message = f.message;
    }
    return {code, testing::internal::GetCapturedStdout() + message};
  }

  fs::path sei() const {
    return out.Dir + pk::level_dir(out.Path_option, evt.First_smp_time.text()) + pk::seis::event_base_name(evt) +
           ".SEI";
  }
};

}  // namespace

TEST(SeisFinishing, OneChannelOf500Samples) {
  HandEvent e("2003123140522000");
  e.evt.Latest_time = pk::PacketTime("2003123140526990");
  const auto samples = ramp(500, -250, 7);
  e.add(0, e.evt.First_smp_time.text(), samples);
  e.close();

  EXPECT_EQ(e.sei().filename(), "2003_123_14_05_22_9A21_1.SEI");
  const std::string bytes = testkit::read_file(e.sei());
  ASSERT_EQ(bytes.size(), 4076u);
  const auto f = testkit::read_sei(bytes);
  EXPECT_EQ(f.lines[0], " PELKAN NETWORK                 1103 123  5  3 14  5 22.000     4.980           ");
  EXPECT_EQ(f.lines[1], std::string(80, ' '));
  EXPECT_EQ(f.lines[2], " 9A2111Z     0.00     5.00" + std::string(54, ' '));
  for (int i = 3; i < 12; ++i) EXPECT_EQ(f.lines[i], std::string(80, ' ')) << i;
  ASSERT_EQ(f.channels.size(), 1u);
  const std::string& h = f.channels[0].header;
  EXPECT_EQ(h.substr(0, 80), "9A21 11Z 103 123  5  3 14 05 22.000  100.00    500" + std::string(26, ' ') + "4   ");
  EXPECT_EQ(h.substr(160), "9" + std::string(879, ' '));
  EXPECT_EQ(f.channels[0].samples, samples);
  EXPECT_EQ(testkit::list_files(e.dir.path()), std::vector<std::string>{"2003_123_14_05_22_9A21_1.SEI"});
}

TEST(SeisFinishing, ChannelsInAscendingOrderWithStartOffsets) {
  HandEvent e("2003123070522000");
  e.evt.Latest_time = pk::PacketTime("2003123070526000");
  const auto z = ramp(500, 1, 1), n = ramp(400, 1000, -3), ee = ramp(500, 5, 11);
  e.add(2, e.evt.First_smp_time.text(), ee);  // ring order differs from channel order
  e.add(0, e.evt.First_smp_time.text(), z);
  e.add(1, "2003123070522250", n);
  e.close();

  const auto f = testkit::read_sei(testkit::read_file(e.sei()));
  EXPECT_EQ(cols(f.lines[0], 31, 69), "  3103 123  5  3  7  5 22.000     4.980");
  EXPECT_EQ(f.lines[2], " 9A2111Z     0.00     5.00 9A2112N     0.25     4.00 9A2113E     0.00     5.00  ");
  ASSERT_EQ(f.channels.size(), 3u);
  EXPECT_EQ(cols(f.channels[1].header, 1, 50), "9A21 12N 103 123  5  3 07 05 22.250  100.00    400");
  EXPECT_EQ(f.channels[0].samples, z);
  EXPECT_EQ(f.channels[1].samples, n);
  EXPECT_EQ(f.channels[2].samples, ee);
  EXPECT_EQ(testkit::list_files(e.dir.path()).size(), 1u);
}

// From the first sample to the latest time, less one interval; the latest time is at least
// the last stored sample of every channel.
TEST(SeisFinishing, TotalTimeEndsAtTheLatestTimeOrTheLastStoredSample) {
  struct Case {
    const char* latest;
    float rate;
    const char* total;
  } cases[] = {
      {"2003123140530000", 100.0f, "    7.990"},  // trailer later than the data
      {"2003123140526990", 100.0f, "    4.980"},  // trailer at the last sample
      {"2003123140526000", 100.0f, "    4.980"},  // no trailer: last packet's first sample
      {"2003123140522000", 100.0f, "    4.980"},
      {"2003123140526000", 0.0f, "    4.000"},    // no rate: no samples to place
  };
  for (const Case& c : cases) {
    HandEvent e("2003123140522000", c.rate);
    e.evt.Latest_time = pk::PacketTime(c.latest);
    e.add(0, e.evt.First_smp_time.text(), ramp(500, 0, 1));
    e.add(1, "2003123140522250", ramp(100, 0, 1));  // ends before channel 0
    e.close();
    EXPECT_EQ(cols(testkit::read_sei(testkit::read_file(e.sei())).lines[0], 61, 69), c.total) << c.latest;
  }
}

// Twelve header lines, then per channel its header and its sample record, each between two
// 4-byte little-endian lengths; a channel without data gets an empty sample record.
TEST(SeisFinishing, LengthFramingBytes) {
  HandEvent e("2003123140522000");
  e.writer.framing = pk::seis::SeiFraming::length4;
  e.add(0, e.evt.First_smp_time.text(), {1, -2, 0x01020304});
  fs::remove(e.add(1, e.evt.First_smp_time.text(), {7}).Filename);
  e.close();

  auto framed = [](const std::string& record) {
    const std::string n = testkit::le_bytes({static_cast<int32_t>(record.size())});
    return n + record + n;
  };
  const std::string blank(80, ' ');
  std::string want = framed(" PELKAN NETWORK                 2103 123  5  3 14  5 22.000     0.010           ") +
                     framed(blank) + framed(" 9A2111Z     0.00     0.03 9A2112N     0.00     0.00" + blank.substr(52));
  for (int line = 4; line <= 12; ++line) want += framed(blank);
  const std::string response = "9" + std::string(879, ' ');
  want += framed("9A21 11Z 103 123  5  3 14 05 22.000  100.00      3" + blank.substr(50, 26) + "4   " + blank + response);
  want += framed(testkit::le_bytes({1, -2, 0x01020304}));
  want += framed("9A21 12N 103 123  5  3 14 05 22.000  100.00      0" + blank.substr(50, 26) + "4   " + blank + response);
  want += framed("");
  EXPECT_EQ(testkit::read_file(e.sei()), want);
  EXPECT_EQ(testkit::list_files(e.dir.path()), std::vector<std::string>{"2003_123_14_05_22_9A21_1.SEI"});
}

// Without a data file for the first channel the file is written from scratch, the other
// channels' samples copied in.
TEST(SeisFinishing, FirstChannelWithoutDataFile) {
  for (const auto framing : {pk::seis::SeiFraming::pc_blocks, pk::seis::SeiFraming::length4}) {
    HandEvent e("2003123140522000");
    e.writer.framing = framing;
    fs::remove(e.add(0, e.evt.First_smp_time.text(), {}).Filename);
    e.add(1, e.evt.First_smp_time.text(), ramp(33, -5, 3));
    e.close();
    const std::string bytes = testkit::read_file(e.sei());
    const auto f = framing == pk::seis::SeiFraming::length4 ? testkit::read_sei4(bytes) : testkit::read_sei(bytes);
    ASSERT_EQ(f.channels.size(), 2u);
    EXPECT_TRUE(f.channels[0].samples.empty());
    EXPECT_EQ(f.channels[1].samples, ramp(33, -5, 3));
    EXPECT_EQ(testkit::list_files(e.dir.path()), std::vector<std::string>{"2003_123_14_05_22_9A21_1.SEI"});
  }
}

// 2^29 samples need a record of 2^31 bytes, one more than a 4-byte length carries.
TEST(SeisFinishing, LengthFramingRefusesAnOversizedChannelBeforeWriting) {
  HandEvent e("2003123140522000");
  e.writer.framing = pk::seis::SeiFraming::length4;
  pk::ChannelNode& f = e.add(0, e.evt.First_smp_time.text(), {});
  f.stored = 1u << 29;
  fs::resize_file(f.Filename, uint64_t{4} << 29);  // sparse: nothing is read before the refusal
  const auto [code, out] = e.close_fatally();
  EXPECT_EQ(code, 22);
  EXPECT_EQ(out,
            "\n 536870912 samples of channel 1 are too many for one SEISAN record with 4-byte lengths (-WP has no "
            "limit)\nFile write error for " + e.sei().string());
  EXPECT_FALSE(fs::exists(e.sei()));
  EXPECT_EQ(fs::file_size(f.Filename), uint64_t{4} << 29);  // the samples stay for another run
}

TEST(SeisFinishing, SixChannelsFillTwoLines) {
  HandEvent e("2005001000000000", 40.0f);
  for (uint32_t c = 0; c < 6; ++c) e.add(c, e.evt.First_smp_time.text(), ramp(80, static_cast<int32_t>(c), 2));
  e.close();
  const auto f = testkit::read_sei(testkit::read_file(e.sei()));
  EXPECT_EQ(cols(f.lines[0], 31, 36), "  6105");
  EXPECT_EQ(f.lines[2], " 9A2111Z     0.00     2.00 9A2112N     0.00     2.00 9A2113E     0.00     2.00  ");
  EXPECT_EQ(f.lines[3], " 9A2114Z     0.00     2.00 9A2115N     0.00     2.00 9A2116E     0.00     2.00  ");
  EXPECT_EQ(f.lines[4], std::string(80, ' '));
  ASSERT_EQ(f.channels.size(), 6u);
  EXPECT_EQ(cols(f.channels[5].header, 37, 50), "  40.00     80");
  EXPECT_EQ(f.channels[5].samples, ramp(80, 5, 2));
}

// Beyond thirty channels the header takes a line per three more, so the file is assembled
// afresh rather than around the first channel's samples.
TEST(SeisFinishing, MoreThanThirtyChannelsKeepEveryChannelsData) {
  for (const auto framing : {pk::seis::SeiFraming::pc_blocks, pk::seis::SeiFraming::length4}) {
    HandEvent e("2003001000000000");
    e.writer.framing = framing;
    for (uint32_t c = 0; c < 32; ++c) e.add(c, e.evt.First_smp_time.text(), ramp(10, static_cast<int32_t>(c) * 100, 1));
    e.close();
    const std::string bytes = testkit::read_file(e.sei());
    const auto f = framing == pk::seis::SeiFraming::length4 ? testkit::read_sei4(bytes) : testkit::read_sei(bytes);
    EXPECT_EQ(cols(f.lines[0], 31, 33), " 32");
    EXPECT_EQ(cols(f.lines[11], 53, 80), " 9A211UE     0.00     0.10  ");  // the 30th channel
    ASSERT_EQ(f.lines.size(), 13u);
    EXPECT_EQ(cols(f.lines[12], 1, 80), " 9A211VZ     0.00     0.10 9A211WN     0.00     0.10" + std::string(28, ' '));
    ASSERT_EQ(f.channels.size(), 32u);
    for (uint32_t c = 0; c < 32; ++c) EXPECT_EQ(f.channels[c].samples, ramp(10, static_cast<int32_t>(c) * 100, 1));
    EXPECT_EQ(testkit::list_files(e.dir.path()).size(), 1u);  // no channel data file left
  }
}

TEST(SeisFinishing, StationSettings1999AndPathLevel) {
  HandEvent e("1999365235959500", 100.0f, 1);
  e.unit.Station_name = "RIDGE";
  e.unit.Network_name = "Alpine Net\r";
  e.unit.Ini_comp = std::string("UVW") + std::string(13, '\0');
  e.add(0, e.evt.First_smp_time.text(), ramp(100, 0, 1));
  e.add(1, e.evt.First_smp_time.text(), ramp(100, 0, 2));
  e.close();

  EXPECT_EQ(e.sei().parent_path().filename(), "1999_365");
  const auto f = testkit::read_sei(testkit::read_file(e.sei()));
  EXPECT_EQ(cols(f.lines[0], 1, 40), " Alpine Net                     2 99 365");
  EXPECT_EQ(cols(f.lines[0], 41, 59), " 12 31 23 59 59.500");
  EXPECT_EQ(cols(f.lines[2], 1, 52), " RIDG11U     0.00     1.00 RIDG12V     0.00     1.00");
  EXPECT_EQ(cols(f.channels[1].header, 1, 35), "RIDG 12V  99 365 12 31 23 59 59.500");
  EXPECT_TRUE(testkit::list_files(e.dir.path()) == std::vector<std::string>{"1999_365/1999_365_23_59_59_9A21_1.SEI"});
}

TEST(SeisFinishing, SampleCountOfAMillionTakesColumn44) {
  HandEvent e("2003001000000000");
  e.add(0, e.evt.First_smp_time.text(), ramp(1000000, 0, 1));
  testing::internal::CaptureStdout();
  e.close();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  const auto records = testkit::sei_records(testkit::read_file(e.sei()));
  ASSERT_EQ(records.size(), 14u);
  EXPECT_EQ(cols(records[12], 37, 50), " 100.001000000");
  EXPECT_EQ(records[13].size(), 4000000u);
  EXPECT_EQ(cols(records[2], 19, 26), "10000.00");
}

// Only something outside the run can cut a data file short of the samples appended to it.
TEST(SeisFinishing, ChannelDataCutShortIsAReadError) {
  HandEvent e("2003001000000000", 0.0f);
  pk::ChannelNode& f0 = e.add(0, e.evt.First_smp_time.text(), ramp(60, 0, 1));
  f0.stored = 100;
  const auto [code, out] = e.close_fatally();
  EXPECT_EQ(code, 21);
  // Named as the channel data file, not by its hidden temporary name.
  EXPECT_EQ(out, "\nFile read error for " + e.dir.dir() + "2003_001_00_00_00_9A21_1_1.STD");
  EXPECT_FALSE(fs::exists(e.sei()));
}

TEST(SeisFinishing, UncreatableOutputStopsTheRun) {
  HandEvent e("2003001000000000");
  e.add(0, e.evt.First_smp_time.text(), ramp(10, 0, 1));
  e.out.Dir = (e.dir.path() / "missing" / "").string();
  const auto [code, out] = e.close_fatally();
  EXPECT_EQ(code, 20);
  EXPECT_EQ(out.rfind("\nFile open error for " + e.out.Dir, 0), 0u);
}

TEST(SeisFinishing, ChannelCountOutOfRange) {
  HandEvent e("2003001000000000");
  for (uint32_t c = 0; c < 1000; ++c) e.add(c, e.evt.First_smp_time.text(), {static_cast<int32_t>(c)});
  testing::internal::CaptureStdout();
  e.close();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Out of store range for number of stations in file header");
  const auto f = testkit::read_sei(testkit::read_file(e.sei()));
  EXPECT_EQ(cols(f.lines[0], 31, 34), "   1");
  ASSERT_EQ(f.channels.size(), 1000u);
  EXPECT_EQ(f.channels[999].samples, std::vector<int32_t>{999});
  EXPECT_EQ(testkit::list_files(e.dir.path()).size(), 1u);
}

// The unique-name rule can give a channel data file another name than its time suggests;
// the file the node names is the one that belongs to the event.
TEST(SeisFinishing, ReadsTheChannelFileTheNodeNames) {
  HandEvent e("2003123140522000");
  pk::ChannelNode& f = e.add(0, e.evt.First_smp_time.text(), ramp(50, 1, 1));
  const fs::path taken = f.Filename;
  std::string renamed = taken.filename().string();
  renamed[7] = 'A';
  f.Filename = (taken.parent_path() / renamed).string();
  fs::rename(taken, f.Filename);
  const std::string other = testkit::le_bytes(ramp(80, -1, -1));
  testkit::write_file(taken, other);  // another open event's channel under the plain name
  e.close();
  const auto sei = testkit::read_sei(testkit::read_file(e.sei()));
  ASSERT_EQ(sei.channels.size(), 1u);
  EXPECT_EQ(sei.channels[0].samples, ramp(50, 1, 1));
  EXPECT_EQ(testkit::read_file(taken), other);
  EXPECT_FALSE(fs::exists(f.Filename));
  EXPECT_EQ(testkit::list_files(e.dir.path()).size(), 2u);
}
