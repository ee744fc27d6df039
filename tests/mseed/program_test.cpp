// pk_mseed as a program: packet files in, miniSEED files out, read back by libmseed and by
// mseed2sac, an independent reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <tuple>

#include "common/decode.h"
#include "convert/helpers.h"
#include "tests/support/output_readers.h"
#include "common/packet_time.h"
#include "tests/support/pkenc.h"
#include "common/pkfile.h"
#include "tests/support/mseed_files.h"
#include "common/records.h"
#include "tests/support/testkit.h"

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

// Samples of every SEED id in the files of `dir`, with each record's start.
struct Channel {
  std::vector<int32_t> samples;
  std::vector<std::pair<std::size_t, int64_t>> starts;  // index of a record's first sample, its time
  double rate = 0;
  std::string id;
};
std::map<std::string, Channel> channels_in(const fs::path& dir) {
  std::map<std::string, Channel> out;
  for (const auto& name : testkit::list_files(dir)) {
    if (fs::path(name).extension() != ".mseed") continue;
    for (const auto& r : mseedtest::read_records((dir / name).string())) {
      Channel& c = out[r.id()];
      EXPECT_TRUE(r.frames_whole) << name;
      EXPECT_EQ(r.reclen, 4096);
      EXPECT_EQ(r.quality, 'D');
      c.starts.push_back({c.samples.size(), r.start_us});
      c.samples.insert(c.samples.end(), r.samples.begin(), r.samples.end());
      c.rate = r.rate;
      c.id = r.id();
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
  // A code no record can hold stops the run before anything is written.
  testkit::write_file(ini, "[A12F SEED]\nStation=../x\n");
  fs::remove_all(dir.path() / "out");
  fs::create_directories(dir.path() / "out");
  const auto refused = run_in(dir.path(), "PKU='" + ini.string() + "'", "pk_mseed", "-VN in.pk out");
  EXPECT_EQ(refused.code, 2);
  EXPECT_NE(refused.out.find("ERROR: cannot take a SEED code from " + ini.string() + ": unit A12F: Station=../x:"),
            std::string::npos) << refused.out;
  EXPECT_TRUE(testkit::list_files(dir.path() / "out").empty());
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
  // Samples -T discards move the first record on by as many intervals.
  fs::remove_all(dir.path() / "out");
  fs::create_directories(dir.path() / "out");
  ASSERT_EQ(run_in(dir.path(), "PKU='" + (dir.path() / "none").string() + "'", "pk_mseed", "-VN -T10 in.pk out").code, 0);
  const auto trashed = channels_in(dir.path() / "out");
  ASSERT_TRUE(trashed.count("XX.A12F..HH1"));
  EXPECT_EQ(trashed.at("XX.A12F..HH1").starts[0].second, 1128927605000000 + 50000);
  EXPECT_EQ(trashed.at("XX.A12F..HH1").samples.front(), recording(0).channels[0].samples[10]);
}

namespace {

using Key = std::string;  // "UUUU_S_C": unit id, stream and channel digits

struct PacketStart {
  std::size_t sample;  // index among the channel's samples
  int64_t time_us;
};

// Where each decodable DT packet's samples begin, per channel, from the packets themselves.
std::map<Key, std::vector<PacketStart>> packet_starts(const fs::path& input) {
  std::map<Key, std::vector<PacketStart>> out;
  std::map<Key, std::size_t> counts;
  const std::string bytes = testkit::read_file(input);
  for (std::size_t at = 0; at + pk::kPacketSize <= bytes.size(); at += pk::kPacketSize) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    if (pk::code_set(p) != pk::PacketType::dt) continue;
    const pk::dt_pkt dt{p};
    if (pk::dt_sample_format(dt.dat_fmt()) == pk::SampleFormat::unknown) continue;
    const Key key = pk::format("%04X_%u_%u", pk::header_unit_id(p), dt.strm_num() + 1, dt.chan_num() + 1);
    const auto ms = pk::PacketTime(pk::header_time_string(p)).instant().time_since_epoch().count();
    out[key].push_back({counts[key], ms * 1000});
    counts[key] += dt.nsamp();
  }
  return out;
}

// The channels of pk_mseed's files by the same keys: station = unit id, location = stream.
std::map<Key, Channel> mseed_channels(const fs::path& dir) {
  std::map<Key, Channel> out;
  for (auto& [id, chan] : channels_in(dir)) {
    const auto dot1 = id.find('.'), dot2 = id.find('.', dot1 + 1), dot3 = id.find('.', dot2 + 1);
    const std::string location = id.substr(dot2 + 1, dot3 - dot2 - 1);
    out[id.substr(dot1 + 1, 4) + "_" + (location.empty() ? "1" : location.substr(1)) + "_" + id.back()] = chan;
  }
  return out;
}

// pk_segy's traces, each channel's events one after the other, and its sample interval (us).
std::map<Key, std::pair<std::vector<int32_t>, unsigned>> segy_channels(const fs::path& dir) {
  std::map<Key, std::pair<std::vector<int32_t>, unsigned>> out;
  for (const auto& name : testkit::list_files(dir)) {
    const std::string stem = fs::path(name).stem().string();  // YYYY_DDD_HH_MM_SS_0UUUU_S_C
    auto& [samples, interval] = out[stem.substr(19)];
    const auto s = testkit::trace_file_samples(dir / name);
    samples.insert(samples.end(), s.begin(), s.end());
    const std::string head = testkit::read_file(dir / name).substr(0, 240);
    interval = static_cast<unsigned>(static_cast<uint8_t>(head[116]) << 8 | static_cast<uint8_t>(head[117]));
  }
  return out;
}

// mseed2sac's samples of each SEED id, in SAC's floats, sorted: its traces split where
// records leave gaps or overlap.
std::map<std::string, std::vector<float>> sac_samples(const fs::path& dir) {
  std::map<std::string, std::vector<float>> out;
  for (const auto& name : testkit::list_files(dir)) {
    if (fs::path(name).extension() != ".mseed") continue;
    const fs::path sac = dir / ("sac-" + name);
    fs::create_directories(sac);
    EXPECT_EQ(testkit::run_shell("cd '" + sac.string() + "' && mseed2sac -f 4 ../" + name + " >/dev/null 2>&1"), 0);
    for (const auto& file : testkit::list_files(sac)) {
      const auto f = testkit::read_sac(sac / file);
      EXPECT_TRUE(f.whole()) << file;
      const std::string id = file.substr(0, file.find(".D."));
      const auto s = f.samples();
      out[id].insert(out[id].end(), s.begin(), s.end());
    }
  }
  for (auto& [id, s] : out) std::sort(s.begin(), s.end());
  return out;
}

void expect_packet_times(const Channel& chan, const std::vector<PacketStart>& packets, const Key& key) {
  for (const PacketStart& p : packets) {
    if (p.sample >= chan.samples.size()) break;
    const auto record = std::prev(std::upper_bound(chan.starts.begin(), chan.starts.end(), std::pair{p.sample, INT64_MAX}));
    const double at = static_cast<double>(record->second) + static_cast<double>(p.sample - record->first) * 1e6 / chan.rate;
    ASSERT_LE(std::fabs(at - static_cast<double>(p.time_us)), 1000.0) << key << " sample " << p.sample;
  }
}

// Samples of each SEED id in the day files of an SDS tree.
std::map<std::string, std::size_t> archived_counts(const fs::path& root) {
  std::map<std::string, std::size_t> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && !e.path().filename().string().starts_with("."))
      for (const auto& r : mseedtest::read_records(e.path().string())) out[r.id()] += r.samples.size();
  return out;
}

// What the run said the archive could not take of a SEED id (packet times that went back).
std::size_t told_left_out(const std::string& said, const std::string& id) {
  const std::string tail = " of " + id + " are not in the archive";
  const auto at = said.find(tail);
  if (at == std::string::npos) return 0;
  const auto from = said.rfind(": ", at) + 2;
  return std::stoul(said.substr(from, at - from));
}

}  // namespace

