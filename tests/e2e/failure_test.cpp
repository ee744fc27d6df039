// Runs that cannot finish - a full disk, CTRL-C, a settings file that is no file - end
// with their code, keep every file they had finished whole, and leave nothing half done
// under a final name nor any temporary behind.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "deployment.h"
#include "e2e_run.h"
#include "outputs.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testkit::ScratchDir;

// Events of three compressed channels, each channel 30000 samples: some 360 KB of output
// per event.
std::vector<pktest::Packet> events(unsigned count, unsigned first, bool last_closed, std::vector<Samples>& samples) {
  std::vector<pktest::Packet> packets;
  for (unsigned e = first; e < first + count; ++e) {
    pktest::Recording rec{.event = e, .start = "2003123" + std::to_string(10 + e) + "0000000"};
    for (unsigned ch = 0; ch < 3; ++ch) {
      rec.channels.push_back({.channel = ch, .samples = testkit::ramp(30000, static_cast<int32_t>(e * 100 + ch), 1)});
      samples.push_back(rec.channels.back().samples);
    }
    rec.et = last_closed || e + 1 < first + count;
    const auto p = rec.packets();
    packets.insert(packets.end(), p.begin(), p.end());
  }
  return packets;
}

// What the output directory holds: only whole files, no temporaries, the logs aside.
Collected expect_whole_outputs(const fs::path& out) {
  const Collected c = collect_packet_outputs(out);
  for (const auto& f : c.stray) EXPECT_TRUE(f.ends_with(".RSH") || f.ends_with(".QCC")) << f;
  EXPECT_TRUE(c.broken.empty()) << joined(c.broken);
  return c;
}

// A tmpfs of `size` on `dir` while it lives; only root may mount one.
class SmallDisk {
 public:
  SmallDisk(const fs::path& dir, const std::string& size) : dir_(dir) {
    fs::create_directories(dir);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path dir_;
  bool mounted_ = false;
};

TEST(FullDisk, WriteErrorEndsTheRunAndOnlyWholeFilesRemain) {
  struct Case {
    std::string program, switches, size;
    bool some_published;
  };
  const std::vector<Case> cases = {
      {"pk_segy", "", "64k", false},       {"pk_segy", "", "1m", true},
      {"pk_segy", "-HY -GS -LY", "1m", true}, {"pk_segy", "-GR -QY", "1m", false},
      {"pk_seis", "", "64k", false},       {"pk_seis", "-LY -QY -P1", "1m", true},
  };
  std::vector<Samples> written;
  const std::vector<pktest::Packet> packets = events(5, 1, true, written);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.program + " " + k.switches + " on " + k.size);
    ScratchDir dir;
    pktest::write_packets(dir / "in.pk", packets);
    const SmallDisk disk(dir / "out", k.size);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs (needs root)";
    const std::string program = testkit::program_path(k.program);
    const auto r = testkit::run_program(program, k.switches + " -VN in.pk out", dir.path().string());
    EXPECT_EQ(r.code, 22) << r.out;
    EXPECT_NE(r.out.find("\nFile write error for "), std::string::npos) << r.out;
    const Collected c = expect_whole_outputs(dir / "out");
    for (const auto& s : c.sequences) EXPECT_NE(std::find(written.begin(), written.end(), s), written.end());
    EXPECT_EQ(c.sequences.empty(), !k.some_published) << c.sequences.size() << " channels published";
  }
}

// stdio keeps a failed write of the log to itself until the log is closed.
TEST(FullDisk, ALogCutShortFailsTheRun) {
  ScratchDir dir;
  // A short event, then state-of-health packets that only the log takes in.
  std::vector<pktest::Packet> packets = pktest::Recording{.channels = {{.samples = {1, 2, 3}}}}.packets();
  packets.insert(packets.end(), 100, pktest::make_sh(pktest::Header{.type = "SH"}, "BATTERY 12.5 V\n"));
  pktest::write_packets(dir / "in.pk", packets);
  const SmallDisk disk(dir / "out", "16k");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs (needs root)";
  const auto r = testkit::run_program(testkit::program_path("pk_segy"), "-VN -LY in.pk out", dir.path().string());
  EXPECT_EQ(r.code, 22) << r.out;
  EXPECT_NE(r.out.find("\nFile write error for " + dir / "out/in.RSH"), std::string::npos) << r.out;
}

// CTRL-C or SIGTERM while the second event is still open: the first event's files stay,
// the second leaves nothing, and neither does a receiver gather, which is whole only at
// the end of the run.
TEST(Interrupted, FinishedEventsStayAndTemporariesGo) {
  struct Case {
    std::string program, switches;
    int signal;
    std::size_t published;
  };
  const std::vector<Case> cases = {{"pk_segy", "", SIGINT, 3},
                                   {"pk_segy", "-GR", SIGINT, 0},
                                   {"pk_segy", "-GS -HY -P2", SIGTERM, 3},
                                   {"pk_seis", "", SIGINT, 3},
                                   {"pk_seis", "-LY -P1", SIGTERM, 3}};
  std::vector<Samples> written;
  const std::string input = packet_bytes(events(2, 1, false, written));
  for (const Case& k : cases) {
    SCOPED_TRACE(k.program + " " + k.switches + " " + std::to_string(k.signal));
    ScratchDir dir;
    fs::create_directory(dir / "out");
    const Launch run{testkit::program_path(k.program), k.switches + " -VN in.pk out", "in.pk", input};
    const auto r = run_interrupted(run, dir.path().string(), k.signal);
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_NE(r.out.find("\nProgram aborted by user"), std::string::npos) << r.out;
    const std::vector<Samples> finished(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(k.published));
    EXPECT_EQ(compare_sequences(finished, expect_whole_outputs(dir / "out").sequences), "");
  }
}

// A settings file named by PKU that is a directory: pk_segy goes on without shot points,
// pk_seis stops as for any settings file it cannot open. A directory of the settings
// file's name in the output directory is not taken for it.
TEST(SettingsFile, ADirectoryIsNoSettingsFile) {
  struct Case {
    std::string program, prefix;
    int code;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"pk_segy", "PKU=settings", 0, "\n Unable to open the PK_EDF.EDF file; using default values"},
      {"pk_seis", "PKU=settings", 20, "\nFile open error for settings"},
      {"pk_seis", "PKU=", 0, "\n Unable to open the PKU.INI file; using the default value on the SEISAN header"},
      {"pk_segy", "PKU=", 0, "\n Unable to open the PK_EDF.EDF file; using default values"},
  };
  pktest::Recording rec{.channels = {{.samples = {1, 2, 3}}}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.program + " " + k.prefix);
    ScratchDir dir;
    pktest::write_packets(dir / "in.pk", rec.packets());
    fs::create_directory(dir / "settings");
    fs::create_directory(dir / "PKU.INI");
    fs::create_directory(dir / "PK_EDF.EDF");
    const auto r = testkit::run_program(testkit::program_path(k.program), "-VN in.pk", dir.path().string(), k.prefix);
    EXPECT_EQ(r.code, k.code) << r.out;
    EXPECT_NE(r.out.find(k.message), std::string::npos) << r.out;
    EXPECT_EQ(collect_packet_outputs(dir.path()).sequences.size(), k.code == 0 ? 1u : 0u);
  }
}

}  // namespace
}  // namespace e2e
