// scripts/convert-deployment over generated input trees and the field recordings.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <unistd.h>

#include "tests/support/hbk_encoder.h"
#include "tests/support/output_readers.h"
#include "tests/support/pkenc.h"
#include "tests/report/report_kit.h"

namespace {

namespace fs = std::filesystem;
using namespace testkit;

RunResult convert(const std::string& cwd, const std::string& args, const std::string& prefix = "") {
  return run_program(std::string(PK_SOURCE_DIR) + "/scripts/convert-deployment", args, cwd,
                     "PK_BIN_DIR='" + std::string(PK_BIN_DIR) + "' " + prefix);
}

// in/a/st.pk and in/b/st.pk (equal names, units 0E01 and 0E02, two channels each),
// in/a/st.dat (packets under another name) and in/c/x.hbk; hidden files that must be left alone.
void write_tree(const ScratchDir& dir) {
  for (const char* sub : {"in/a", "in/b", "in/c", "in/.hidden"}) fs::create_directories(dir / sub);
  for (uint16_t unit : {uint16_t{0x0E01}, uint16_t{0x0E02}}) {
    pktest::Recording rec{.unit = unit, .start = "2011200120000000"};
    for (unsigned c = 0; c < 2; ++c) rec.channels.push_back({.channel = c, .samples = ramp(400, 7, 5)});
    pktest::write_packets(dir / (unit == 0x0E01 ? "in/a/st.pk" : "in/b/st.pk"), rec.packets());
  }
  fs::copy_file(dir / "in/a/st.pk", dir / "in/.hidden/st.pk");
  fs::copy_file(dir / "in/a/st.pk", dir / "in/a/.st.pk");
  fs::copy_file(dir / "in/a/st.pk", dir / "in/a/st.dat");
  hbktest::BlockFields f = hbktest::fields_from_samples(ramp(250, 0, 3), 2);
  f.sysid = hbktest::text_to_id("RX9");
  f.streamid = hbktest::text_to_id("HHN1");
  f.timecode = hbktest::timecode_for_date(2011, 7, 19, 7200);
  hbktest::write_blocks(dir / "in/c/x.hbk", {hbktest::encode_block(f)});
}

std::vector<std::string> run_records(const std::string& out) {
  std::vector<std::string> records;
  if (!fs::is_directory(out + "/runs")) return records;
  for (const std::string& f : list_files(out + "/runs"))
    if (f.ends_with(".run")) records.push_back(f);
  return records;
}

const std::vector<std::string> kRecords = {"sac/c/x.hbk.run", "segy/a/st.pk.run", "segy/b/st.pk.run"};

TEST(ConvertDeployment, EveryInputOnceInItsOwnDirectoryWithEveryRunner) {
  struct Case {
    const char* runner;
    std::string prefix, options;
    bool needs_parallel;
  };
  const std::vector<Case> cases = {
      {"GNU parallel", "", "", true},
      {"xargs", "CONVERT_DEPLOYMENT_RUNNER=xargs", "-j 2", false},
      {"GNU parallel on the hosts of a login file", "", "--sshloginfile login", true},
  };
  bool skipped = false;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.runner);
    if (k.needs_parallel && !on_path("parallel")) {
      skipped = true;
      continue;
    }
    ScratchDir dir;
    write_tree(dir);
    write_file(dir / "login", ":\n");  // the local machine
    for (int round = 0; round < 2; ++round) {  // the second one converts into the first one's output
      const RunResult r = convert(dir.path().string(), k.options + " in out", k.prefix);
      ASSERT_EQ(r.code, 0) << r.out;
      EXPECT_EQ(r.out.find("converted"), std::string::npos) << "progress line without a terminal";
      EXPECT_EQ(run_records(dir / "out"), kRecords);
      for (const std::string& rec : kRecords) EXPECT_NE(read_file(dir / ("out/runs/" + rec)).find("\nstatus: 0\n"), std::string::npos);
      const auto rows = reporttest::report_rows(dir / "out");
      EXPECT_EQ(rows.size(), 5u);
      for (const auto& row : rows) {
        const std::string& file = row.at("file");
        EXPECT_EQ(row.at("unit"), file.starts_with("sac/c/x.hbk/") ? "RX9" : file.starts_with("segy/a/st.pk/") ? "0E01" : "0E02") << file;
        EXPECT_EQ(row.at("status"), "ok");
      }
      write_file(dir / "out/segy/a/st.pk/stray.RSY", read_file(dir / "out/segy/b/st.pk/" + list_files(dir / "out/segy/b/st.pk")[0]));
    }
  }
  if (skipped) GTEST_SKIP() << "GNU parallel is not installed: only xargs was tried";
}

