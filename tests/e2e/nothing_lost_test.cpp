// Every sample the encoder wrote comes out exactly once, whatever the mix of units,
// events, channels, formats and gaps, and a finished run leaves no temporary behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "tests/e2e/deployment.h"
#include "tests/e2e/e2e_run.h"
#include "tests/support/hbk_encoder.h"
#include "tests/support/output_readers.h"
#include "tests/e2e/outputs.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testkit::program_path;
using testkit::run_program;
using testkit::ScratchDir;

constexpr uint32_t kNoLimit = std::numeric_limits<uint32_t>::max();

struct Variant {
  std::string switches;
  uint32_t trash = 0, limit = kNoLimit;
  bool equal_lengths = false;
};

// Converts a generated deployment with `program` and checks the output tree.
void expect_nothing_lost(const std::string& name, const Variant& v, unsigned seed) {
  SCOPED_TRACE(name + " " + v.switches);
  ScratchDir dir;
  const PacketDeployment d = make_packet_deployment({.seed = seed, .equal_lengths = v.equal_lengths});
  pktest::write_packets(dir / "deploy.pk", d.packets);
  fs::create_directory(dir / "out");
  const auto r = run_program(program_path(name), v.switches + " deploy.pk out", dir.path().string());
  ASSERT_EQ(r.code, 0) << r.out;

  const Collected c = collect_packet_outputs(dir / "out");
  EXPECT_TRUE(c.stray.empty()) << joined(c.stray);
  EXPECT_TRUE(c.broken.empty()) << joined(c.broken);
  EXPECT_EQ(compare_sequences(kept_by_switches(d.channels, v.trash, v.limit), c.sequences), "");
}

TEST(NothingLost, PkSegyTracesAndGathers) {
  expect_nothing_lost("pk_segy", {""}, 11);
  expect_nothing_lost("pk_segy", {"-HY -T7 -S900", 7, 900}, 12);
  expect_nothing_lost("pk_segy", {"-T0x20 -S0", 32, 0}, 13);  // -S0 stores nothing at all
  expect_nothing_lost("pk_segy", {"-GR -HY -P1"}, 14);
  // Shot gathers cut or pad a channel to the first of its event; equal channels keep all.
  expect_nothing_lost("pk_segy", {"-GS -P3", 0, kNoLimit, true}, 15);
}

TEST(NothingLost, PkSeisWaveformFiles) {
  expect_nothing_lost("pk_seis", {""}, 21);
  expect_nothing_lost("pk_seis", {"-T5 -S700 -P2", 5, 700}, 22);
}

// SAC stores reals: what a sample becomes on its way through the file.
Samples as_sac(Samples s) {
  for (auto& x : s) x = static_cast<int32_t>(static_cast<float>(x));
  return s;
}

TEST(NothingLost, Hbk2sacKeepsEveryUsableBlockOnceAndFillsGaps) {
  ScratchDir dir;
  std::vector<HbkDeployment> files;
  for (unsigned i = 0; i < 3; ++i) {
    files.push_back(make_hbk_deployment(31 + i, 120));
    // A trailing partial block is ignored.
    hbktest::write_blocks(dir / ("site" + std::to_string(i) + ".hbk"), files.back().blocks, std::string(100, 'x'));
  }
  const auto big = run_program(program_path("hbk2sac"), "'site*.hbk' -o:out", dir.path().string());
  ASSERT_EQ(big.code, 0) << big.out;
  const auto little = run_program(program_path("hbk2sac"), "site1.hbk -l -o:little", dir.path().string());
  ASSERT_EQ(little.code, 0) << little.out;

  for (unsigned i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    bool broken = true;
    const Samples got = read_sac(dir / ("out/site" + std::to_string(i) + ".sac"), true, broken);
    ASSERT_FALSE(broken);
    EXPECT_EQ(got, as_sac(files[i].expected));
  }
  bool broken = true;
  EXPECT_EQ(read_sac(dir / "little/site1.sac", false, broken), as_sac(files[1].expected));
  EXPECT_FALSE(broken);
  EXPECT_EQ(testkit::list_files(dir / "out"), (std::vector<std::string>{"site0.sac", "site1.sac", "site2.sac"}));
}

