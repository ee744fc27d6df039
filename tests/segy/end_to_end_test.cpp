// pk_segy run on packet files: the program, standard SEG-Y readers and field recordings.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <fstream>

#include "tests/support/output_readers.h"
#include "tests/support/pkenc.h"
#include "tests/support/testkit.h"

namespace {

namespace fs = std::filesystem;
using namespace testkit;

bool segyio_available() { return run_shell("/usr/bin/python3 -c 'import segyio' > /dev/null 2>&1") == 0; }

std::vector<int32_t> wave(std::size_t n, int32_t amplitude, int phase) {
  std::vector<int32_t> s(n);
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<int32_t>(std::lround(amplitude * std::sin(0.05 * static_cast<double>(i) + phase))) +
           static_cast<int32_t>(i % 7) - 3;
  return s;
}

std::vector<int32_t> shifted(std::vector<int32_t> s, int32_t by) {
  for (int32_t& v : s) v += by;
  return s;
}

std::vector<int32_t> fitted(std::vector<int32_t> s, std::size_t n) {
  s.resize(n, 0);
  return s;
}

// Writes what check_segy.py compares a file with.
// What segyio reports for an interval: it reads the 16-bit fields as signed, and they hold
// 0 where the interval does not fit.
long segyio_interval(uint32_t interval) { return interval > 65535 ? 0 : static_cast<int16_t>(interval); }

void write_expected(const std::string& path, std::size_t count, long interval,
                    const std::vector<std::vector<int32_t>>& traces) {
  std::ofstream out(path);
  out << count << ' ' << interval << '\n';
  for (const auto& t : traces) {
    for (int32_t v : t) out << v << ' ';
    out << '\n';
  }
}

std::string check_with_segyio(const std::string& segy, const std::string& expected, const std::string& report) {
  const std::string script = std::string(PK_SOURCE_DIR) + "/tests/segy/check_segy.py";
  const int rc = run_shell("/usr/bin/python3 '" + script + "' '" + segy + "' '" + expected + "' > '" + report +
                           "' 2>&1");
  return rc == 0 ? std::string{} : read_file(report) + " (exit " + std::to_string(rc) + ")";
}

bool any_with_extension(const std::string& root, const std::string& ext) {
  for (const auto& f : list_files(root))
    if (fs::path(f).extension() == ext) return true;
  return false;
}

class PkSegyRun : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(tmp.path().empty()); }
  std::string out_dir(const std::string& name) {
    const std::string d = tmp.dir() + name;
    fs::create_directories(d);
    return d;
  }
  int pk_segy(const std::string& args) { return run_program(program_path("pk_segy"), args, tmp.path()).code; }
  ScratchDir tmp;
};

// Three channels of one event, each in another sample format and of another length; the
// second all positive and the third all negative, so that neither's range reaches 0.
pktest::Recording three_formats() {
  pktest::Recording rec;
  rec.unit = 0x9A21;
  rec.event = 12;
  rec.start = "2003123140522057";
  rec.rate = 100.0;
  rec.bit_weights = {"1.589 uV", "2.000 mV", "0.596 nV"};
  rec.channels = {{.channel = 0, .format = pktest::kFmtC0, .samples = wave(1200, 90000, 0)},
                  {.channel = 1, .format = pktest::kFmt32, .samples = shifted(wave(700, 2000000, 1), 3000000)},
                  {.channel = 2, .format = pktest::kFmt16, .samples = shifted(wave(1500, 15000, 2), -16000)}};
  return rec;
}