// Stand-ins for the converters in dir/bin that print the arguments they were given; the
// real pk_report.
void write_standins(const ScratchDir& dir, const std::vector<std::string>& programs) {
  fs::create_directories(dir / "bin");
  for (const std::string& p : programs) write_file(dir / ("bin/" + p), "#!/bin/sh\necho \"${0##*/} $*\"\n");
  run_shell("chmod +x '" + (dir / "bin") + "'/*");
  fs::create_symlink(std::string(PK_BIN_DIR) + "/pk_report", dir / "bin/pk_report");
}

// The arguments a stand-in printed into its run record hold each part, and none of those
// marked "!".
void expect_given(const std::string& record, const std::vector<std::string>& parts) {
  const std::size_t at = record.find("stdout| ");
  ASSERT_NE(at, std::string::npos) << record;
  const std::string given = record.substr(at, record.find('\n', at) - at);
  for (const std::string& part : parts) {
    if (part.starts_with("!")) EXPECT_EQ(given.find(part.substr(1)), std::string::npos) << given;
    else EXPECT_NE(given.find(part), std::string::npos) << given;
  }
}

// Which inputs are converted by which program with which switches; usage errors end with 2
// and a missing program with 3, before anything runs.
TEST(ConvertDeployment, CommandLines) {
  struct Case {
    std::string args;
    int code;
    std::map<std::string, std::vector<std::string>> commands;  // record: what its program was given and not ("!")
    std::vector<std::string> programs = {"pk_segy", "pk_seis", "pk_mseed", "hbk2sac"};
  };
  const std::string packet = "segy/a/st.pk.run", hbk = "sac/c/x.hbk.run";
  const std::vector<Case> cases = {
      {"in out -HY -l", 0, {{packet, {"pk_segy -VN -HY /", "! -l"}}, {hbk, {"hbk2sac /", " -l", "! -HY", "! -y"}}}},
      {"--seisan in out -W4", 0, {{"seisan/a/st.pk.run", {"pk_seis -VN -W4 /"}}, {hbk, {"! -W4", "! -l"}}}},
      {"in out --seisan", 0, {{"seisan/b/st.pk.run", {"pk_seis -VN /"}}}},
      {"--all in in/out", 0, {{"segy/a/st.dat.run", {"pk_segy "}}, {packet, {}}}},
      {"--sync in out -l", 0, {{packet, {"pk_segy -VN -Y /", "! -y"}}, {hbk, {" -l -y", "! -Y"}}}},
      {"--seisan in out --sync", 0, {{"seisan/a/st.pk.run", {"pk_seis -VN -Y /"}}}},
      {"--mseed --stations PKU.INI in out -Y", 0,
       {{"mseed/a/st.pk.run", {"pk_mseed -VN -Y /", "/out/mseed/a/st.pk", "! -A"}}, {hbk, {"hbk2sac /"}}}},
      {"--sds in/arch in out -LY", 0, {{"mseed/b/st.pk.run", {"pk_mseed -VN -A/", "/in/arch -LY /", "/out/mseed/b/st.pk"}}}},
      {"--mseed in out", 3, {}, {"pk_segy", "hbk2sac"}},
      {"in out", 3, {}, {"pk_segy"}},
      {"--stations PKU.INI in out", 2, {}},
      {"--seisan --mseed in out", 2, {}},
      {"--sds out/mseed/a in out", 2, {}},
      {"--bogus in out", 2, {}},
      {"in", 2, {}},
      {"in in", 2, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.args);
    ScratchDir dir;
    write_tree(dir);
    write_standins(dir, k.programs);
    write_file(dir / "PKU.INI", "");
    // An earlier conversion's output inside the input tree is not taken for input, nor
    // an archive's files there.
    fs::create_directories(dir / "in/out/segy/a/st.pk");
    write_file(dir / "in/out/segy/a/st.pk/old.RSY", "");
    if (k.args.starts_with("--sds")) {
      fs::create_directories(dir / "in/arch/2011/XX");
      write_file(dir / "in/arch/2011/XX/day.pk", "");
    }
    const RunResult r = convert(dir.path().string(), k.args, "CONVERT_DEPLOYMENT_RUNNER=xargs PK_BIN_DIR=bin");
    ASSERT_EQ(r.code, k.code) << r.out;
    EXPECT_EQ(k.code == 3, r.out.find(" not found in ") != std::string::npos) << r.out;
    const std::string out = dir / (k.args.find("in/out") != std::string::npos ? "in/out" : "out");
    EXPECT_EQ(run_records(out).size(), k.code != 0 ? 0u : k.args.starts_with("--all") ? 4u : 3u);
    for (const auto& [record, parts] : k.commands) expect_given(read_file(out + "/runs/" + record), parts);
  }
}

