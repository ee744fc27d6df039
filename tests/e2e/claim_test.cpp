// Names taken by exclusive creation: which candidate a file gets, and that a run holds
// every name it works under.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "lists.h"
#include "run.h"
#include "testkit.h"
#include "segy_writer.h"
#include "seis_writer.h"
#include "unique_file.h"

namespace {

namespace fs = std::filesystem;
using testkit::ScratchDir;

TEST(ClaimUnique, DescribedNameFirstThenLetteredDaysThenGiveUp) {
  ScratchDir dir;
  const std::string d = dir.path().string() + "/";
  const std::string name = "2003_123_14_05_22_01234_1.EGY";
  EXPECT_EQ(pk::claim_unique(d, name).path, d + name);
  // Anything of that name counts as taken, a directory too.
  fs::create_directory(d + "2003_12A_14_05_22_01234_1.EGY");
  const pk::Claim third = pk::claim_unique(d, name);
  EXPECT_EQ(third.result, pk::ClaimResult::claimed);
  EXPECT_EQ(third.path, d + "2003_12B_14_05_22_01234_1.EGY");
  EXPECT_EQ(fs::file_size(third.path), 0u);

  for (int k = 3; k < pk::kNameCandidates; ++k) pk::claim_unique(d, name);
  EXPECT_EQ(testkit::list_files(d).size(), 24u);  // 25 names, one of them a directory
  EXPECT_TRUE(fs::exists(d + "2003_12X_14_05_22_01234_1.EGY"));
  EXPECT_EQ(pk::claim_unique(d, name).result, pk::ClaimResult::all_taken);
}

TEST(ClaimUnique, AnUncreatableNameFailsWithoutTryingOthers) {
  ScratchDir dir;
  const pk::Claim c = pk::claim_unique(dir.path().string() + "/missing/", "2003_123_x.SEI");
  EXPECT_EQ(c.result, pk::ClaimResult::failed);
  EXPECT_EQ(c.path, dir.path().string() + "/missing/2003_123_x.SEI");
}

// With -S0 the engine picks a channel data file name that is free and creates nothing.
// Another run may create a file of that name meanwhile; finishing the event must leave it
// alone rather than copy it into this run's output and delete it.
TEST(ChannelDataFiles, ARunWithoutSamplesLeavesAnotherRunsFileAlone) {
  for (const bool segy : {true, false}) {
    SCOPED_TRACE(segy ? "pk_segy" : "pk_seis");
    ScratchDir dir;
    pk::Run run;
    run.Dir = dir.path().string() + "/";
    run.Samp_cnt = 0;
    pk::Unit_list_str unit;
    pk::Evt_list_str evt;
    evt.Unit_pointer = &unit;
    evt.Unit_num = unit.Unit_num = 0x1234;
    evt.Samp_rate = 100.0f;
    evt.First_smp_time = evt.Latest_time = "2003123140522000";
    pk::File_list_str chan;
    chan.Evt_pointer = &evt;
    chan.Unit_num = evt.Unit_num;
    chan.First_smp_time = evt.First_smp_time;
    chan.Prev_file = chan.Next_file = &chan;
    chan.Filename = run.Dir + "2003_123_14_05_22_1234_1_1.STD";
    evt.First_chan = &chan;
    evt.Chan_total = 1;
    evt.Chan_each = {0};
    const std::string others = std::string(400, '\x5a');
    std::ofstream(chan.Filename, std::ios::binary) << others;

    pk::segy::SegyWriter segy_writer;
    pk::seis::SeisanWriter seis_writer;
    pk::Writer& writer = segy ? static_cast<pk::Writer&>(segy_writer) : seis_writer;
    writer.before_merge(run, evt);
    writer.merge_file_pc(run, evt, &chan);
    EXPECT_TRUE(testkit::read_file(chan.Filename) == others) << "the other run's file was touched";
  }
}

}  // namespace