// Every field recording: each channel's samples are pk_segy's, read back by libmseed and by
// mseed2sac, at the rate of the EH; each packet's first sample sits at the packet's time.
TEST(MseedProgram, FieldRecordingsAgreeWithSegyAndPacketTimes) {
  const fs::path field(PK_FIELD_DIR);
  if (!fs::is_directory(field)) GTEST_SKIP() << "no field recordings";
  std::size_t compared = 0;
  for (const auto& entry : fs::directory_iterator(field)) {
    const std::string file = entry.path().filename().string();
    if (!file.starts_with("packets-") || entry.path().extension() != ".pk") continue;
    SCOPED_TRACE(file);
    testkit::ScratchDir dir;
    fs::create_directories(dir.path() / "segy");
    fs::create_directories(dir.path() / "ms");
    const std::string in = "'" + entry.path().string() + "'";
    const std::string no_ini = "PKU='" + (dir.path() / "none").string() + "'";
    ASSERT_EQ(run_in(dir.path(), no_ini, "pk_segy", "-VN " + in + " segy").code, 0);
    const auto mseed_run = run_in(dir.path(), no_ini, "pk_mseed", "-VN " + in + " ms");
    ASSERT_EQ(mseed_run.code, 0);
    // Its records keep the packet times, so no tear is reported as placed by count.
    EXPECT_EQ(mseed_run.out.find("placed by count"), std::string::npos);
    const auto archive_run = run_in(dir.path(), no_ini, "pk_mseed", "-VN -Aarchive " + in + " ms");
    ASSERT_EQ(archive_run.code, 0) << archive_run.out;
    auto archived = archived_counts(dir.path() / "archive");
    const auto segy = segy_channels(dir.path() / "segy");
    const auto ms = mseed_channels(dir.path() / "ms");
    const auto sac = sac_samples(dir.path() / "ms");
    const auto packets = packet_starts(entry.path());
    for (const auto& [key, trace] : segy) {
      if (trace.first.empty()) continue;
      ASSERT_TRUE(ms.count(key)) << key;
      const Channel& chan = ms.at(key);
      EXPECT_EQ(chan.samples, trace.first) << key;
      // SEG-Y's 16-bit interval holds rates down to about 15.3 a second (0 below).
      if (trace.second != 0) {
        EXPECT_NEAR(1e6 / chan.rate, trace.second, 1.0) << key;
      }
      std::vector<float> as_float(trace.first.begin(), trace.first.end());
      std::sort(as_float.begin(), as_float.end());
      EXPECT_EQ(sac.count(chan.id) ? sac.at(chan.id) : std::vector<float>{}, as_float) << chan.id;
      expect_packet_times(chan, packets.count(key) ? packets.at(key) : std::vector<PacketStart>{}, key);
      // An archive holds one sample per time: what packet times that went back cost is told.
      EXPECT_EQ(archived[chan.id] + told_left_out(archive_run.out, chan.id), chan.samples.size()) << archive_run.out;
      ++compared;
    }
  }
  if (compared == 0) GTEST_SKIP() << "no packet recordings found";
}

