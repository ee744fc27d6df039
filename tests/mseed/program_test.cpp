// pk_mseed as a program: packet files in, miniSEED files out, read back by libmseed and by
// mseed2sac, an independent reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <tuple>

#include "decode.h"
#include "output_readers.h"
#include "packet_time.h"
#include "pkenc.h"
#include "pkfile.h"
#include "records.h"
#include "records.h"
#include "testkit.h"

namespace fs = std::filesystem;

namespace {

testkit::RunResult run_in(const fs::path& cwd, const std::string& env, const std::string& program,
                          const std::string& args) {
  return testkit::run_program(testkit::program_path(program), args, cwd, env);
}

std::vector<int32_t> wave(std::size_t n, int32_t amp) {
  std::vector<int32_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = (static_cast<int32_t>(i * 37) % 200 - 100) * amp;
  return v;
}

std::string id_of(const mseedtest::Record& r) {
  return r.network + "." + r.station + "." + r.location + "." + r.channel;
}

// Samples of every SEED id in the files of `dir`, with each record's start.
struct Channel {
  std::vector<int32_t> samples;
  std::vector<std::pair<std::size_t, int64_t>> starts;  // index of a record's first sample, its time
  double rate = 0;
};
std::map<std::string, Channel> channels_in(const fs::path& dir) {
  std::map<std::string, Channel> out;
  for (const auto& name : testkit::list_files(dir)) {
    if (fs::path(name).extension() != ".mseed") continue;
    for (const auto& r : mseedtest::read_records((dir / name).string())) {
      Channel& c = out[id_of(r)];
      EXPECT_TRUE(r.frames_whole) << name;
      EXPECT_EQ(r.reclen, 4096);
      EXPECT_EQ(r.quality, 'D');
      c.starts.push_back({c.samples.size(), r.start_us});
      c.samples.insert(c.samples.end(), r.samples.begin(), r.samples.end());
      c.rate = r.rate;
    }
  }
  return out;
}

pktest::Recording recording(unsigned stream) {
  pktest::Recording rec{.unit = 0xA12F, .stream = stream, .start = "2005283070005000", .rate = 200.0};
  rec.channels = {{.channel = 0, .samples = wave(1500, 900)},
                  {.channel = 1, .format = pktest::kFmt32, .samples = wave(1500, 4000000)},
                  {.channel = 2, .format = pktest::kFmt16, .samples = wave(1500, 3)}};
  return rec;
}

}  // namespace

TEST(MseedProgram, SettingsFileSetsEveryCode) {
  testkit::ScratchDir dir;
  pktest::write_packets((dir.path() / "in.pk").string(), recording(0).packets());
  fs::create_directories(dir.path() / "out");
  const fs::path ini = dir.path() / "PKU.INI";
  testkit::write_file(ini, "[A12F]\r\nStation=KELDA\r\nNetwork=North Ridge\r\nCh1Axis=U\r\n"
                           "[A12F SEED]\r\nNetwork=NR\r\nStation=KEL01\r\nLocation=10\r\n"
                           "Stream1Channel1=HNZ\r\nStream1Channel2=HN1\r\nStream1Channel3=EHE\r\n");
  const auto r = run_in(dir.path(), "PKU='" + ini.string() + "'", "pk_mseed", "-VN in.pk out");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(testkit::list_files(dir.path() / "out"), std::vector<std::string>{"2005_283_07_00_05_A12F_1.mseed"});
  const auto chans = channels_in(dir.path() / "out");
  const char* ids[] = {"NR.KEL01.10.HNZ", "NR.KEL01.10.HN1", "NR.KEL01.10.EHE"};
  const pktest::Recording rec = recording(0);
  for (std::size_t c = 0; c < 3; ++c) {
    ASSERT_TRUE(chans.count(ids[c])) << ids[c];
    EXPECT_EQ(chans.at(ids[c]).samples, rec.channels[c].samples) << ids[c];
    EXPECT_EQ(chans.at(ids[c]).rate, 200.0);
  }
}

// Without a settings file: network XX, the unit id, band H at 200 samples a second, the
// channel number; the second stream's location tells its ids from the first's.
TEST(MseedProgram, DefaultCodesAndOneFilePerStream) {
  testkit::ScratchDir dir;
  // One event of two streams: the trailer comes after both.
  pktest::Recording first = recording(0), second = recording(1);
  first.et = false;
  second.eh = false;
  second.first_seq = static_cast<unsigned>(first.packets().size());
  std::vector<pktest::Packet> packets = first.packets();
  for (const auto& p : second.packets()) packets.push_back(p);
  pktest::write_packets((dir.path() / "in.pk").string(), packets);
  fs::create_directories(dir.path() / "out");
  const auto r = run_in(dir.path(), "PKU='" + (dir.path() / "none").string() + "'", "pk_mseed", "-VN in.pk out");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("Unable to open the PKU.INI file; using the default SEED codes"), std::string::npos);
  EXPECT_EQ(testkit::list_files(dir.path() / "out"),
            (std::vector<std::string>{"2005_283_07_00_05_A12F_1.mseed", "2005_283_07_00_05_A12F_2.mseed"}));
  std::vector<std::string> ids;
  for (const auto& [id, chan] : channels_in(dir.path() / "out")) {
    ids.push_back(id);
    ASSERT_FALSE(chan.starts.empty());
    // 2005-283 07:00:05 UTC
    EXPECT_EQ(chan.starts[0].second, 1128927605000000) << id;
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"XX.A12F..HH1", "XX.A12F..HH2", "XX.A12F..HH3", "XX.A12F.02.HH1",
                                           "XX.A12F.02.HH2", "XX.A12F.02.HH3"}));
}
