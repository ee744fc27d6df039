// Recordings damaged on their way from the field: a packet lost, written twice, or two
// packets swapped. Every sample still in the input comes out exactly once at its true
// time, the run says what happened on standard error, and it succeeds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "convert/damage_report.h"
#include "tests/support/output_readers.h"
#include "tests/support/pkenc.h"
#include "common/pkfile.h"
#include "tests/support/testkit.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using pktest::Packet;
using testkit::ScratchDir;

// One output file's channel: where it starts (milliseconds into its year) and its samples.
struct TimedChannel {
  unsigned chan = 0;  // 0 = first channel
  long long start_ms = 0;
  std::vector<int32_t> samples;
};

long long ms_of(long day, long hour, long min, long sec, long ms) {
  return ((((day * 24 + hour) * 60 + min) * 60 + sec) * 1000) + ms;
}

// The SEG-Y trace files (without file header) of a directory.
std::vector<TimedChannel> read_traces(const fs::path& dir) {
  std::vector<TimedChannel> out;
  for (const std::string& name : testkit::list_files(dir)) {
    if (!name.ends_with(".RSY")) continue;
    const std::string b = testkit::read_file(dir / name);
    const auto f = testkit::read_segy(b, false, false);
    EXPECT_TRUE(f.whole && f.traces.size() == 1) << name;
    if (f.traces.size() != 1) continue;
    const auto u16 = [&](std::size_t at) { return static_cast<long>(testkit::u16be(b, at)); };
    out.push_back({testkit::u32be(b, 0), ms_of(u16(158), u16(160), u16(162), u16(164), u16(206)),
                   f.traces[0].samples});
  }
  return out;
}

// The channels of the SEISAN files of a directory, from their channel headers.
std::vector<TimedChannel> read_sei_channels(const fs::path& dir) {
  std::vector<TimedChannel> out;
  for (const std::string& name : testkit::list_files(dir)) {
    if (!name.ends_with(".SEI")) continue;
    for (const auto& ch : testkit::read_sei(testkit::read_file(dir / name)).channels) {
      const auto num = [&](int first, int last) { return std::stol(testkit::cols(ch.header, first, last)); };
      const double sec = std::stod(testkit::cols(ch.header, 30, 35));
      out.push_back({static_cast<unsigned>(ch.header[6] - '1'),
                     ms_of(num(14, 16), num(24, 25), num(27, 28), 0, std::lround(sec * 1000)), ch.samples});
    }
  }
  return out;
}

enum class Damage { removed, repeated, swapped, garbled, cut };

// The input with the DT packet at `at` removed, written twice, swapped with the next,
// its type letters garbled, or the last (cut off by `write_damaged`).
std::vector<Packet> damaged(std::vector<Packet> p, Damage d, std::size_t at) {
  switch (d) {
    case Damage::removed: p.erase(p.begin() + static_cast<long>(at)); break;
    case Damage::repeated: p.insert(p.begin() + static_cast<long>(at), p[at]); break;
    case Damage::swapped: std::swap(p[at], p[at + 1]); break;
    case Damage::garbled: p[at][0] = 0; break;
    case Damage::cut: p.resize(at + 1); break;
  }
  return p;
}

// Writes the damaged input; a cut one ends 500 bytes into its last packet.
void write_damaged(const fs::path& file, const std::vector<Packet>& input, Damage d) {
  pktest::write_packets(file, input);
  if (d == Damage::cut) fs::resize_file(file, (input.size() - 1) * 1024 + 500);
}

struct Case {
  const char* program;
  Damage damage;
  std::size_t at;  // index of the packet damaged
};

