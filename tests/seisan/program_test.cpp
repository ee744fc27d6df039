// pk_seis as a program: packet files in, SEISAN waveform files out.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/output_readers.h"
#include "tests/support/pkenc.h"
#include "tests/support/testkit.h"

namespace fs = std::filesystem;
using testkit::cols;

namespace {

// `env` sets the program's environment, e.g. where its settings file is.
testkit::RunResult run_in(const fs::path& cwd, const std::string& env, const std::string& program,
                          const std::string& args) {
  return testkit::run_program(testkit::program_path(program), args, cwd, env);
}

bool program_built(const std::string& name) { return fs::exists(testkit::program_path(name)); }

std::vector<int32_t> wave(std::size_t n, int32_t amp, int32_t phase) {
  std::vector<int32_t> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    const auto k = static_cast<int32_t>(i);
    v[i] = ((k * 37 + phase) % 200 - 100) * amp + (k % 7) * 3;
  }
  return v;
}

std::vector<fs::path> sei_files(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const auto& name : testkit::list_files(dir)) {
    if (fs::path(name).extension() == ".SEI") out.push_back(dir / name);
  }
  return out;
}

bool has_temporaries(const fs::path& dir) {
  for (const auto& name : testkit::list_files(dir)) {
    const auto ext = fs::path(name).extension();
    if (ext == ".STD" || ext == ".STH" || ext == ".SFH") return true;
  }
  return false;
}

}  // namespace

TEST(SeisProgram, ConvertsWithStationSettings) {
  if (!program_built("pk_seis")) GTEST_SKIP() << "pk_seis not built";
  testkit::ScratchDir dir;
  pktest::Recording rec{.unit = 0xA12F, .start = "2005283070005000", .rate = 200.0};
  rec.channels = {{.channel = 0, .format = pktest::kFmtC0, .samples = wave(1500, 900, 0)},
                  {.channel = 1, .format = pktest::kFmtC0, .samples = wave(1500, 40000, 11)},
                  {.channel = 2, .format = pktest::kFmtC0, .samples = wave(1500, 3, 97)}};
  pktest::write_packets((dir.path() / "in.pk").string(), rec.packets());
  fs::create_directories(dir.path() / "out");
  const fs::path ini = dir.path() / "PKU.INI";
  testkit::write_file(ini,
                       "[A12F]\r\nStation=KELDA\r\nNetwork=North Ridge\r\nCh1Axis=U\r\n"
                       "[A12F]\r\nCh2Axis=V\r\n[A12F]\r\nCh3Axis=W\r\n");

  const testkit::RunResult r = run_in(dir.path(), "PKU='" + ini.string() + "'", "pk_seis", "-VN in.pk out");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(r.out.find("Unable to open the PKU.INI"), std::string::npos);
  const auto files = sei_files(dir.path() / "out");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].filename(), "2005_283_07_00_05_A12F_1.SEI");
  EXPECT_FALSE(has_temporaries(dir.path() / "out"));

  const auto f = testkit::read_sei(testkit::read_file(files[0]));
  EXPECT_EQ(cols(f.lines[0], 1, 59), " North Ridge                    3105 283 10 10  7  0  5.000");
  EXPECT_EQ(f.lines[2], " KELD11U     0.00     7.50 KELD12V     0.00     7.50 KELD13W     0.00     7.50  ");
  ASSERT_EQ(f.channels.size(), 3u);
  EXPECT_EQ(cols(f.channels[2].header, 1, 50), "KELD 13W 105 283 10 10 07 00 05.000  200.00   1500");
  for (std::size_t c = 0; c < 3; ++c) EXPECT_EQ(f.channels[c].samples, rec.channels[c].samples) << c;
}

