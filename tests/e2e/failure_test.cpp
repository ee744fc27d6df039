// Runs that cannot finish - a full disk, CTRL-C, a settings file that is no file - end
// with their code, keep every file they had finished whole, and leave nothing half done
// under a final name nor any temporary behind.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "tests/e2e/deployment.h"
#include "tests/e2e/e2e_run.h"
#include "tests/e2e/outputs.h"

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

// A tmpfs of `size` on `dir` while it lives, read-only when asked; only root may mount one.
class SmallDisk {
 public:
  SmallDisk(const fs::path& dir, const std::string& size, unsigned long flags = 0) : dir_(dir) {
    fs::create_directories(dir);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", dir.c_str(), "tmpfs", flags, ("size=" + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path dir_;
  bool mounted_ = false;
};

// A run's exit code, standard output and, apart, its standard error. `prefix` goes before
// the program (variables, say).
struct SplitRun {
  int code;
  std::string out, err;
};
SplitRun run_split(const std::string& program, const std::string& args, const fs::path& cwd,
                   const std::string& prefix = "") {
  const fs::path err = cwd / ".stderr";
  const auto r = testkit::run_program(program, args + " 2>'" + err.string() + "')", cwd.string(), "( " + prefix);
  SplitRun split{r.code, r.out, testkit::read_file(err)};
  fs::remove(err);
  return split;
}

// A failure names the final file or directory and the cause, never a temporary.
void expect_error_line(const SplitRun& r, const std::string& start, const std::string& cause) {
  EXPECT_NE(r.err.find(start), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(": " + cause + "\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(".part"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find(".part"), std::string::npos) << r.out;
}

// The call shim preloaded (under a sanitizer too, whose run-time would want to come first;
// the sanitizer's other options stay).
const std::string kPreloadShim =
    "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\" LD_PRELOAD=" PK_CALL_SHIM;

// The input, and the output directories a case writes into.
void prepare(const ScratchDir& dir, const std::vector<pktest::Packet>& packets,
             const std::vector<std::string>& outputs) {
  pktest::write_packets(dir / "in.pk", packets);
  for (const std::string& o : outputs) fs::create_directory(dir / o);
}

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
    const SplitRun r = run_split(program, k.switches + " -VN in.pk out", dir.path());
    EXPECT_EQ(r.code, 22) << r.out;
    EXPECT_NE(r.out.find("\nFile write error for "), std::string::npos) << r.out;
    expect_error_line(r, "ERROR: cannot write " + dir / "out/", "No space left on device");
    const Collected c = expect_whole_outputs(dir / "out");
    for (const auto& s : c.sequences) EXPECT_NE(std::find(written.begin(), written.end(), s), written.end());
    EXPECT_EQ(c.sequences.empty(), !k.some_published) << c.sequences.size() << " channels published";
  }
}

// stdio keeps a failed write of the log to itself until the log is closed. The log is
// appended to: one that cannot be written whole goes back to what it held before the run,
// and one the run began goes.
TEST(FullDisk, ALogCutShortFailsTheRunAndGoesBackToItsEarlierText) {
  // A short event, then state-of-health packets that only the log takes in.
  std::vector<pktest::Packet> packets = pktest::Recording{.channels = {{.samples = {1, 2, 3}}}}.packets();
  packets.insert(packets.end(), 100, pktest::make_sh(pktest::Header{.type = "SH"}, "BATTERY 12.5 V\n"));
  for (const std::string earlier : {"", "PK_SEGY - an earlier run's whole log\r\n"}) {
    ScratchDir dir;
    pktest::write_packets(dir / "in.pk", packets);
    const SmallDisk disk(dir / "out", "16k");
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs (needs root)";
    if (!earlier.empty()) testkit::write_file(dir / "out/in.RSH", earlier);
    const SplitRun r = run_split(testkit::program_path("pk_segy"), "-VN -LY in.pk out", dir.path());
    EXPECT_EQ(r.code, 22) << r.out;
    EXPECT_NE(r.out.find("\nFile write error for " + dir / "out/in.RSH"), std::string::npos) << r.out;
    expect_error_line(r, "ERROR: cannot write " + dir / "out/in.RSH", "No space left on device");
    EXPECT_EQ(fs::exists(dir / "out/in.RSH"), !earlier.empty());
    EXPECT_EQ(testkit::read_file(dir / "out/in.RSH"), earlier);
  }
}

// An output directory nothing can be written into is named with the reason.
TEST(UnwritableDirectory, TheRunStopsNamingTheDirectory) {
  ScratchDir dir;
  pktest::write_packets(dir / "in.pk", pktest::Recording{.channels = {{.samples = {1, 2, 3}}}}.packets());
  // Root writes into any directory whatever its mode: a read-only file system stops it.
  const SmallDisk disk(dir / "out", "64k", MS_RDONLY);
  if (!disk.mounted()) fs::permissions(dir / "out", fs::perms::owner_read | fs::perms::owner_exec);
  if (!disk.mounted() && ::geteuid() == 0) GTEST_SKIP() << "root without a read-only tmpfs writes anywhere";
  for (const char* program : {"pk_segy", "pk_seis"}) {
    SCOPED_TRACE(program);
    const SplitRun r = run_split(testkit::program_path(program), "-VN -LY in.pk out", dir.path());
    EXPECT_EQ(r.code, 20) << r.out;
    expect_error_line(r, "ERROR: cannot open " + dir / "out/: ",
                      disk.mounted() ? "Read-only file system" : "Permission denied");
    EXPECT_EQ(testkit::list_files(dir / "out"), std::vector<std::string>{});
  }
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
                                   {"pk_segy", "-LY -QY", SIGHUP, 3},
                                   {"pk_seis", "", SIGINT, 3},
                                   {"pk_seis", "-LY -P1", SIGTERM, 3},
                                   {"pk_seis", "-QY", SIGQUIT, 3}};
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
    EXPECT_NE(r.out.find(std::string("ERROR: conversion stopped: ") + strsignal(k.signal) + "\n"), std::string::npos)
        << r.out;
    const std::vector<Samples> finished(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(k.published));
    EXPECT_EQ(compare_sequences(finished, expect_whole_outputs(dir / "out").sequences), "");
  }
}

