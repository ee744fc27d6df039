// SEED codes from the settings text, records packed exactly whatever the differences, and
// a new record wherever a packet's time breaks the count of samples.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <limits>
#include <set>

#include "mseed/mseed_writer.h"
#include "mseed/record_packer.h"
#include "tests/support/mseed_files.h"
#include "mseed/seed_codes.h"
#include "seisan/seis_settings.h"
#include "tests/support/testkit.h"

namespace fs = std::filesystem;
using pk::mseed::band_code;
using pk::mseed::parse_seed_settings;
using pk::mseed::seed_id;

TEST(SeedCodes, BandLetterFollowsTheRate) {
  const struct {
    double rate;
    char band;
  } cases[] = {{4000, 'F'}, {1000, 'F'}, {999.9, 'C'}, {250, 'C'}, {249, 'H'}, {80, 'H'}, {79.9, 'B'}, {10, 'B'},
               {9.9, 'M'},  {1.5, 'M'},  {1, 'L'},     {0.5, 'L'}, {0.1, 'V'}, {0.05, 'V'}, {0.01, 'U'}};
  for (const auto& c : cases) EXPECT_EQ(band_code(c.rate), c.band) << c.rate;
}

// Each code from the unit's SEED section, else pk_seis's keys, else the defaults: network
// XX, the unit id, the band of the rate, the channel number; a later stream's location
// tells its ids from the first's. Lower case is taken upper.
TEST(SeedCodes, IdsFromTheSettingsOrTheDefaults) {
  const std::string ini =
      "[SEED]\nNetwork=ZZ\n"
      "[A12F]\nStation=KELDAR\nNetwork=North Ridge\nCh1Axis=U\n[A12F]\nCh2Axis=n\n"
      "[A12F SEED]\r\nNetwork = NR\r\nStation=KEL01\r\nLocation=10\r\nStream2Location=20\r\n"
      "Stream1Channel3=HNZ\r\nStream12Channel10=EHE\r\n"
      "[1234 SEED]\nStation=OTHER\n";
  const struct {
    std::string settings;
    uint32_t unit, strm, chan;
    double rate;
    const char* id;
  } cases[] = {{ini, 0xA12F, 0, 0, 200, "NR.KEL01.10.HHU"},
               {ini, 0xA12F, 0, 1, 200, "NR.KEL01.10.HHN"},
               {ini, 0xA12F, 0, 2, 200, "NR.KEL01.10.HNZ"},
               {ini, 0xA12F, 1, 0, 50, "NR.KEL01.20.BHU"},
               {ini, 0xA12F, 1, 3, 50, "NR.KEL01.20.BH4"},
               {ini, 0xA12F, 11, 9, 1000, "NR.KEL01.10.EHE"},
               {ini, 0x0B01, 0, 0, 100, "ZZ.0B01..HH1"},
               {"", 0x9A21, 0, 2, 100, "XX.9A21..HH3"},
               {"", 0x9A21, 1, 2, 100, "XX.9A21.02.HH3"},
               {"[9A21]\nStation=LONGNAME\nNetwork=N\nCh1Axis=z\n", 0x9A21, 0, 0, 0.5, "XX.LONGN..LHZ"},
               {"[A12F SEED]\nStation=kel01\nLocation=0a\nStream2Channel1=hhz\n", 0xA12F, 1, 0, 100, "XX.KEL01.0A.HHZ"},
               {"[A12F]\nCh1Axis=*\n", 0xA12F, 0, 0, 100, "XX.A12F..HH1"}};  // no channel code holds '*'
  for (const auto& c : cases) {
    const auto id = seed_id(parse_seed_settings(c.settings, c.unit), c.unit, c.strm, c.chan, c.rate);
    EXPECT_EQ(id.network + "." + id.station + "." + id.location + "." + id.channel, c.id) << c.settings;
  }
  // pk_seis still reads its own section as before.
  EXPECT_EQ(pk::seis::parse_pku_ini(ini, 0xA12F).station, "KELD");
}

// A code no record can hold is named, never cut or passed on.
TEST(SeedCodes, CodesNoRecordCanHoldAreNamed) {
  const struct {
    const char* section;
    const char* bad;  // "": every code fits
  } cases[] = {{"[A12F SEED]\nStation=kel01\nLocation=0a\nStream2Channel1=hhz\n", ""},
               {"[A12F]\nStation=LONGNAME\n", ""},
               {"[A12F SEED]\nStation=../..\n", "Station=../.."},
               {"[A12F SEED]\nStation=KELDAR\n", "Station=KELDAR"},
               {"[A12F]\nStation=AB-1\n", "Station=AB-1"},
               {"[SEED]\nNetwork=ABC\n", "Network=ABC"},
               {"[A12F SEED]\nLocation=A B\n", "Location=A B"},
               {"[A12F SEED]\nStream2Location=100\n", "Stream2Location=100"},
               {"[A12F SEED]\nStream1Channel2=HZ\n", "Stream1Channel2=HZ"},
               {"[A12F SEED]\nStream1Channel2=HH*\n", "Stream1Channel2=HH*"}};
  for (const auto& c : cases)
    EXPECT_EQ(pk::mseed::unusable_code(parse_seed_settings(c.section, 0xA12F)).value_or(""), c.bad) << c.section;
}

