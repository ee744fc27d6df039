// Runs that share one output directory: at the same time, and one after the other.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/e2e/deployment.h"
#include "tests/e2e/e2e_run.h"
#include "tests/support/hbk_encoder.h"
#include "tests/e2e/outputs.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testkit::program_path;
using testkit::run_program;
using testkit::ScratchDir;

struct Job {
  std::string program;
  std::string switches;
  bool equal_lengths = false;
};

// pk_segy and pk_seis side by side, the same switches more than once: every input names
// the same units at the same times, so every described name is wanted by several runs -
// the channel data files of both programs included.
const std::vector<Job> kJobs = {
    {"pk_segy", ""},    {"pk_segy", ""},     {"pk_segy", "-GR"}, {"pk_segy", "-GR"},
    {"pk_segy", "-GS", true}, {"pk_segy", "-GS", true}, {"pk_seis", ""},    {"pk_seis", ""},
    {"pk_seis", ""},    {"pk_seis", ""},
};

TEST(ConcurrentRuns, EverySampleOfEveryInputFoundOnceInTheSharedDirectory) {
  for (unsigned round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ScratchDir dir;
    fs::create_directory(dir / "out");
    std::vector<Samples> expected;
    std::vector<Launch> launches;
    for (std::size_t i = 0; i < kJobs.size(); ++i) {
      const PacketDeployment d =
          make_packet_deployment({.seed = 100 * round + static_cast<unsigned>(i) + 1, .equal_lengths = kJobs[i].equal_lengths});
      const std::string input = "in" + std::to_string(i) + ".pk";
      expected.insert(expected.end(), d.channels.begin(), d.channels.end());
      const std::string args = kJobs[i].switches + " -VN " + input + " out";
      launches.push_back({program_path(kJobs[i].program), args, input, packet_bytes(d.packets)});
    }
    const auto results = run_together(launches, dir.path().string());
    for (std::size_t i = 0; i < results.size(); ++i)
      EXPECT_EQ(results[i].code, 0) << launches[i].args << "\n" << results[i].out;

    const Collected c = collect_packet_outputs(dir / "out");
    EXPECT_TRUE(c.stray.empty()) << joined(c.stray);
    EXPECT_TRUE(c.broken.empty()) << joined(c.broken);
    EXPECT_EQ(compare_sequences(expected, c.sequences), "");
  }
}

TEST(ConcurrentRuns, Hbk2sacRunsIntoOneDirectory) {
  ScratchDir dir;
  std::vector<HbkDeployment> files;
  std::vector<Launch> launches;
  for (unsigned i = 0; i < 4; ++i) {
    files.push_back(make_hbk_deployment(50 + i, 200));
    const std::string name = "st" + std::to_string(i) + ".hbk";
    hbktest::write_blocks(dir / name, files.back().blocks);
    launches.push_back({program_path("hbk2sac"), name + " -o:out"});
  }
  for (const auto& r : run_together(launches, dir.path().string())) EXPECT_EQ(r.code, 0) << r.out;
  for (unsigned i = 0; i < files.size(); ++i) {
    bool broken = true;
    Samples got = read_sac(dir / ("out/st" + std::to_string(i) + ".sac"), true, broken);
    EXPECT_FALSE(broken) << i;
    Samples want = files[i].expected;
    for (auto& x : want) x = static_cast<int32_t>(static_cast<float>(x));
    EXPECT_EQ(got, want) << i;
  }
}

// Files of the described names made while a run goes - by another run, say - are neither
// overwritten nor appended to: the run takes lettered names. Files of its temporaries'
// described names are no concern of its own.
TEST(TakenNames, FilesMadeDuringTheRunStayAsTheyWere) {
  const Samples samples = {10, 20, 30, 40};
  pktest::Recording rec{.unit = 0x00C1, .start = "2004200101010000",
                        .channels = {{.format = pktest::kFmt32, .samples = samples}}};
  const std::string foreign = "not ours\n";
  struct Case {
    std::string program, switches, taken, created;
  };
  const std::vector<Case> cases = {
      {"pk_segy", "", "2004_200_10_10_10_000C1_1_1.RSY", "2004_20A_10_10_10_000C1_1_1.RSY"},
      {"pk_segy", "-HY", "2004_200_10_10_10_000C1_1_1.SGY", "2004_20A_10_10_10_000C1_1_1.SGY"},
      {"pk_segy", "-GR", "2004_200_10_10_10_000C1.RGY", "2004_20A_10_10_10_000C1.RGY"},
      {"pk_segy", "-GS", "2004_200_10_10_10_000C1_1.EGY", "2004_20A_10_10_10_000C1_1.EGY"},
      {"pk_seis", "", "2004_200_10_10_10_00C1_1.SEI", "2004_20A_10_10_10_00C1_1.SEI"},
      {"pk_seis", "", "2004_200_10_10_10_00C1_1.SFH", "2004_200_10_10_10_00C1_1.SEI"},
      {"pk_seis", "", "2004_200_10_10_10_00C1_1_1.STD", "2004_200_10_10_10_00C1_1.SEI"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.program + " " + k.switches + " " + k.taken);
    ScratchDir dir;
    fs::create_directory(dir / "out");
    const Launch run{program_path(k.program), k.switches + " in.pk out", "in.pk", packet_bytes(rec.packets())};
    const auto r =
        run_together({run}, dir.path().string(), [&] { testkit::write_file(dir / ("out/" + k.taken), foreign); });
    ASSERT_EQ(r[0].code, 0) << r[0].out;
    EXPECT_TRUE(testkit::read_file(dir / ("out/" + k.taken)) == foreign) << "changed by the run";
    EXPECT_TRUE(fs::exists(dir / ("out/" + k.created)));
    const Collected c = collect_packet_outputs(dir / "out", {k.taken});
    EXPECT_TRUE(c.stray.empty()) << joined(c.stray);
    EXPECT_EQ(c.sequences, std::vector<Samples>{samples});
  }
}

// Converting again into the same directory replaces what the first conversion wrote:
// the same files with the same bytes, the logs and QC files aside, which carry the time
// of the run and are appended to.
TEST(ReRuns, ConvertingAgainGivesTheSameFiles) {
  const PacketDeployment d = make_packet_deployment({.seed = 77, .equal_lengths = true});
  const std::vector<Job> jobs = {
      {"pk_segy", "-LY -QY"}, {"pk_segy", "-GS -P1"}, {"pk_segy", "-GR -HY -P3"}, {"pk_seis", "-LY -QY -P2"}};
  for (const Job& job : jobs) {
    SCOPED_TRACE(job.program + " " + job.switches);
    ScratchDir dir;
    pktest::write_packets(dir / "in.pk", d.packets);
    fs::create_directory(dir / "out");
    std::vector<std::pair<std::string, std::string>> first;
    for (int run = 0; run < 2; ++run) {
      const auto r = run_program(program_path(job.program), job.switches + " -VN in.pk out", dir.path().string());
      ASSERT_EQ(r.code, 0) << r.out;
      std::vector<std::pair<std::string, std::string>> files;
      for (const auto& f : testkit::list_files(dir / "out"))
        if (!f.ends_with(".RSH") && !f.ends_with(".QCC")) files.emplace_back(f, testkit::read_file(dir / ("out/" + f)));
      if (run == 0) first = files;
      else EXPECT_TRUE(files == first) << files.size() << " files after the second run, " << first.size() << " before";
    }
    EXPECT_EQ(compare_sequences(d.channels, collect_packet_outputs(dir / "out").sequences), "");
  }
}

}  // namespace
}  // namespace e2e