TEST_F(PkSegyRun, TraceFilesAndShotGatherReadBackWithSegyio) {
  if (!segyio_available()) GTEST_SKIP() << "python3-segyio is not installed for /usr/bin/python3";
  const auto rec = three_formats();
  const std::string in = tmp.dir() + "line.pk";
  pktest::write_packets(in, rec.packets());

  const std::string traces_dir = out_dir("traces");
  ASSERT_EQ(pk_segy("-VN -HY '" + in + "' '" + traces_dir + "'"), 0);
  for (const auto& ch : rec.channels) {
    const std::string name = "2003_123_14_05_22_09A21_1_" + std::to_string(ch.channel + 1) + ".SGY";
    const std::string expected = tmp.dir() + name + ".expected";
    write_expected(expected, ch.samples.size(), 10000, {ch.samples});
    EXPECT_EQ(check_with_segyio(traces_dir + "/" + name, expected, tmp.dir() + "report.txt"), "") << name;
  }

  const std::string gather_dir = out_dir("gather");
  ASSERT_EQ(pk_segy("-VN -HY -GS '" + in + "' '" + gather_dir + "'"), 0);
  EXPECT_EQ(list_files(gather_dir), (std::vector<std::string>{"2003_123_14_05_22_09A21_1.EGY"}));
  const std::size_t n = rec.channels[0].samples.size();
  const std::string expected = tmp.dir() + "gather.expected";
  write_expected(expected, n, 10000,
                 {rec.channels[0].samples, fitted(rec.channels[1].samples, n), fitted(rec.channels[2].samples, n)});
  EXPECT_EQ(check_with_segyio(gather_dir + "/2003_123_14_05_22_09A21_1.EGY", expected, tmp.dir() + "report.txt"),
            "");
}

TEST_F(PkSegyRun, HeadersCarryTheEventsTimeScaleUnitAndShotPoint) {
  const auto rec = three_formats();
  const std::string in = tmp.dir() + "line.pk";
  pktest::write_packets(in, rec.packets());
  const std::string out = out_dir("out");
  {
    std::ofstream edf(out + "/PK_EDF.EDF");
    edf << "301 9A21 0 2003:123:14:00:00\r\n302 9A21 0 2003:123:15:00:00\r\n";
  }
  ASSERT_EQ(pk_segy("-VN -P2 '" + in + "' '" + out + "'"), 0);
  EXPECT_FALSE(any_with_extension(out, ".STD"));

  const auto f = read_file(out + "/2003_123/14/2003_123_14_05_22_09A21_1_2.RSY");
  ASSERT_EQ(f.size(), 240u + 700 * 4);
  EXPECT_EQ(u32be(f, 0), 1u);
  EXPECT_EQ(u32be(f, 8), 12u);
  EXPECT_EQ(u16be(f, 156), 2003u);
  EXPECT_EQ(u16be(f, 158), 123u);
  EXPECT_EQ(u16be(f, 160), 14u);
  EXPECT_EQ(u16be(f, 162), 5u);
  EXPECT_EQ(u16be(f, 164), 22u);
  EXPECT_EQ(u16be(f, 206), 57u);
  EXPECT_EQ(u16be(f, 218), 57u);
  EXPECT_EQ(u16be(f, 172), 301u);
  EXPECT_EQ(u32be(f, 220), std::bit_cast<uint32_t>(2.0e-3f));
  EXPECT_EQ(u16be(f, 224), 0x9A21u);
  const auto& samples = rec.channels[1].samples;
  EXPECT_EQ(i32be(f, 232), *std::max_element(samples.begin(), samples.end()));
  EXPECT_EQ(i32be(f, 236), *std::min_element(samples.begin(), samples.end()));
  EXPECT_EQ(i32be(f, 240), samples[0]);
  const auto negative = read_file(out + "/2003_123/14/2003_123_14_05_22_09A21_1_3.RSY");
  const auto& below = rec.channels[2].samples;
  ASSERT_EQ(negative.size(), 240u + below.size() * 4);
  EXPECT_EQ(i32be(negative, 232), *std::max_element(below.begin(), below.end()));
}