TEST(ConvertDeployment, FailedRunsSetTheStatusAndAreListed) {
  ScratchDir dir;
  write_tree(dir);
  // An unknown switch is a usage error in every pk_segy run; hbk2sac's run succeeds.
  const std::string args = "in out -Z";
  // On a terminal (script gives it one) the run shows its progress.
  const bool terminal = on_path("script");
  const std::string script = std::string(PK_SOURCE_DIR) + "/scripts/convert-deployment";
  const RunResult r = terminal ? run_program("script", "-qec \"'" + script + "' " + args + "\" /dev/null",
                                             dir.path().string(), "PK_BIN_DIR='" + std::string(PK_BIN_DIR) + "'")
                               : convert(dir.path().string(), args);
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("2 of 3 runs failed"), std::string::npos) << r.out;
  if (terminal) {
    EXPECT_NE(r.out.find("converted 0 of 3, 0 failed, time left not known yet"), std::string::npos) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("converted 1 of 3, [01] failed, about [0-9]+ s left"))) << r.out;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("converted 3 of 3, 2 failed, done in [0-9]+ s"))) << r.out;
  }
  for (const auto& row : reporttest::report_rows(dir / "out")) {
    if (row.at("program") == "pk_segy") EXPECT_EQ(row.at("status"), "exit status 2: ERROR: Unknown switch -Z") << row.at("file");
    else EXPECT_EQ(row.at("status"), "ok");
  }
}

// A process that has ended but is not yet reaped is not running.
bool running(const std::string& pid) {
  const std::string stat = read_file("/proc/" + pid + "/stat");
  const std::size_t state = stat.rfind(") ");
  return state != std::string::npos && stat.at(state + 2) != 'Z';
}