namespace {

// in.pk of recording(0) converted `runs` times into dir/archive; its second channel's day file.
fs::path archive_runs(const fs::path& dir, const std::string& env, int runs) {
  pktest::write_packets((dir / "in.pk").string(), recording(0).packets());
  fs::create_directories(dir / "out");
  for (int run = 0; run < runs; ++run) {
    const auto r = run_in(dir, env, "pk_mseed", "-VN -Aarchive in.pk out");
    EXPECT_EQ(r.code, 0) << r.out;
    // What an earlier run put there is replaced without a word.
    EXPECT_EQ(r.out.find("WARNING"), std::string::npos) << r.out;
  }
  return dir / "archive/2005/XX/A12F/HH2.D/XX.A12F..HH2.D.2005.283";
}

}  // namespace

// -A: the records go into the archive's day files, relative to where the run started, and
// no event file stays behind; converting again leaves each sample once.
TEST(MseedProgram, ArchiveModeWritesDayFilesOnly) {
  testkit::ScratchDir dir;
  const std::string env = "PKU='" + (dir.path() / "none").string() + "'";
  const fs::path day = archive_runs(dir.path(), env, 2);
  EXPECT_TRUE(testkit::list_files(dir.path() / "out").empty());
  ASSERT_TRUE(fs::exists(day));
  std::vector<int32_t> samples;
  for (const auto& rec : mseedtest::read_records(day.string())) samples.insert(samples.end(), rec.samples.begin(), rec.samples.end());
  EXPECT_EQ(samples, recording(0).channels[1].samples);
  // Two events of one run at the same times (a clock set back): the archive keeps the
  // later one's samples, and the run says what that cost.
  pktest::Recording again = recording(0);
  again.event = 2;
  for (auto& c : again.channels) std::reverse(c.samples.begin(), c.samples.end());
  std::vector<pktest::Packet> both = recording(0).packets();
  for (const auto& p : again.packets()) both.push_back(p);
  pktest::write_packets((dir.path() / "twice.pk").string(), both);
  const auto twice = run_in(dir.path(), env, "pk_mseed", "-VN -Atwice twice.pk out");
  ASSERT_EQ(twice.code, 0) << twice.out;
  EXPECT_NE(twice.out.find("\nWARNING: unit A12F event 2: its samples of XX.A12F..HH2 replaced 1500 samples that the "
                           "run had put in the archive at the same times\n"),
            std::string::npos)
      << twice.out;
}