TEST_F(PkSegyRun, ReceiverGathersKeepEachUnitApart) {
  std::vector<std::vector<pktest::Packet>> units;
  for (uint16_t unit : {uint16_t{0x00A1}, uint16_t{0x00B2}}) {
    std::vector<pktest::Packet> packets;
    for (unsigned event = 1; event <= 2; ++event) {
      pktest::Recording rec;
      rec.unit = unit;
      rec.event = event;
      rec.start = event == 1 ? "2003123140000000" : "2003123150000000";
      rec.channels = {{.channel = 0, .format = pktest::kFmt32, .samples = wave(300, 1000 * unit, event)}};
      const auto p = rec.packets();
      packets.insert(packets.end(), p.begin(), p.end());
    }
    units.push_back(packets);
  }
  const std::string in = tmp.dir() + "two_units.pk";
  pktest::write_packets(in, pktest::interleave(units));
  const std::string out = out_dir("out");
  ASSERT_EQ(pk_segy("-VN -GR '" + in + "' '" + out + "'"), 0);

  EXPECT_EQ(list_files(out), (std::vector<std::string>{"2003_123_14_00_00_000A1.RGY", "2003_123_14_00_00_000B2.RGY"}));
  for (const auto& [name, unit] : {std::pair{"2003_123_14_00_00_000A1.RGY", 0xA1u}, {"2003_123_14_00_00_000B2.RGY", 0xB2u}}) {
    const auto traces = read_segy(read_file(out + "/" + name), true, false).traces;
    ASSERT_EQ(traces.size(), 2u) << name;
    for (std::size_t i = 0; i < traces.size(); ++i) {
      EXPECT_EQ(u16be(traces[i].header, 224), unit) << name;
      EXPECT_EQ(u32be(traces[i].header, 8), i + 1) << name;
      EXPECT_EQ(traces[i].samples, wave(300, static_cast<int32_t>(1000 * unit), static_cast<int>(i + 1))) << name;
    }
  }
}

TEST_F(PkSegyRun, RateBelowOnePerSecondGivesATenSecondInterval) {
  pktest::Recording rec;
  rec.rate = 0.1;
  rec.rate_text = "0.1 ";
  rec.channels = {{.channel = 0, .format = pktest::kFmt32, .samples = wave(20, 500, 0)}};
  const std::string in = tmp.dir() + "slow.pk";
  pktest::write_packets(in, rec.packets());
  const std::string out = out_dir("out");
  ASSERT_EQ(pk_segy("-VN -HY '" + in + "' '" + out + "'"), 0);
  const auto f = read_file(out + "/2003_001_00_00_00_01234_1_1.SGY");
  ASSERT_EQ(f.size(), 3840u + 20 * 4);
  EXPECT_EQ(u32be(f, 3260), 10000000u);
  EXPECT_EQ(u32be(f, 3600 + 200), 10000000u);
  EXPECT_EQ(u16be(f, 3216), 0u);
  EXPECT_EQ(u16be(f, 3600 + 116), 0u);

  if (!segyio_available()) GTEST_SKIP() << "python3-segyio is not installed for /usr/bin/python3";
  const std::string expected = tmp.dir() + "slow.expected";
  write_expected(expected, 20, 0, {rec.channels[0].samples});
  EXPECT_EQ(check_with_segyio(out + "/2003_001_00_00_00_01234_1_1.SGY", expected, tmp.dir() + "report.txt"), "");
}

// An event whose EH packet lay in an earlier file estimates its rate from its own packet
// times, though another event of the run had an EH packet.
TEST_F(PkSegyRun, EventBegunByDataPacketsEstimatesItsOwnRate) {
  pktest::Recording with_eh{.event = 1, .start = "2003123140000000", .rate = 100.0};
  with_eh.channels = {{.channel = 0, .format = pktest::kFmt16, .samples = wave(300, 500, 0)}};
  pktest::Recording without_eh{.event = 2, .start = "2003123150000000", .rate = 50.0, .eh = false};
  without_eh.channels = {{.channel = 0, .format = pktest::kFmt16, .samples = wave(600, 500, 1), .per_packet = 100}};
  auto packets = with_eh.packets();
  for (const auto& p : without_eh.packets()) packets.push_back(p);
  const std::string in = tmp.dir() + "rates.pk";
  pktest::write_packets(in, packets);
  const std::string out = out_dir("out");
  ASSERT_EQ(pk_segy("-VN '" + in + "' '" + out + "'"), 0);
  EXPECT_EQ(u32be(read_file(out + "/2003_123_14_00_00_01234_1_1.RSY"), 200), 10000u);
  EXPECT_EQ(u32be(read_file(out + "/2003_123_15_00_00_01234_1_1.RSY"), 200), 20000u);
}