// Runs that take long: a stop signal reaches every one of them, the run ends with 130, and
// no temporary of the script's is left, although the converters take a while to stop.
TEST(ConvertDeployment, AStopSignalStopsEveryRunAndLeavesNoTemporary) {
  for (const char* runner : {"", "xargs"}) {
    if (*runner == 0 && !on_path("parallel")) continue;
    for (const char* signal : {"INT", "TERM", "HUP"}) {
      SCOPED_TRACE(std::string(signal) + " " + runner);
      ScratchDir dir;
      write_tree(dir);
      fs::create_directory(dir / "bin");
      write_file(dir / "bin/pk_segy",
                 "#!/bin/sh\necho $$ >> \"$0.pids\"\ntrap 'kill $!; sleep 0.6; exit 1' TERM\nsleep 60 & wait\n");
      for (const char* p : {"hbk2sac", "pk_report"}) write_file(dir / ("bin/" + std::string(p)), "#!/bin/sh\nexit 0\n");
      run_shell("chmod +x '" + (dir / "bin") + "'/*");
      const auto t0 = std::chrono::steady_clock::now();
      // Job control, so that the background run does not start with interrupts ignored.
      const int rc = run_shell("cd '" + dir.path().string() + "' && CONVERT_DEPLOYMENT_RUNNER=" + runner +
                               " bash -c 'set -m; PK_BIN_DIR=\"$PWD/bin\" " + PK_SOURCE_DIR +
                               "/scripts/convert-deployment -j 2 in out > log 2>&1 & pid=$!; "
                               "while [ $(cat bin/pk_segy.pids 2>/dev/null | wc -l) -lt 2 ]; do sleep 0.1; done; "
                               "kill -" + signal + " $pid; wait $pid; exit $?'");
      EXPECT_EQ(rc, 130) << read_file(dir / "log");
      EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
      for (const auto& line : reporttest::csv_lines(read_file(dir / "bin/pk_segy.pids"))) {
        EXPECT_FALSE(running(line.at(0))) << "run " << line.at(0) << " still going";
      }
      for (const std::string& f : list_files(dir / "out")) EXPECT_FALSE(f.ends_with(".part")) << f;
    }
  }
}

// ssh servers on loopback addresses for login files: root logins with a throwaway key, one
// sshd per name. Each ends by itself after a minute should the test not stop it.
class SshMachines {
 public:
  SshMachines(const ScratchDir& dir, int port) : dir_(dir / "ssh"), port_(port) {
    fs::create_directories(dir_);
    ready_ = run_shell("cd '" + dir_ + "' && ssh-keygen -q -t ed25519 -N '' -f host_key && ssh-keygen -q -t ed25519 -N '' -f key"
                       " && cp key.pub authorized_keys && mkdir -p /run/sshd") == 0;
    write_file(dir_ + "/ssh_config", "Host 127.0.0.*\n  Port " + std::to_string(port) + "\n  IdentityFile " + dir_ +
                                         "/key\n  StrictHostKeyChecking no\n  UserKnownHostsFile /dev/null\n"
                                         "  BatchMode yes\n  ConnectTimeout 5\n  LogLevel ERROR\n");
  }
  ~SshMachines() {
    for (const std::string& name : started_) stop(name);
  }
  // An sshd for `name` listening on each address; false when it did not come up.
  bool start(const std::string& name, const std::vector<std::string>& addresses) {
    std::string config = "HostKey " + dir_ + "/host_key\nAuthorizedKeysFile " + dir_ + "/authorized_keys\n"
                         "StrictModes no\nPermitRootLogin yes\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                         "UsePAM no\nPidFile " + dir_ + "/" + name + ".pid\n";
    for (const std::string& a : addresses) config += "ListenAddress " + a + ":" + std::to_string(port_) + "\n";
    write_file(dir_ + "/" + name + ".conf", config);
    started_.push_back(name);
    return ready_ && run_shell("cd '" + dir_ + "' && (timeout 60 /usr/sbin/sshd -D -f " + name + ".conf -E " + name +
                               ".log &) && for i in $(seq 50); do [ -s " + name + ".pid ] && exit 0; sleep 0.1; done; exit 1") == 0;
  }
  void stop(const std::string& name) {
    run_shell("cd '" + dir_ + "' && [ -s " + name + ".pid ] && kill $(cat " + name + ".pid) && rm " + name + ".pid");
  }
  std::string ssh_command() const { return "ssh -F " + dir_ + "/ssh_config"; }
  std::string log(const std::string& name) const { return read_file(dir_ + "/" + name + ".log"); }

 private:
  std::string dir_;
  int port_;
  bool ready_ = false;
  std::vector<std::string> started_;
};

