// pk_report's rows against what the programs wrote, and against headers made by hand for
// the cases the programs do not produce every day.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <set>

#include "tests/support/hbk_encoder.h"
#include "tests/support/mseed_files.h"
#include "tests/support/output_readers.h"
#include "tests/support/pkenc.h"
#include "tests/report/report_kit.h"
#include "report/timeline.h"

namespace {

namespace fs = std::filesystem;
using namespace testkit;
using reporttest::report_rows;
using reporttest::row_key;

// Two units: three channels at 100/s on stream 1, two at 10/s (an interval the 16-bit
// header field cannot hold) on stream 2.
std::vector<pktest::Packet> two_units() {
  pktest::Recording a{.unit = 0x0A1C, .event = 1, .stream = 0, .start = "2010121010101000", .rate = 100};
  pktest::Recording b{.unit = 0x0B2D, .event = 2, .stream = 1, .start = "2010121020000500", .rate = 10};
  for (unsigned c = 0; c < 3; ++c) a.channels.push_back({.channel = c, .format = pktest::kFmt32, .samples = ramp(300, 5, 3)});
  for (unsigned c = 0; c < 2; ++c) b.channels.push_back({.channel = c, .format = pktest::kFmt32, .samples = ramp(50, -9, 2)});
  std::vector<pktest::Packet> packets = a.packets(), more = b.packets();
  packets.insert(packets.end(), more.begin(), more.end());
  return packets;
}

std::multiset<std::string> expected_packet_rows(const std::string& program, bool stream_known) {
  std::multiset<std::string> keys;
  for (int c = 1; c <= 3; ++c)
    keys.insert(program + " 0A1C " + (stream_known ? "1" : "") + " " + std::to_string(c) +
                " 2010-05-01T01:01:01.000Z 2010-05-01T01:01:03.990Z 300 100 ok ");
  for (int c = 1; c <= 2; ++c)
    keys.insert(program + " 0B2D " + (stream_known ? "2" : "") + " " + std::to_string(c) +
                " 2010-05-01T02:00:00.500Z 2010-05-01T02:00:05.400Z 50 10 ok ");
  return keys;
}

std::multiset<std::string> keys_of(const std::string& dir) {
  std::multiset<std::string> keys;
  for (const auto& row : report_rows(dir)) keys.insert(row_key(row));
  return keys;
}

TEST(ProgramOutputs, RowsAreTheTracesTheProgramsWrote) {
  const std::string sac_row = "hbk2sac RX7  HHZ1 2010-05-01T01:00:00.000Z 2010-05-01T01:00:02.490Z 250 100 ok ";
  struct Case {
    std::string program, switches;
    std::multiset<std::string> rows;
  };
  const std::vector<Case> cases = {
      {"pk_segy", "", expected_packet_rows("pk_segy", true)},
      {"pk_segy", "-HY", expected_packet_rows("pk_segy", true)},
      {"pk_segy", "-GS", expected_packet_rows("pk_segy", true)},
      {"pk_segy", "-GR", expected_packet_rows("pk_segy", false)},  // a receiver gather holds every stream
      {"pk_seis", "", expected_packet_rows("pk_seis", true)},
      {"hbk2sac", "", {sac_row}},
      {"hbk2sac", "-l", {sac_row}},
      {"pk_seis", "-W4", expected_packet_rows("pk_seis", true)},  // records framed by 4-byte lengths
  };
  ScratchDir dir;
  pktest::write_packets(dir / "in.pk", two_units());
  hbktest::BlockFields f = hbktest::fields_from_samples(ramp(250, 1000, -1), 2);
  f.sysid = hbktest::text_to_id("RX7");
  f.streamid = hbktest::text_to_id("HHZ1");
  f.timecode = hbktest::timecode_for_date(2010, 5, 1, 3600);
  hbktest::write_blocks(dir / "in.hbk", {hbktest::encode_block(f)});
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& k = cases[i];
    SCOPED_TRACE(k.program + " " + k.switches);
    const std::string out = dir / ("out" + std::to_string(i));
    fs::create_directory(out);
    const std::string args = k.program == "hbk2sac" ? "in.hbk -o:" + out + " " + k.switches : k.switches + " -VN in.pk " + out;
    const RunResult r = run_program(program_path(k.program), args, dir.path().string());
    ASSERT_EQ(r.code, 0) << r.out;
    reporttest::run_pk_report(out);
    EXPECT_EQ(keys_of(out), k.rows);
  }
}