// Each unit's traces are scaled by its own bit weights: here unit A's event ends with the
// input, after unit B's trailer with other weights.
TEST_F(PkSegyRun, BitWeightsOfEachUnitScaleItsOwnTraces) {
  pktest::Recording a{.unit = 0x000A, .et = false, .bit_weights = {"1.589 uV"}};
  pktest::Recording b{.unit = 0x000B, .bit_weights = {"2.000 mV"}};
  a.channels = {{.channel = 0, .format = pktest::kFmt32, .samples = wave(400, 5000, 0)}};
  b.channels = {{.channel = 0, .format = pktest::kFmt32, .samples = wave(400, 5000, 1)}};
  const std::string in = tmp.dir() + "units.pk";
  pktest::write_packets(in, pktest::interleave({a.packets(), b.packets()}));
  const std::string out = out_dir("out");
  ASSERT_EQ(pk_segy("-VN '" + in + "' '" + out + "'"), 0);
  EXPECT_EQ(u32be(read_file(out + "/2003_001_00_00_00_0000A_1_1.RSY"), 220), std::bit_cast<uint32_t>(1.589e-6f));
  EXPECT_EQ(u32be(read_file(out + "/2003_001_00_00_00_0000B_1_1.RSY"), 220), std::bit_cast<uint32_t>(2.0e-3f));
}

// segyio reads every trace with the interval the 16-bit fields can carry (0 where they cannot),
// never a wrapped or negative one.
TEST_F(PkSegyRun, EveryFieldRecordingConvertsAndOpensInSegyio) {
  const std::string field = PK_FIELD_DIR;
  if (!fs::is_directory(field)) GTEST_SKIP() << "no field recordings at " << field;
  const bool segyio = segyio_available();
  std::size_t converted = 0;
  for (const auto& entry : fs::directory_iterator(field)) {
    if (entry.path().extension() != ".pk") continue;
    const std::string stem = entry.path().stem().string();
    const std::string out = out_dir(stem);
    EXPECT_EQ(pk_segy("-VN -HY '" + entry.path().string() + "' '" + out + "'"), 0)
        << stem;
    EXPECT_FALSE(any_with_extension(out, ".STD")) << stem;
    std::size_t traces = 0, with_samples = 0;
    for (const auto& name : list_files(out)) {
      if (fs::path(name).extension() != ".SGY") continue;
      const auto f = read_file(out + "/" + name);
      ASSERT_GE(f.size(), 3840u) << name;
      const uint32_t count = u32be(f, 3600 + 228);
      EXPECT_EQ(f.size(), 3840u + 4ull * count) << name;
      EXPECT_EQ(u32be(f, 3268), count) << name;
      const uint32_t interval = u32be(f, 3600 + 200);
      EXPECT_GT(interval, 0u) << name;
      ++traces;
      if (count == 0) continue;
      ++with_samples;
      if (!segyio) continue;
      const std::string expected = out + "/" + name + ".expected";
      write_expected(expected, count, segyio_interval(interval), {read_segy(f, true, false).traces[0].samples});
      EXPECT_EQ(check_with_segyio(out + "/" + name, expected, tmp.dir() + "report.txt"), "") << name;
    }
    EXPECT_GT(traces, 0u) << stem;
    EXPECT_EQ(with_samples, traces) << stem;
    ++converted;
  }
  if (converted == 0) GTEST_SKIP() << "no packet recordings in " << field;
  if (!segyio) GTEST_SKIP() << "converted; python3-segyio is not installed for /usr/bin/python3";
}

}  // namespace