// Each job's line in GNU parallel's joblog is its last attempt: its record names the same
// machine and tells the same outcome. Every input but `bad` converted on 127.0.0.1. Returns
// the number of jobs.
int expect_last_attempts_recorded(const ScratchDir& dir, const std::string& bad) {
  std::istringstream joblog(read_file(dir / "out/runs/joblog"));
  int jobs = 0;
  for (std::string line; std::getline(joblog, line);) {
    std::vector<std::string> f;
    for (std::istringstream fields(line); std::getline(fields, f.emplace_back(), '\t');) {}
    if (f.size() < 9 || f[0] == "Seq") continue;
    ++jobs;
    const std::string job = f[8].substr(f[8].rfind(' ') + 1);
    const std::string record = read_file(dir / ("out/runs/" + job + ".run"));
    SCOPED_TRACE(job + "\n" + record);
    EXPECT_NE(record.find("\nsshlogin: " + f[1] + "\n"), std::string::npos);
    if (job == bad) {
      EXPECT_NE(record.find(f[1].ends_with(".3") ? "\nstatus: 22\n" : "\nstatus: 1\n"), std::string::npos);
    } else {
      EXPECT_EQ(f[1], "root@127.0.0.1");
      EXPECT_NE(record.find("\nstatus: 0\n"), std::string::npos);
    }
  }
  return jobs;
}

// Machines that fail do not fail the inputs: 127.0.0.2 does not answer (its sshd is stopped)
// and is left out at the start; on 127.0.0.3 every conversion fails (a full disk, say), so
// each of its runs is tried again on 127.0.0.1. Only an input that failed on every machine
// is a failed one, and its record is that of its last attempt.
TEST(ConvertDeployment, MachinesThatFailDoNotFailTheRuns) {
  if (::geteuid() != 0) GTEST_SKIP() << "ssh logins to this machine need root";
  if (!fs::exists("/usr/sbin/sshd") || !on_path("parallel")) GTEST_SKIP() << "sshd (openssh-server) or GNU parallel is not installed";
  ScratchDir dir;
  write_tree(dir);
  write_file(dir / "in/b/notes.pk", "station notes, not packets\n");
  fs::create_directory(dir / "bin");
  // The programs, except on 127.0.0.3; every attempt noted with its machine's address.
  for (const char* p : {"pk_segy", "hbk2sac"}) {
    write_file(dir / ("bin/" + std::string(p)),
               "#!/bin/sh\nserver=$(echo \"$SSH_CONNECTION\" | cut -d' ' -f3)\n"
               "echo \"$server $*\" >> " + (dir / "attempts") + "\n"
               "[ \"$server\" = 127.0.0.3 ] && { echo 'cannot write: No space left on device' >&2; exit 22; }\n"
               "exec " + PK_BIN_DIR + "/" + p + " \"$@\"\n");
  }
  fs::create_symlink(std::string(PK_BIN_DIR) + "/pk_report", dir / "bin/pk_report");
  run_shell("chmod +x '" + (dir / "bin") + "'/*");
  SshMachines machines(dir, 20000 + ::getpid() % 20000);
  if (!machines.start("up", {"127.0.0.1", "127.0.0.3"}) || !machines.start("down", {"127.0.0.2"}))
    GTEST_SKIP() << "sshd did not start: " << machines.log("up") << machines.log("down");
  machines.stop("down");
  write_file(dir / "login", "2/root@127.0.0.1\n2/root@127.0.0.2\n2/root@127.0.0.3\n");

  const RunResult r = convert(dir.path().string(), "--sshloginfile login in out",
                              "PK_BIN_DIR=bin PARALLEL_SSH='" + machines.ssh_command() + "'");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("1 of 4 runs failed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  segy/b/notes.pk\n"), std::string::npos) << r.out;
  const std::string attempts = read_file(dir / "attempts");
  EXPECT_EQ(attempts.find("127.0.0.2 "), std::string::npos) << attempts;
  // The bad input is tried once per line of the login file, every time on a machine that answers.
  const std::regex bad_input(" -VN " + (dir / "in/b/notes.pk") + " ");
  EXPECT_EQ(std::distance(std::sregex_iterator(attempts.begin(), attempts.end(), bad_input), std::sregex_iterator()), 3) << attempts;
  for (const char* server : {"127.0.0.1 ", "127.0.0.3 "}) EXPECT_NE(attempts.find(server + std::string("-VN ") + (dir / "in/b/notes.pk")), std::string::npos) << attempts;
  EXPECT_EQ(expect_last_attempts_recorded(dir, "segy/b/notes.pk"), 4);
}