TEST(SeisProgram, DefaultsWithoutSettingsAndOneFilePerEvent) {
  if (!program_built("pk_seis")) GTEST_SKIP() << "pk_seis not built";
  testkit::ScratchDir dir;
  pktest::Recording first{.unit = 0x00B1, .event = 1, .start = "1999200120000000", .rate = 100.0};
  first.channels = {{.channel = 0, .format = pktest::kFmt16, .samples = wave(700, 100, 3)},
                    {.channel = 1, .format = pktest::kFmt16, .samples = wave(700, 50, 9)}};
  pktest::Recording second{.unit = 0x00B1, .event = 2, .start = "1999200130000000", .rate = 100.0};
  second.channels = {{.channel = 0, .format = pktest::kFmt32, .samples = wave(300, 77777, 5)}};
  auto packets = first.packets();
  for (const auto& p : second.packets()) packets.push_back(p);
  pktest::write_packets((dir.path() / "in.pk").string(), packets);
  fs::create_directories(dir.path() / "out");

  const testkit::RunResult r = run_in(dir.path(), "PKU='" + (dir.path() / "none.ini").string() + "'", "pk_seis", "-VN in.pk out");
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("\n Unable to open the PKU.INI file; using the default value on the SEISAN header"),
            std::string::npos);
  const auto files = sei_files(dir.path() / "out");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].filename(), "1999_200_12_00_00_00B1_1.SEI");
  EXPECT_EQ(files[1].filename(), "1999_200_13_00_00_00B1_1.SEI");
  EXPECT_FALSE(has_temporaries(dir.path() / "out"));

  const auto a = testkit::read_sei(testkit::read_file(files[0]));
  EXPECT_EQ(cols(a.lines[0], 1, 40), " PELKAN NETWORK                 2 99 200");
  EXPECT_EQ(cols(a.lines[2], 1, 52), " 00B111Z     0.00     7.00 00B112N     0.00     7.00");
  ASSERT_EQ(a.channels.size(), 2u);
  EXPECT_EQ(a.channels[0].samples, first.channels[0].samples);
  EXPECT_EQ(a.channels[1].samples, first.channels[1].samples);
  const auto b = testkit::read_sei(testkit::read_file(files[1]));
  ASSERT_EQ(b.channels.size(), 1u);
  EXPECT_EQ(b.channels[0].samples, second.channels[0].samples);
}

// The same recordings through pk_segy must give the same samples for every channel, in
// either framing of the SEISAN file.
TEST(SeisProgram, FieldRecordingsAgreeWithSegy) {
  const fs::path field(PK_FIELD_DIR);
  if (!fs::is_directory(field)) GTEST_SKIP() << "no field recordings";
  if (!program_built("pk_seis") || !program_built("pk_segy")) GTEST_SKIP() << "pk_seis or pk_segy not built";
  const struct {
    const char* dir;
    const char* switches;
    testkit::SeiFile (*read)(std::string_view);
  } framings[] = {{"seis", "-VN ", testkit::read_sei}, {"seis4", "-VN -W4 ", testkit::read_sei4}};
  std::size_t compared = 0, samples = 0;
  for (const auto& entry : fs::directory_iterator(field)) {
    if (entry.path().extension() != ".pk") continue;
    SCOPED_TRACE(entry.path().filename().string());
    testkit::ScratchDir dir;
    fs::create_directories(dir.path() / "segy");
    const std::string in = "'" + entry.path().string() + "'";
    const std::string no_ini = "PKU='" + (dir.path() / "none").string() + "'";
    ASSERT_EQ(run_in(dir.path(), no_ini, "pk_segy", "-VN " + in + " segy").code, 0);

    // SEG-Y traces by "YYYY_DDD_HH_MM_SS" + stream and channel digits of their names
    std::map<std::string, std::vector<int32_t>> traces;
    for (const auto& name : testkit::list_files(dir.path() / "segy")) {
      const std::string stem = fs::path(name).stem().string();
      const auto chan_at = stem.rfind('_');
      const auto strm_at = stem.rfind('_', chan_at - 1);
      if (chan_at == std::string::npos || strm_at == std::string::npos) continue;
      traces[stem.substr(0, 17) + stem.substr(strm_at)] = testkit::trace_file_samples(dir.path() / "segy" / name);
    }
    for (const auto& framing : framings) {
      SCOPED_TRACE(framing.switches);
      const fs::path seis = dir.path() / framing.dir;
      fs::create_directories(seis);
      ASSERT_EQ(run_in(dir.path(), no_ini, "pk_seis", framing.switches + in + " " + framing.dir).code, 0);
      std::size_t channels = 0;
      for (const auto& sei : sei_files(seis)) {
        const auto f = framing.read(testkit::read_file(sei));
        const std::string time = sei.filename().string().substr(0, 17);
        for (const auto& ch : f.channels) {
          const std::string key = time + "_" + ch.header.substr(5, 1) + "_" + ch.header.substr(6, 1);
          ASSERT_TRUE(traces.count(key)) << key;
          EXPECT_EQ(ch.samples, traces[key]) << key;
          samples += ch.samples.size();
          ++channels;
        }
      }
      EXPECT_EQ(channels, traces.size());
      EXPECT_FALSE(has_temporaries(seis));
      compared += channels;
    }
  }
  if (compared == 0) GTEST_SKIP() << "no packet recordings found";
  EXPECT_GT(samples, 0u);
}