// ---- hand-made headers ----
std::string segy_trace(uint16_t interval16, uint32_t interval32, uint16_t count16, uint32_t count32, std::size_t samples) {
  std::string h(240, '\0');
  auto put16 = [&](std::size_t at, uint16_t v) { h[at] = char(v >> 8), h[at + 1] = char(v); };
  auto put32 = [&](std::size_t at, uint32_t v) { put16(at, uint16_t(v >> 16)), put16(at + 2, uint16_t(v)); };
  put16(114, count16), put16(116, interval16), put32(200, interval32), put32(228, count32);
  for (auto [at, v] : {std::pair{156, 2004}, {158, 60}, {160, 23}, {162, 59}, {164, 58}, {206, 7}, {224, 0x1F}})
    put16(static_cast<std::size_t>(at), static_cast<uint16_t>(v));
  put32(0, 4);  // fifth channel
  return h + std::string(4 * samples, '\x01');
}

std::string sac_file(bool big_endian, float b, int npts) {
  std::string h(632, '\0');
  auto put = [&](std::size_t word, uint32_t v) {
    for (int i = 0; i < 4; ++i) h[4 * word + static_cast<std::size_t>(i)] = char(v >> (big_endian ? 24 - 8 * i : 8 * i));
  };
  put(0, std::bit_cast<uint32_t>(0.25f)), put(5, std::bit_cast<uint32_t>(b));
  for (auto [word, v] : {std::pair{70, 2001}, {71, 365}, {72, 23}, {73, 59}, {74, 59}, {75, 250}, {76, 6}, {79, npts}})
    put(static_cast<std::size_t>(word), static_cast<uint32_t>(v));
  h.replace(440, 8, std::string("AB12\0" "5  ", 8));
  h.replace(600, 8, "-12345  ");
  return h + std::string(4 * static_cast<std::size_t>(npts), '\0');
}

// The records of a SEISAN file, reframed: classic blocks, or 4-byte length words.
std::string frame(const std::vector<std::string>& records, bool length_words) {
  std::string out = length_words ? "" : "K";
  for (const std::string& r : records) {
    if (length_words) {
      out += le_bytes({static_cast<int32_t>(r.size())}) + r + le_bytes({static_cast<int32_t>(r.size())});
      continue;
    }
    for (std::size_t at = 0; at < r.size(); at += 128) {
      const std::size_t n = std::min<std::size_t>(128, r.size() - at);
      const char mark = static_cast<char>(n == 128 ? 129 : n);
      out += mark + r.substr(at, n) + mark;
    }
  }
  return length_words ? out : out + '\x82';
}

// pk_seis's file of `samples` samples per channel, as records; `blank_counts` clears the
// count field as the writer does for counts of a million or more.
std::vector<std::string> seisan_records(std::size_t samples, bool blank_counts) {
  ScratchDir dir;
  pktest::Recording rec{.unit = 0x0C3E, .start = "2012060000000000", .rate = 100};
  for (unsigned c = 0; c < 3; ++c) rec.channels.push_back({.channel = c, .format = pktest::kFmt32, .samples = ramp(samples, 1, 1)});
  pktest::write_packets(dir / "sei.pk", rec.packets());
  fs::create_directories(dir / "sei");
  EXPECT_EQ(run_program(program_path("pk_seis"), "-VN sei.pk sei", dir.path().string()).code, 0);
  const SeiFile f = read_sei(read_file(dir / ("sei/" + list_files(dir / "sei").at(0))));
  std::vector<std::string> records = f.lines;
  for (SeiChannel ch : f.channels) {
    if (blank_counts) ch.header.replace(44, 6, 6, ' ');
    records.push_back(ch.header);
    records.push_back(le_bytes(ch.samples));
  }
  return records;
}

// Samples of one SEED id from a start (seconds into 2011-07-19 12:00 UTC), at 100 per second.
struct MseedPiece {
  const char *station, *location, *channel;
  double start_s;
  int samples;
};

// miniSEED records as libmseed packs them: Steim-2 in records of 512 bytes, several per piece.
std::string mseed_records(const std::vector<MseedPiece>& pieces) {
  std::string bytes;
  for (const MseedPiece& p : pieces) {
    const mseedtest::Stream s{.station = p.station, .location = p.location, .channel = p.channel, .reclen = 512};
    const int64_t start = mseedtest::utc(2011, 7, 19, 12, 0, 0) + std::llround(p.start_s * mseedtest::kSecond);
    bytes += mseedtest::pack_records(s, start, ramp(static_cast<std::size_t>(p.samples), 3, 2));
  }
  return bytes;
}