// Every trace the programs write from the field recordings is a row of the report.
TEST(ConvertDeployment, FieldRecordingsGiveARowPerTraceWritten) {
  if (!fs::is_directory(PK_FIELD_DIR)) GTEST_SKIP() << "field recordings not available";
  ScratchDir dir;
  for (const char* packet_program : {"", "--seisan"}) {  // both into the same OUTPUT_DIR
    const RunResult r = convert(dir.path().string(), std::string(packet_program) + " '" + PK_FIELD_DIR + "' out");
    ASSERT_EQ(r.code, 0) << r.out;
  }
  std::multiset<std::string> written, reported;
  for (const std::string& f : list_files(dir / "out")) {
    const std::string bytes = read_file(dir / ("out/" + f));
    if (f.ends_with(".RSY")) written.insert(f + " " + std::to_string(u32be(bytes, 228)));
    if (f.ends_with(".sac")) written.insert(f + " " + std::to_string(read_sac(dir / ("out/" + f)).npts()));
    if (f.ends_with(".SEI"))
      for (const SeiChannel& ch : read_sei(bytes).channels) written.insert(f + " " + std::to_string(ch.samples.size()));
  }
  for (const auto& row : reporttest::report_rows(dir / "out")) {
    reported.insert(row.at("file") + " " + row.at("samples"));
    // Real recordings may warn (time tears), and the SEG-Y and SEISAN files of one
    // recording are no overlaps of each other.
    EXPECT_TRUE(row.at("status") == "ok" || row.at("status").starts_with("warning: WARNING: ")) << row.at("status");
    EXPECT_EQ(row.at("overlaps"), "0") << row.at("file");
  }
  EXPECT_TRUE(written.contains("sac/blocks-a.hbk/blocks-a.sac 1000"));
  EXPECT_EQ(reported, written);
}

// ---- a small deployment, converted once, and its report ----
// Unit 0E01 with a gap between two events, unit 0E02 starting off the second, a unit whose
// DT packets are in a format that is not decoded (a run that warns but succeeds), a text
// named .pk (a failed run) and an HBK file.
class Deployment : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ScratchDir;
    const ScratchDir& dir = *dir_;
    for (const char* sub : {"in/site1", "in/site2", "in/hbk"}) fs::create_directories(dir / sub);
    std::vector<pktest::Packet> u1;
    for (unsigned e = 1; e <= 2; ++e) {
      pktest::Recording rec{.unit = 0x0E01, .event = e, .start = e == 1 ? "2011200120000000" : "2011200120010000"};
      for (unsigned c = 0; c < 2; ++c) rec.channels.push_back({.channel = c, .samples = ramp(400, 0, 2)});
      const auto p = rec.packets();
      u1.insert(u1.end(), p.begin(), p.end());
    }
    pktest::write_packets(dir / "in/site1/u1.pk", u1);
    // Two streams of one unit at the same time, and the same packets copied to another folder.
    std::vector<pktest::Packet> u2;
    for (unsigned stream = 0; stream < 2; ++stream) {
      pktest::Recording rec{.unit = 0x0E02, .event = stream + 1, .stream = stream, .start = "2011200120000250", .rate = 40};
      for (unsigned c = 0; c < 2 - stream; ++c) rec.channels.push_back({.channel = c, .format = pktest::kFmt32, .samples = ramp(100, 9, 1)});
      const auto p = rec.packets();
      u2.insert(u2.end(), p.begin(), p.end());
    }
    pktest::write_packets(dir / "in/site2/u2.PK", u2);
    fs::create_directories(dir / "in/site3");
    fs::copy_file(dir / "in/site2/u2.PK", dir / "in/site3/u2.PK");
    pktest::Recording c4{.unit = 0x0E03, .start = "2011200120000000"};
    c4.channels.push_back({.channel = 0, .format = 0xC4, .samples = ramp(300, 0, 1)});
    pktest::write_packets(dir / "in/site2/c4.pk", c4.packets());
    write_file(dir / "in/notes.pk", "station notes, not packets\n");
    hbktest::BlockFields f = hbktest::fields_from_samples(ramp(250, 0, 3), 2);
    f.sysid = hbktest::text_to_id("RX9");
    f.streamid = hbktest::text_to_id("HHN1");
    f.timecode = hbktest::timecode_for_date(2011, 7, 19, 7200);
    hbktest::write_blocks(dir / "in/hbk/x.HBK", {hbktest::encode_block(f)});
    run_ = new RunResult(convert(dir.path().string(), "in out"));
  }
  static void TearDownTestSuite() {
    delete run_;
    delete dir_;
  }
  static std::string out(const std::string& name) { return *dir_ / ("out/" + name); }

  static ScratchDir* dir_;
  static RunResult* run_;
};
ScratchDir* Deployment::dir_ = nullptr;
RunResult* Deployment::run_ = nullptr;