// A reader of the console output that goes away (`| head`) stops the run as CTRL-C does:
// only whole files remain, no temporary.
TEST(Interrupted, AClosedOutputPipeEndsTheRunCleanly) {
  std::vector<Samples> written;
  std::vector<pktest::Packet> packets = events(1, 1, true, written);
  // Ten samples a packet: thousands of console lines, far more than a pipe holds.
  pktest::Recording slow{.event = 9, .start = "2003123200000000"};
  slow.channels.push_back({.channel = 0, .samples = testkit::ramp(100000, 0, 1), .per_packet = 10});
  const auto more = slow.packets();
  packets.insert(packets.end(), more.begin(), more.end());
  for (const char* program : {"pk_segy", "pk_seis"}) {
    SCOPED_TRACE(program);
    ScratchDir dir;
    prepare(dir, packets, {"out"});
    const auto r = testkit::run_program(testkit::program_path(program),
                                        "-LY in.pk out 2>.stderr; echo $? >.rc) | head -c 300 >/dev/null",
                                        dir.path().string(), "(");
    EXPECT_EQ(testkit::read_file(dir / ".rc"), "1\n");
    EXPECT_EQ(testkit::read_file(dir / ".stderr"), "ERROR: conversion stopped: Broken pipe\n");
    // The first event may or may not be finished when the pipe closes; the second is not.
    const Collected c = expect_whole_outputs(dir / "out");
    EXPECT_TRUE(c.sequences.empty() || compare_sequences(written, c.sequences).empty()) << c.sequences.size();
  }
}

// -Y: every output's data reaches the device before it takes its name, and its directory
// is synced after; without -Y nothing is synced.
TEST(Durable, EachOutputIsSyncedBeforeItsRenameAndItsDirectoryAfter) {
  struct Case {
    std::string program, switches;
    std::size_t outputs;  // renamed into place
  };
  const std::vector<Case> cases = {{"pk_segy", "-Y -HY -GS -LY -QY -P1", 3},
                                   {"pk_segy", "-Y -GR", 1},
                                   {"pk_seis", "-Y -W4 -QY", 3},
                                   {"pk_segy", "-QY", 0}};
  std::vector<Samples> written;
  const std::vector<pktest::Packet> packets = events(2, 1, true, written);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.program + " " + k.switches);
    ScratchDir dir;
    prepare(dir, packets, {"out"});
    const fs::path log = dir / "calls.txt";
    const SplitRun r = run_split(testkit::program_path(k.program), k.switches + " -VN in.pk out", dir.path(),
                                 "PK_SHIM_LOG='" + log.string() + "' " + kPreloadShim);
    EXPECT_EQ(r.code, 0) << r.err;
    std::vector<std::string> calls;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    const bool durable = k.switches.find("-Y") != std::string::npos;
    std::size_t renamed = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (!calls[i].starts_with("rename ") || calls[i].find(".part ") == std::string::npos) continue;
      const std::string from = calls[i].substr(7, calls[i].find(' ', 7) - 7);
      const std::string to = calls[i].substr(8 + from.size());
      if (to.ends_with(".part") || !durable) continue;  // from one temporary to another
      ++renamed;
      const auto synced = std::find(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(i), "fdatasync " + from);
      EXPECT_NE(synced, calls.begin() + static_cast<std::ptrdiff_t>(i)) << to << " renamed unsynced";
      const std::string directory = "fsync " + to.substr(0, to.find_last_of('/'));
      EXPECT_NE(std::find(calls.begin() + static_cast<std::ptrdiff_t>(i), calls.end(), directory), calls.end()) << to;
    }
    EXPECT_GE(renamed, k.outputs);
    const auto syncs = std::count_if(calls.begin(), calls.end(),
                                     [](const std::string& c) { return c.find("sync ") != std::string::npos; });
    EXPECT_EQ(syncs > 0, durable);
    if (k.switches.find("-LY") != std::string::npos) {
      const std::string log_synced = "fdatasync " + fs::canonical(dir / "out/in.RSH").string();
      EXPECT_NE(std::find(calls.begin(), calls.end(), log_synced), calls.end());
    }
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