// Every sample of every channel in the damaged input once, at the time the recording gave it.
void expect_each_sample_once_in_time(const pktest::Recording& rec, const std::vector<Packet>& input,
                                     const std::vector<TimedChannel>& found) {
  const auto field = [&](std::size_t at, std::size_t n) { return std::stol(rec.start.substr(at, n)); };
  const long long start = ms_of(field(4, 3), field(7, 2), field(9, 2), field(11, 2), field(13, 3));
  const long long interval_ms = static_cast<long long>(1000 / rec.rate);
  std::map<unsigned, std::vector<int>> seen;  // times each sample was found, by channel
  for (const auto& c : rec.channels) seen[c.channel].assign(c.samples.size(), 0);
  for (const TimedChannel& t : found) {
    const auto& samples = rec.channels.at(t.chan).samples;
    for (std::size_t k = 0; k < t.samples.size(); ++k) {
      const long long i = (t.start_ms - start) / interval_ms + static_cast<long long>(k);
      ASSERT_TRUE(i >= 0 && i < static_cast<long long>(samples.size())) << t.chan << " " << i;
      EXPECT_EQ(t.samples[k], samples[static_cast<std::size_t>(i)]) << t.chan << " " << i;
      ++seen[t.chan][static_cast<std::size_t>(i)];
    }
  }
  std::map<unsigned, std::vector<int>> wanted;
  for (const auto& c : rec.channels) wanted[c.channel].assign(c.samples.size(), 0);
  for (const Packet& p : input) {
    if (pk::code_set(p.data()) != pk::PacketType::dt) continue;
    const long long i = pktest::time_diff_ms(rec.start, pk::header_time_string(p.data())) / interval_ms;
    for (unsigned k = 0; k < pk::bcd2i(p.data() + 20, 2); ++k) wanted[pk::bcd2i(p.data() + 19, 1)][i + k] = 1;
  }
  EXPECT_EQ(seen, wanted);
}

TEST(DamagedRecording, EverySampleStillThereOnceAtItsTime) {
  pktest::Recording rec{.unit = 0xAE4C, .event = 427, .start = "2015282225051000"};
  for (unsigned c = 0; c < 3; ++c) {
    std::vector<int32_t> s(900);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int32_t>((i * 37 + c * 1000) % 4001) - 2000;
    rec.channels.push_back({.channel = c, .format = c == 1 ? pktest::kFmt16 : pktest::kFmtC0, .samples = s,
                            .per_packet = 100});
  }
  const std::vector<Packet> intact = rec.packets();
  const Case cases[] = {{"pk_segy", Damage::removed, 11}, {"pk_segy", Damage::repeated, 11},
                        {"pk_segy", Damage::swapped, 11}, {"pk_seis", Damage::removed, 5},
                        {"pk_seis", Damage::swapped, 20}, {"pk_segy", Damage::removed, 2},
                        {"pk_segy", Damage::garbled, 27}, {"pk_seis", Damage::garbled, 7},
                        {"pk_segy", Damage::cut, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " " + std::to_string(static_cast<int>(c.damage)) + " " +
                 std::to_string(c.at));
    ScratchDir dir;
    std::vector<Packet> input = damaged(intact, c.damage, c.at);
    write_damaged(dir / "in.pk", input, c.damage);
    if (c.damage == Damage::cut) input.pop_back();
    fs::create_directory(dir / "out");
    const auto r = testkit::run_program(testkit::program_path(c.program), "-VN in.pk out", dir.path());
    ASSERT_EQ(r.code, 0) << r.out;
    const bool segy = std::string(c.program) == "pk_segy";
    expect_each_sample_once_in_time(rec, input, segy ? read_traces(dir / "out") : read_sei_channels(dir / "out"));
    const std::map<Damage, std::string> lines{
        {Damage::repeated, "\nWARNING: unit AE4C: 1 packet repeating the one before byte for byte skipped\n"},
        {Damage::garbled,
         "\nWARNING: 1 block of 1024 bytes is no PASSCAL packet and was skipped; any samples in it are missing\n"},
        {Damage::cut, "\nWARNING: the input ends in a cut-off packet of 500 bytes, which was skipped; any samples in "
                      "it are missing\n"}};
    const std::string said = lines.count(c.damage) ? lines.at(c.damage)
                                                   : "\nWARNING: unit AE4C event 427: packet sequence broken ";
    EXPECT_NE(r.out.find(said), std::string::npos) << r.out;
  }
}