std::string mseed_row(const std::string& station, const std::string& location, const std::string& from,
                      const std::string& to, int samples) {
  return "pk_mseed " + station + " " + location + " HHZ 2011-07-19T12:00:" + from + "Z 2011-07-19T12:00:" + to + "Z " +
         std::to_string(samples) + " 100 ok ";
}

struct HandMadeFile {
  std::string name, bytes;
  std::multiset<std::string> rows;  // of an unreadable file: the reason
};

std::multiset<std::string> unreadable(const std::string& program, const std::string& reason) {
  return {program + "        unreadable: " + reason + " "};
}

std::vector<HandMadeFile> mseed_files() {
  return {
    // HHZ goes on after HHN's records; 4 ms late is on time, 6 ms (over half an interval) a new trace.
    {"event.mseed", mseed_records({{"ST1", "", "HHZ", 0, 1000}, {"ST1", "", "HHN", 0, 1000}, {"ST1", "", "HHZ", 10.004, 1000},
                                   {"ST1", "", "HHZ", 20.006, 500}}),
     {mseed_row("ST1", "", "00.000", "19.990", 2000), mseed_row("ST1", "", "20.006", "24.996", 500),
      "pk_mseed ST1  HHN 2011-07-19T12:00:00.000Z 2011-07-19T12:00:09.990Z 1000 100 ok "}},
    // A record that starts before the samples ahead of it end begins a trace of its own.
    {"sds/2011/XX/ST2/HHZ.D/XX.ST2.00.HHZ.D.2011.200", mseed_records({{"ST2", "00", "HHZ", 0, 1000}, {"ST2", "00", "HHZ", 9.9, 100}}),
     {mseed_row("ST2", "00", "00.000", "09.990", 1000), mseed_row("ST2", "00", "09.900", "10.890", 100)}},
    {"cut.mseed", mseed_records({{"ST1", "", "HHZ", 0, 2000}}).substr(0, 800),
     unreadable("pk_mseed", "record at byte 512 cut short")},
    {"text.mseed", std::string(600, 'x'), unreadable("pk_mseed", "No SEED data detected at byte 0")},
    {"empty.mseed", "", unreadable("pk_mseed", "No SEED data detected at byte 0")},
  };
}

TEST(HandMadeHeaders, RowsOrTheReasonAFileIsUnreadable) {
  const auto sei_rows = [](const std::string& n) {
    std::multiset<std::string> rows;
    for (const char* c : {"1", "2", "3"})
      rows.insert("pk_seis 0C3E 1 " + std::string(c) + " 2012-02-29T00:00:00.000Z " +
                  (n == "32" ? "2012-02-29T00:00:00.310Z" : "2012-02-29T00:00:00.390Z") + " " + n + " 100 ok ");
    return rows;
  };
  std::vector<HandMadeFile> cases = {
      {"wide.RSY", segy_trace(0, 200000, 0, 7, 7), {"pk_segy 001F  5 2004-02-29T23:59:58.007Z 2004-02-29T23:59:59.207Z 7 5 ok "}},
      {"2004_060_23_59_58_0001F_3_5.RSY", segy_trace(1000, 0, 2, 0, 2), {"pk_segy 001F 3 5 2004-02-29T23:59:58.007Z 2004-02-29T23:59:58.008Z 2 1000 ok "}},
      {"short.RSY", segy_trace(1000, 1000, 9, 9, 8), unreadable("pk_segy", "samples of the trace at byte 0 cut short")},
      {"big.sac", sac_file(true, 1.5f, 3), {"hbk2sac AB12   2002-01-01T00:00:00.750Z 2002-01-01T00:00:01.250Z 3 4 ok "}},
      {"little.sac", sac_file(false, 0.0f, 1), {"hbk2sac AB12   2001-12-31T23:59:59.250Z 2001-12-31T23:59:59.250Z 1 4 ok "}},
      {"no-version.sac", sac_file(true, 0.0f, 1).replace(304, 4, 4, '\0'),
       unreadable("hbk2sac", "no SAC header (version 6) in either byte order")},
      {"words.SEI", frame(seisan_records(40, false), true), sei_rows("40")},
      {"blocks.SEI", frame(seisan_records(40, false), false), sei_rows("40")},
      // 32 samples fill one block exactly: without a count the data record has no end of its own.
      {"uncounted.SEI", frame(seisan_records(32, true), false), sei_rows("32")},
      {"uncounted-words.SEI", frame(seisan_records(32, true), true), sei_rows("32")},
      {"cut.SEI", frame(seisan_records(40, false), false).substr(0, 2000) + '\x82', unreadable("pk_seis", "no record of 1040 bytes at byte 985")},
      {"text.SEI", "not a waveform file\n",
       unreadable("pk_seis", "neither SEISAN framing (no start byte 'K' and end byte 130, no length word 80)")},
  };
  for (HandMadeFile& k : mseed_files()) cases.push_back(std::move(k));
  for (const HandMadeFile& k : cases) {
    SCOPED_TRACE(k.name);
    ScratchDir out;
    for (const std::string dir : {"", "."}) fs::create_directories(fs::path(out / (dir + k.name)).parent_path());
    write_file(out / k.name, k.bytes);
    write_file(out / ("." + k.name), k.bytes);                         // hidden
    write_file(out / ("." + k.name + ".pk_segy-12.part"), k.bytes);  // a run's temporary
    const RunResult r = reporttest::run_pk_report(out.path().string());
    EXPECT_EQ(keys_of(out.path().string()), k.rows);
    EXPECT_EQ(r.out.find("1 unreadable") != std::string::npos, k.rows.begin()->find("unreadable") != std::string::npos) << r.out;
  }
}