// Total time: from the first sample to the last one less an interval, whether the event
// ends with its trailer or only with the end of the input.
TEST(SeisProgram, TotalTimeWithAndWithoutTrailer) {
  if (!program_built("pk_seis")) GTEST_SKIP() << "pk_seis not built";
  for (const bool trailer : {true, false}) {
    SCOPED_TRACE(trailer ? "with trailer" : "without trailer");
    testkit::ScratchDir dir;
    pktest::Recording rec{.unit = 0x0C07, .start = "2005283070005000", .rate = 200.0};
    rec.et = trailer;
    rec.channels = {{.channel = 0, .format = pktest::kFmt32, .samples = wave(1500, 900, 0)},
                    {.channel = 1, .format = pktest::kFmt16, .samples = wave(1000, 40, 11)}};
    pktest::write_packets((dir.path() / "in.pk").string(), rec.packets());
    const auto r = run_in(dir.path(), "PKU='" + (dir.path() / "none").string() + "'", "pk_seis", "-VN in.pk");
    ASSERT_EQ(r.code, 0) << r.out;
    const auto files = sei_files(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(cols(testkit::read_sei(testkit::read_file(files[0])).lines[0], 61, 69), "    7.490");
  }
}

// An event whose channels start on either side of the New Year after a leap year: day 366
// of 2024 comes before day 1 of 2025, so the event starts with its first channel.
TEST(SeisProgram, EventAcrossTheEndOfALeapYear) {
  if (!program_built("pk_seis")) GTEST_SKIP() << "pk_seis not built";
  testkit::ScratchDir dir;
  pktest::Recording old_year{.start = "2024366235959500", .rate = 100.0, .et = false};
  old_year.channels = {{.channel = 0, .format = pktest::kFmt16, .samples = wave(300, 10, 1)}};
  pktest::Recording new_year{.start = "2025001000000000", .rate = 100.0, .eh = false};
  new_year.channels = {{.channel = 1, .format = pktest::kFmt16, .samples = wave(200, 10, 2)}};
  auto packets = old_year.packets();
  for (const auto& p : new_year.packets()) packets.push_back(p);
  for (std::size_t i = 0; i < packets.size(); ++i) pktest::put_bcd(packets[i], 14, static_cast<unsigned>(i), 2);
  pktest::write_packets((dir.path() / "in.pk").string(), packets);
  fs::create_directories(dir.path() / "out");

  const testkit::RunResult r = run_in(dir.path(), "PKU=none", "pk_seis", "-VN in.pk out");
  ASSERT_EQ(r.code, 0) << r.out;
  const auto files = sei_files(dir.path() / "out");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].filename(), "2024_366_23_59_59_1234_1.SEI");
  const auto f = testkit::read_sei(testkit::read_file(files[0]));
  EXPECT_EQ(cols(f.lines[2], 1, 52), " 123411Z     0.00     3.00 123412N     0.50     2.00");
}