// -T and -S count over the whole event, not again in each segment; a channel that has
// used up the limit before a segment begins has no file in it (the event's first segment
// keeps its own), and the segment begins with the channels that store samples.
TEST(DamagedRecording, DiscardsAndLimitSpanTheSegments) {
  struct Trace {
    unsigned chan;
    int from, to;  // samples [from, to)
  };
  struct Case {
    const char* program;
    const char* switches;
    std::size_t per_packet_0;  // of the first channel; 0: a second channel of 100 a packet
    std::size_t removed;       // packet
    std::vector<Trace> traces;
    const char* later_file;    // the name the later segment's file takes
  };
  const Case cases[] = {
      {"pk_segy", "-T130 -S250", 100, 3, {{0, 130, 200}, {0, 300, 480}}, "2003_001_00_00_03_01234_1_1.RSY"},
      {"pk_segy", "-S150", 100, 3, {{0, 0, 150}}, nullptr},
      {"pk_segy", "-S0", 100, 3, {{0, 0, 0}}, nullptr},
      {"pk_seis", "-S200", 100, 3, {{0, 0, 200}}, nullptr},
      // Packets: EH, channel 1 from sample 0, channel 2 from 0 (removed), channel 1 from 50
      // (0.5 s, the break) and from 100, channel 2 from 100 (1 s).
      {"pk_segy", "-S50", 50, 2, {{0, 0, 50}, {1, 100, 150}}, "2003_001_00_00_01_01234_1_2.RSY"},
      {"pk_seis", "-S50", 50, 2, {{0, 0, 50}, {1, 100, 150}}, "2003_001_00_00_01_1234_1.SEI"},
  };
  std::vector<int32_t> s(800);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int32_t>(i);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " " + c.switches);
    pktest::Recording rec;
    rec.channels.push_back({.channel = 0, .samples = s, .per_packet = c.per_packet_0});
    if (c.per_packet_0 != 100) rec.channels.push_back({.channel = 1, .samples = s, .per_packet = 100});
    ScratchDir dir;
    pktest::write_packets(dir / "in.pk", damaged(rec.packets(), Damage::removed, c.removed));
    fs::create_directory(dir / "out");
    const auto r =
        testkit::run_program(testkit::program_path(c.program), std::string("-VN ") + c.switches + " in.pk out", dir.path());
    ASSERT_EQ(r.code, 0) << r.out;
    std::vector<TimedChannel> traces =
        std::string(c.program) == "pk_segy" ? read_traces(dir / "out") : read_sei_channels(dir / "out");
    std::sort(traces.begin(), traces.end(), [](auto& a, auto& b) { return a.start_ms < b.start_ms; });
    ASSERT_EQ(traces.size(), c.traces.size());
    for (std::size_t i = 0; i < traces.size(); ++i) {
      EXPECT_EQ(traces[i].chan, c.traces[i].chan);
      EXPECT_EQ(traces[i].samples, std::vector<int32_t>(s.begin() + c.traces[i].from, s.begin() + c.traces[i].to));
    }
    if (c.later_file) {
      std::string names;
      for (const std::string& name : testkit::list_files(dir / "out")) names += name + " ";
      EXPECT_TRUE(fs::exists(dir.path() / "out" / c.later_file)) << names;
    }
  }
}