// The copies of u2.PK overlap each other in every row, its two streams do not; the run that
// left DT packets undecoded warned.
TEST_F(Deployment, ReportCsvHoldsEveryTraceAndEveryFailedInput) {
  EXPECT_EQ(run_->code, 1) << run_->out;
  EXPECT_NE(run_->out.find("1 of 6 runs failed"), std::string::npos) << run_->out;
  EXPECT_NE(run_->out.find("  segy/notes.pk\n"), std::string::npos) << run_->out;
  EXPECT_NE(run_->out.find(" 3 overlaps, "), std::string::npos) << run_->out;
  EXPECT_NE(run_->out.find(", 1 warned"), std::string::npos) << run_->out;
  const std::string u2 = ",pk_segy,0E02,", u2_times = "2011-07-19T12:00:00.250Z,2011-07-19T12:00:02.725Z,100,40,ok,1\n";
  const std::string expected =
      "file,program,unit,stream,channel,start,end,samples,rate,status,overlaps\n"
      "segy/site1/u1.pk/2011_200_12_00_00_00E01_1_1.RSY,pk_segy,0E01,1,1,2011-07-19T12:00:00.000Z,2011-07-19T12:00:03.990Z,400,100,ok,0\n"
      "segy/site1/u1.pk/2011_200_12_00_10_00E01_1_1.RSY,pk_segy,0E01,1,1,2011-07-19T12:00:10.000Z,2011-07-19T12:00:13.990Z,400,100,ok,0\n"
      "segy/site1/u1.pk/2011_200_12_00_00_00E01_1_2.RSY,pk_segy,0E01,1,2,2011-07-19T12:00:00.000Z,2011-07-19T12:00:03.990Z,400,100,ok,0\n"
      "segy/site1/u1.pk/2011_200_12_00_10_00E01_1_2.RSY,pk_segy,0E01,1,2,2011-07-19T12:00:10.000Z,2011-07-19T12:00:13.990Z,400,100,ok,0\n"
      "segy/site2/u2.PK/2011_200_12_00_00_00E02_1_1.RSY" + u2 + "1,1," + u2_times +
      "segy/site3/u2.PK/2011_200_12_00_00_00E02_1_1.RSY" + u2 + "1,1," + u2_times +
      "segy/site2/u2.PK/2011_200_12_00_00_00E02_1_2.RSY" + u2 + "1,2," + u2_times +
      "segy/site3/u2.PK/2011_200_12_00_00_00E02_1_2.RSY" + u2 + "1,2," + u2_times +
      "segy/site2/u2.PK/2011_200_12_00_00_00E02_2_1.RSY" + u2 + "2,1," + u2_times +
      "segy/site3/u2.PK/2011_200_12_00_00_00E02_2_1.RSY" + u2 + "2,1," + u2_times +
      "segy/site2/c4.pk/2011_200_12_00_00_00E03_1_1.RSY,pk_segy,0E03,1,1,2011-07-19T12:00:00.000Z,,0,100,"
      "warning: WARNING: 2 DT packets in data format 0xC4 were not decoded; their samples are missing,0\n"
      "sac/hbk/x.HBK/x.sac,hbk2sac,RX9,,HHN1,2011-07-19T02:00:00.000Z,2011-07-19T02:00:02.490Z,250,100,ok,0\n"
      "notes.pk,pk_segy,,,,,,,,exit status 1: ERROR: no PASSCAL packet found in " + *dir_ / "in/notes.pk" + ",\n";
  EXPECT_EQ(read_file(out("report.csv")), expected);
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(Deployment, ABrowserShowsARowPerUnitStreamAndChannelAndTheFailedRuns) {
  const std::string browser = "/usr/bin/chromium-headless-shell";
  if (!fs::exists(browser)) GTEST_SKIP() << "chromium-headless-shell is not installed";
  // Kept off the network, with a profile of its own.
  const RunResult dom = run_program(browser,
      "--headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking "
      "--disable-component-update --disable-sync --disable-quic --user-data-dir='" + (*dir_ / "profile") +
      "' --dump-dom 'file://" + out("report.html") + "' 2>/dev/null", dir_->path().string());
  ASSERT_EQ(dom.code, 0) << dom.out;
  std::vector<std::string> labels;
  const std::regex row_label("<g class=\"row\"[^>]*>\\s*<text[^>]*>([^<]*)</text>");
  for (std::sregex_iterator it(dom.out.begin(), dom.out.end(), row_label), end; it != end; ++it) labels.push_back((*it)[1]);
  EXPECT_EQ(labels, (std::vector<std::string>{"0E01 stream 1 channel 1", "0E01 stream 1 channel 2", "0E02 stream 1 channel 1",
                                              "0E02 stream 1 channel 2", "0E02 stream 2 channel 1", "0E03 stream 1 channel 1",
                                              "RX9 HHN1"})) << dom.out;
  EXPECT_EQ(count(dom.out, "<rect class=\"gap\""), 2u);
  EXPECT_EQ(count(dom.out, "<rect class=\"overlap\""), 3u);
  EXPECT_EQ(count(dom.out, "<table class=\"unit\">"), 4u);
  const std::size_t from = dom.out.find("<table id=\"failures\">");
  ASSERT_NE(from, std::string::npos) << dom.out;
  const std::string failures = dom.out.substr(from, dom.out.find("</table>", from) - from);
  EXPECT_EQ(count(failures, "<tr>"), 2u) << failures;  // the heading and notes.pk
  EXPECT_NE(failures.find("<td>notes.pk</td><td>pk_segy</td><td>1</td>"), std::string::npos) << failures;
  EXPECT_NE(failures.find("no PASSCAL packet found"), std::string::npos) << failures;
}

TEST_F(Deployment, TheTimelineIsWellFormedSvgAndTheSummaryCountsOverlapsAndWarnings) {
  const std::string page = read_file(out("report.html"));
  EXPECT_EQ(count(page, "<rect class=\"overlap\""), 3u);
  EXPECT_NE(page.find("<th>Overlaps</th><td class=\"bad\">3 (6 traces)</td>"), std::string::npos);
  EXPECT_NE(page.find("<th>Warned</th><td class=\"bad\">1 (1 traces)</td>"), std::string::npos);
  if (!on_path("xmllint")) GTEST_SKIP() << "xmllint (libxml2-utils) is not installed";
  const std::size_t from = page.find("<svg"), to = page.find("</svg>");
  ASSERT_NE(to, std::string::npos);
  write_file(*dir_ / "timeline.svg", page.substr(from, to + 6 - from));
  EXPECT_EQ(run_shell("xmllint --noout '" + (*dir_ / "timeline.svg") + "'"), 0);
}

}  // namespace