namespace {

std::vector<mseedtest::Record> pack(const std::vector<std::vector<int32_t>>& runs, double rate) {
  testkit::ScratchDir dir;
  std::string bytes;
  {
    pk::mseed::RecordPacker packer({"XX", "TEST", "", "HHZ"}, rate, [&](std::string_view r) { bytes += r; });
    for (std::size_t i = 0; i < runs.size(); ++i) {
      packer.start_run(1'000'000'000'000 + static_cast<int64_t>(i) * 7'000'000);
      packer.add(runs[i]);
    }
    packer.finish();
  }
  testkit::write_file(dir.path() / "r.mseed", bytes);
  return mseedtest::read_records((dir.path() / "r.mseed").string());
}

}  // namespace

// Differences beyond Steim-2's 30 bits (or beyond 32) go into a record of Steim-1 (or of
// 32-bit integers); every sample comes back, each run from its own start time.
TEST(RecordPacker, EverySampleRoundTripsWhateverTheDifferences) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max(), kMin = std::numeric_limits<int32_t>::min();
  const struct {
    std::vector<int32_t> jumps;
    int fallback;  // encoding the large differences need
  } cases[] = {{{536870895, 0, -536870895}, 0}, {{-536870912, 0, 1 << 30}, DE_STEIM1}, {{kMax, kMin, kMax}, DE_INT32}};
  for (const auto& c : cases) {
    std::vector<int32_t> run;
    for (int i = 0; i < 50000; ++i) run.push_back(i % 9000 == 4500 ? c.jumps[static_cast<std::size_t>(i / 9000) % 3] : i % 17);
    const std::vector<int32_t> second = {5, 6, -3};
    const auto records = pack({run, second}, 250);
    std::vector<int32_t> all;
    std::set<int> encodings;
    for (const auto& r : records) {
      EXPECT_EQ(r.reclen, 4096);
      EXPECT_TRUE(r.frames_whole);
      EXPECT_EQ(r.quality, 'D');
      encodings.insert(r.encoding);
      all.insert(all.end(), r.samples.begin(), r.samples.end());
    }
    std::vector<int32_t> want = run;
    want.insert(want.end(), second.begin(), second.end());
    EXPECT_EQ(all, want);
    EXPECT_TRUE(encodings.count(DE_STEIM2));
    if (c.fallback) EXPECT_TRUE(encodings.count(c.fallback)) << c.fallback;
    else EXPECT_EQ(encodings.size(), 1u);
    ASSERT_GE(records.size(), 2u);
    // The second run starts a record at its own time.
    EXPECT_EQ(records.back().samples, second);
    EXPECT_EQ(records.back().start_us, 1'000'007'000'000);
    EXPECT_EQ(records[1].start_us, 1'000'000'000'000 + static_cast<int64_t>(records[0].samples.size()) * 4000);
  }
}

// A sink that fails (a write, memory running out) ends the packing with its own
// exception once libmseed has returned, and gets no record after the one it refused.
TEST(RecordPacker, ASinkThatThrowsEndsThePackingWithItsException) {
  struct SinkFailed {};
  int records = 0;
  pk::mseed::RecordPacker packer({"XX", "TEST", "", "HHZ"}, 100, [&](std::string_view) {
    ++records;
    throw SinkFailed{};
  });
  std::vector<int32_t> noise(40000);  // differences of up to 2^20: some 40 records
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<int32_t>((i * 2654435761u) % (1u << 20));
  packer.start_run(0);
  EXPECT_THROW(packer.add(noise), SinkFailed);
  EXPECT_EQ(records, 1);
}

// A time mark starts a record at the packet's own time; samples before it keep theirs.
TEST(MseedWriter, TimeMarkStartsARecordAtThePacketTime) {
  testkit::ScratchDir dir;
  pk::RunSetup run;
  pk::Outputs out("pk_mseed");
  out.Dir = dir.path().string() + "/";
  pk::take_run_start(out);
  pk::mseed::MseedWriter writer;
  pk::EventNode evt;
  evt.Unit_num = 0x9A21;
  evt.Samp_rate = 100;
  evt.First_smp_time = pk::PacketTime("2003123140522000");
  pk::ChannelNode chan;
  chan.Evt_pointer = &evt;
  chan.First_smp_time = evt.First_smp_time;
  chan.Filename = writer.create_channel_data(run, out, out.Dir, "c");
  std::vector<int32_t> samples(3000);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int32_t>(i * 3) - 4000;
  testkit::write_file(chan.Filename, testkit::le_bytes(samples));
  chan.stored = 3000;
  chan.time_marks = {{1000, pk::PacketTime("2003123140533250"), 1.25}, {2000, pk::PacketTime("2003123140532990"), -0.26}};
  chan.Prev_file = chan.Next_file = &chan;
  evt.First_chan = &chan;
  writer.finish_event(run, out, evt);

  EXPECT_EQ(testkit::list_files(dir.path()), std::vector<std::string>{"2003_123_14_05_22_9A21_1.mseed"});
  const auto records = mseedtest::read_records((dir.path() / "2003_123_14_05_22_9A21_1.mseed").string());
  ASSERT_EQ(records.size(), 3u);
  const int64_t t0 = records[0].start_us;
  EXPECT_EQ(records[1].start_us - t0, 11'250'000);
  EXPECT_EQ(records[2].start_us - t0, 10'990'000);
  std::vector<int32_t> all;
  for (const auto& r : records) all.insert(all.end(), r.samples.begin(), r.samples.end());
  EXPECT_EQ(all, samples);
  EXPECT_EQ(records[2].channel, "HH1");
}