// Gaps, and overlaps of traces of one program: the traces counting one, and the spans marked.
TEST(Timeline, AGapIsMoreThanTwoSampleIntervalsAnOverlapLessThanHalfOne) {
  using report::Trace;
  auto trace = [](int64_t start_ms, uint64_t samples, report::Format format = report::Format::segy) {
    Trace t;
    t.format = format;
    t.start_us = start_ms * 1000;
    t.rate = 100;
    t.samples = samples;
    return t;
  };
  struct Case {
    const char* what;
    std::vector<Trace> traces;  // by start
    std::size_t gaps;
    std::vector<unsigned> overlaps;  // per trace
    std::size_t spans;
  };
  const std::vector<Case> cases = {
      {"next sample on time", {trace(0, 10), trace(100, 10)}, 0, {0, 0}, 0},
      {"two intervals", {trace(0, 10), trace(110, 10)}, 0, {0, 0}, 0},
      {"a little more", {trace(0, 10), trace(111, 10)}, 1, {0, 0}, 0},
      {"overlapping", {trace(0, 100), trace(500, 10), trace(990, 10)}, 0, {2, 1, 1}, 2},
      {"a trace without samples bridges nothing", {trace(0, 10), trace(200, 0), trace(300, 10)}, 1, {0, 0, 0}, 0},
      {"two gaps", {trace(0, 1), trace(1000, 1), trace(2000, 1)}, 2, {0, 0, 0}, 0},
      {"half an interval after the last sample", {trace(0, 10), trace(95, 10)}, 0, {0, 0}, 0},
      {"less than half an interval after it", {trace(0, 10), trace(94, 10)}, 0, {1, 1}, 1},
      {"three copies of one recording", {trace(0, 10), trace(0, 10), trace(0, 10)}, 0, {2, 2, 2}, 1},
      {"SEG-Y and SEISAN of one recording", {trace(0, 10), trace(0, 10, report::Format::seisan)}, 0, {0, 0}, 0},
      {"miniSEED event and day files", {trace(0, 10, report::Format::mseed), trace(0, 10, report::Format::sds)}, 0, {0, 0}, 0},
      {"two day files", {trace(0, 10, report::Format::sds), trace(50, 10, report::Format::sds)}, 0, {1, 1}, 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    std::vector<Trace> traces = k.traces;
    std::vector<const Trace*> by_start;
    std::vector<Trace*> members;
    for (Trace& t : traces) by_start.push_back(&t), members.push_back(&t);
    EXPECT_EQ(report::find_gaps(by_start).size(), k.gaps);
    EXPECT_EQ(report::find_overlaps(members).size(), k.spans);
    std::vector<unsigned> counts;
    for (const Trace& t : traces) counts.push_back(t.overlaps);
    EXPECT_EQ(counts, k.overlaps);
  }
}

}  // namespace