// A run stopped, or unable to write or read the archive, ends with one line that says why.
TEST(MseedProgram, ArchiveFailuresEndTheRunWithOneLine) {
  testkit::ScratchDir dir;
  const std::string env = "PKU='" + (dir.path() / "none").string() + "'";
  const fs::path day = archive_runs(dir.path(), env, 1);
  // CTRL-C while the run waits for a day file another run holds: it stops as any run does.
  const int held = open((day.parent_path() / ".XX.A12F..HH2.D.2005.283.lock").c_str(), O_RDWR);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const auto stopped = run_in(dir.path(), env + " timeout --preserve-status -k 5 -s INT 1", "pk_mseed", "-VN -Aarchive in.pk out");
  close(held);
  EXPECT_EQ(stopped.code, 1) << stopped.out;
  EXPECT_NE(stopped.out.find("ERROR: conversion stopped"), std::string::npos) << stopped.out;
  for (const auto& e : fs::recursive_directory_iterator(dir.path()))
    EXPECT_FALSE(e.path().filename().string().ends_with(".part")) << e.path();
  // An archive that cannot be written: both lines name the directory the merge could not make.
  testkit::write_file(dir.path() / "blocked", "a file where the archive should be");
  const auto blocked = run_in(dir.path(), env, "pk_mseed", "-VN -Ablocked in.pk out");
  const std::string year = (dir.path() / "blocked/2005").string();
  EXPECT_EQ(blocked.code, 22);
  EXPECT_NE(blocked.out.find("\nFile write error for " + year), std::string::npos) << blocked.out;
  EXPECT_NE(blocked.out.find("ERROR: cannot create directory " + year + ": Not a directory\n"), std::string::npos);
  // A damaged day file: one line says so, with libmseed's explanation; libmseed says nothing itself.
  std::string bytes = testkit::read_file(day);
  bytes[54] = 3;  // blockette 1000: records of 2^3 bytes
  testkit::write_file(day, bytes);
  const auto damaged = run_in(dir.path(), env, "pk_mseed", "-VN -Aarchive in.pk out");
  EXPECT_EQ(damaged.code, 22);
  EXPECT_NE(damaged.out.find("ERROR: cannot decode the record at byte 0 of " + day.string() + ": msr_unpack("),
            std::string::npos) << damaged.out;
  EXPECT_EQ(damaged.out.find("ERROR"), damaged.out.rfind("ERROR")) << damaged.out;
  EXPECT_EQ(damaged.out.find("Error:"), std::string::npos) << damaged.out;
  const auto usage = run_in(dir.path(), env, "pk_mseed", "-A in.pk");
  EXPECT_EQ(usage.code, 2);
  EXPECT_NE(usage.out.find("Invalid value for switch -A: \r\n"), std::string::npos);
  EXPECT_NE(usage.out.find("\r\n   -Ar     Archive: SDS day files under root r, no event files    (NO)"), std::string::npos);
}