// A packet stamped a second late: SEG-Y and SEISAN files keep placing samples by count,
// byte for byte as without the jump, and the run says where the times disagree.
TEST(DamagedRecording, TimeTearKeepsTheBytesAndIsTold) {
  pktest::Recording rec;
  for (unsigned c = 0; c < 2; ++c)
    rec.channels.push_back(
        {.channel = c, .samples = std::vector<int32_t>(600, static_cast<int32_t>(c)), .per_packet = 100});
  const std::vector<Packet> intact = rec.packets();
  std::vector<Packet> torn = intact;
  Packet& p = torn[6];  // channel 2's third packet
  const pktest::Header late{.time = pktest::advance_time(pk::header_time_string(p.data()), 1000),
                            .seq = pk::bcd2i(p.data() + 14, 2)};
  pktest::put_header(p, late);
  for (const char* program : {"pk_segy -HY", "pk_seis"}) {
    SCOPED_TRACE(program);
    std::map<std::string, std::string> outputs[2];
    std::string said[2];
    for (int i = 0; i < 2; ++i) {
      ScratchDir dir;
      pktest::write_packets(dir / "in.pk", i == 0 ? intact : torn);
      fs::create_directory(dir / "out");
      const std::string cmd = program;
      const auto r = testkit::run_program(testkit::program_path(cmd.substr(0, 7)), "-VN in.pk out" + cmd.substr(7),
                                          dir.path());
      ASSERT_EQ(r.code, 0) << r.out;
      for (const std::string& name : testkit::list_files(dir / "out"))
        outputs[i][name] = testkit::read_file(dir.path() / "out" / name);
      said[i] = r.out;
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(said[0].find("WARNING"), std::string::npos) << said[0];
    EXPECT_NE(said[1].find("\nWARNING: unit 1234 event 1 channel 2: 2 time tears, the largest 1.000 s; samples after "
                           "them are placed by count, not by packet time\n"),
              std::string::npos)
        << said[1];
  }
}

// Where a channel's packet times leave the count of its samples: marks past half an
// interval, tears where consecutive packets disagree by more than one.
TEST(DamagedRecording, TimeMarksAndTearsOfAChannel) {
  struct Step {
    const char* time;  // of the packet
    uint32_t kept, discarded;
  };
  struct Case {
    const char* what;
    std::vector<Step> steps;                  // at 100 samples per second from 2003001000000000
    std::vector<std::pair<uint64_t, double>> marks;  // sample, offset
    uint32_t tears;
    double largest;
  };
  const Case cases[] = {
      {"in time", {{"2003001000000000", 100, 0}, {"2003001000001000", 100, 0}}, {}, 0, 0},
      {"within half an interval", {{"2003001000000000", 100, 0}, {"2003001000001004", 100, 0}}, {}, 0, 0},
      {"a sample late", {{"2003001000000000", 100, 0}, {"2003001000001010", 100, 0}}, {{100, 0.01}}, 0, 0},
      {"a jump and back",
       {{"2003001000000000", 100, 0}, {"2003001000002000", 100, 0}, {"2003001000002000", 100, 0}},
       {{100, 1.0}},
       2,
       1.0},
      {"discards count", {{"2003001000000000", 0, 100}, {"2003001000001000", 70, 30}, {"2003001000002000", 100, 0}},
       {}, 0, 0},
      {"nothing kept, no mark", {{"2003001000000000", 100, 0}, {"2003001000005000", 0, 0}}, {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pk::EventNode evt;
    evt.Samp_rate = 100.0f;
    evt.rate_known = true;
    pk::ChannelNode f;
    f.First_smp_time = pk::PacketTime(c.steps[0].time);
    f.discard_count = 130;
    for (const Step& s : c.steps) {
      const uint32_t stored_at = f.stored, trash_at = f.discard_count;
      f.Prev_smp_time = pk::PacketTime(s.time);
      f.stored += s.kept;
      f.discard_count -= s.discarded;
      pk::note_packet_time(f, evt, stored_at, trash_at);
    }
    std::vector<std::pair<uint64_t, double>> marks;
    for (const pk::TimeMark& m : f.time_marks) marks.emplace_back(m.sample, std::round(m.offset * 1000) / 1000);
    EXPECT_EQ(marks, c.marks);
    EXPECT_EQ(f.time_tears, c.tears);
    EXPECT_DOUBLE_EQ(f.largest_tear, c.largest);
  }
}

}  // namespace
}  // namespace e2e