// Two events of one unit, stream and channel starting in the same second share every
// described output name; each must still get its own file.
TEST(NothingLost, EventsStartingInTheSameSecondKeepTheirOwnFiles) {
  const Samples first = {1, 2, 3, 4, 5, 6}, second = {-9, -8, -7};
  std::vector<pktest::Packet> packets;
  for (const auto& [event, start, samples] :
       {std::tuple{1u, "2003123140522000", first}, std::tuple{2u, "2003123140522750", second}}) {
    pktest::Recording rec{.event = event, .start = start, .channels = {{.format = pktest::kFmt32, .samples = samples}}};
    const auto p = rec.packets();
    packets.insert(packets.end(), p.begin(), p.end());
  }
  ScratchDir dir;
  pktest::write_packets(dir / "two.pk", packets);
  fs::create_directories(dir / "segy");
  fs::create_directories(dir / "seis");
  ASSERT_EQ(run_program(program_path("pk_segy"), "two.pk segy", dir.path().string()).code, 0);
  ASSERT_EQ(run_program(program_path("pk_seis"), "two.pk seis", dir.path().string()).code, 0);

  EXPECT_EQ(testkit::list_files(dir / "segy"),
            (std::vector<std::string>{"2003_123_14_05_22_01234_1_1.RSY", "2003_12A_14_05_22_01234_1_1.RSY"}));
  EXPECT_EQ(testkit::list_files(dir / "seis"),
            (std::vector<std::string>{"2003_123_14_05_22_1234_1.SEI", "2003_12A_14_05_22_1234_1.SEI"}));
  // The described name goes to the event that closes first.
  for (const char* out : {"segy", "seis"}) {
    SCOPED_TRACE(out);
    const bool segy = out[1] == 'e' && out[2] == 'g';
    const Collected a = collect_packet_outputs(dir / out, {segy ? "2003_12A_14_05_22_01234_1_1.RSY"
                                                                : "2003_12A_14_05_22_1234_1.SEI"});
    EXPECT_EQ(a.sequences, std::vector<Samples>{first});
    const Collected b = collect_packet_outputs(dir / out, {segy ? "2003_123_14_05_22_01234_1_1.RSY"
                                                                : "2003_123_14_05_22_1234_1.SEI"});
    EXPECT_EQ(b.sequences, std::vector<Samples>{second});
  }
}

// Sixty channels take their turns packet by packet: files must be closed and reopened
// along the way, and a run allowed fewer descriptors than channels still succeeds
// because the number of open channel files stays bounded.
TEST(NothingLost, WideEventWhoseFilesMustBeReopened) {
  ScratchDir dir;
  pktest::Recording rec;
  constexpr unsigned kChannels = 60;
  for (unsigned c = 0; c < kChannels; ++c) {
    Samples s(2000);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int32_t>(std::lround(2e4 * std::sin(0.01 * i + c)));
    rec.channels.push_back(pktest::ChannelData{.channel = c, .samples = s, .per_packet = 400});
  }
  pktest::write_packets(dir / "in.pk", rec.packets());
  const auto r = run_program(program_path("pk_segy"), "in.pk -VN", dir.path(), "ulimit -n 48 &&");
  ASSERT_EQ(r.code, 0) << r.out;
  for (unsigned c = 0; c < kChannels; ++c) {
    char name[64];
    std::snprintf(name, sizeof name, "2003_001_00_00_00_01234_1_%u.RSY", c + 1);
    EXPECT_EQ(testkit::trace_file_samples(dir / name), rec.channels[c].samples) << c;
  }
}

}  // namespace
}  // namespace e2e
