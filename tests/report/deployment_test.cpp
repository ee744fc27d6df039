// scripts/convert-deployment over generated input trees and the field recordings.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "hbk_encoder.h"
#include "output_readers.h"
#include "pkenc.h"
#include "report_kit.h"

namespace {

namespace fs = std::filesystem;
using namespace testkit;

RunResult convert(const std::string& cwd, const std::string& args, const std::string& prefix = "") {
  return run_program(std::string(PK_SOURCE_DIR) + "/scripts/convert-deployment", args, cwd,
                     "PK_BIN_DIR='" + std::string(PK_BIN_DIR) + "' " + prefix);
}

// in/a/st.pk and in/b/st.pk (equal names, units 0E01 and 0E02, two channels each) and
// in/c/x.hbk; hidden files that must be left alone.
void write_tree(const ScratchDir& dir) {
  for (const char* sub : {"in/a", "in/b", "in/c", "in/.hidden"}) fs::create_directories(dir / sub);
  for (uint16_t unit : {uint16_t{0x0E01}, uint16_t{0x0E02}}) {
    pktest::Recording rec{.unit = unit, .start = "2011200120000000"};
    for (unsigned c = 0; c < 2; ++c) rec.channels.push_back({.channel = c, .samples = ramp(400, 7, 5)});
    pktest::write_packets(dir / (unit == 0x0E01 ? "in/a/st.pk" : "in/b/st.pk"), rec.packets());
  }
  fs::copy_file(dir / "in/a/st.pk", dir / "in/.hidden/st.pk");
  fs::copy_file(dir / "in/a/st.pk", dir / "in/a/.st.pk");
  hbktest::BlockFields f = hbktest::fields_from_samples(ramp(250, 0, 3), 2);
  f.sysid = hbktest::text_to_id("RX9");
  f.streamid = hbktest::text_to_id("HHN1");
  f.timecode = hbktest::timecode_for_date(2011, 7, 19, 7200);
  hbktest::write_blocks(dir / "in/c/x.hbk", {hbktest::encode_block(f)});
}

const std::vector<std::string> kRecords = {"runs/sac/c/x.hbk.run", "runs/segy/a/st.pk.run", "runs/segy/b/st.pk.run",
                                           "runs/seisan/a/st.pk.run", "runs/seisan/b/st.pk.run"};

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
      const RunResult r = convert(dir.path().string(), k.options + " --to segy,seisan in out", k.prefix);
      ASSERT_EQ(r.code, 0) << r.out;
      EXPECT_EQ(r.out.find("converted"), std::string::npos) << "progress line without a terminal";
      std::vector<std::string> records;
      for (const std::string& f : list_files(dir / "out/runs"))
        if (f.ends_with(".run")) records.push_back("runs/" + f);
      EXPECT_EQ(records, kRecords);
      for (const std::string& rec : records) EXPECT_NE(read_file(dir / ("out/" + rec)).find("\nstatus: 0\n"), std::string::npos);
      const auto rows = reporttest::report_rows(dir / "out");
      EXPECT_EQ(rows.size(), 9u);
      for (const auto& row : rows) {
        const std::string dir_of_input = row.at("file").substr(0, row.at("file").rfind('/'));
        EXPECT_EQ(dir_of_input.substr(dir_of_input.find('/') + 1), row.at("input"));
        EXPECT_EQ(row.at("station"), row.at("format") == "SAC" ? "RX9" : row.at("input") == "a/st.pk" ? "0E01" : "0E02");
      }
      write_file(dir / "out/segy/a/st.pk/stray.RSY", read_file(dir / "out/segy/b/st.pk/" + list_files(dir / "out/segy/b/st.pk")[0]));
    }
  }
  if (skipped) GTEST_SKIP() << "GNU parallel is not installed: only xargs was tried";
}

TEST(ConvertDeployment, FailedRunsSetTheStatusAndAreListed) {
  ScratchDir dir;
  write_tree(dir);
  // An unknown switch is a usage error in every pk_segy run; hbk2sac's run succeeds.
  const std::string args = "--segy-switches -Z in out";
  // On a terminal (script gives it one) the run shows its progress.
  const bool terminal = on_path("script");
  const std::string script = std::string(PK_SOURCE_DIR) + "/scripts/convert-deployment";
  const RunResult r = terminal ? run_program("script", "-qec \"'" + script + "' " + args + "\" /dev/null",
                                             dir.path().string(), "PK_BIN_DIR='" + std::string(PK_BIN_DIR) + "'")
                               : convert(dir.path().string(), args);
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("2 of 3 runs failed"), std::string::npos) << r.out;
  if (terminal) {
    EXPECT_NE(r.out.find("converted 3 of 3, 2 failed"), std::string::npos) << r.out;
  }
  EXPECT_NE(read_file(dir / "out/runs/segy/a/st.pk.run").find("\nstatus: 2\n"), std::string::npos);
  const std::string html = read_file(dir / "out/report.html");
  const std::size_t table = html.find("<table id=\"failures\">");
  ASSERT_NE(table, std::string::npos);
  const std::string failures = html.substr(table, html.find("</table>", table) - table);
  for (const char* input : {"<td>a/st.pk</td>", "<td>b/st.pk</td>"}) EXPECT_NE(failures.find(input), std::string::npos);
  EXPECT_EQ(failures.find("x.hbk"), std::string::npos);
}

TEST(ConvertDeployment, AnInputWithoutPacketsIsAFailedRun) {
  ScratchDir dir;
  write_tree(dir);
  write_file(dir / "in/a/notes.pk", "field notes, not packets\n");
  const RunResult r = convert(dir.path().string(), "in out");
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("1 of 4 runs failed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("segy/a/notes.pk"), std::string::npos) << r.out;
}

// A process that has ended but is not yet reaped is not running.
bool running(const std::string& pid) {
  const std::string stat = read_file("/proc/" + pid + "/stat");
  const std::size_t state = stat.rfind(") ");
  return state != std::string::npos && stat.at(state + 2) != 'Z';
}

// Runs that take long: the interrupt reaches every one of them, and the run ends with 130.
TEST(ConvertDeployment, AnInterruptStopsEveryRun) {
  ScratchDir dir;
  write_tree(dir);
  fs::create_directory(dir / "bin");
  write_file(dir / "bin/pk_segy", "#!/bin/sh\necho $$ >> \"$0.pids\"\nexec sleep 60\n");
  for (const char* p : {"hbk2sac", "pk_report"}) write_file(dir / ("bin/" + std::string(p)), "#!/bin/sh\nexit 0\n");
  run_shell("chmod +x '" + (dir / "bin") + "'/*");
  const auto t0 = std::chrono::steady_clock::now();
  // Job control, so that the background run does not start with interrupts ignored.
  const int rc = run_shell("cd '" + dir.path().string() + "' && bash -c 'set -m; PK_BIN_DIR=\"$PWD/bin\" " +
                           std::string(PK_SOURCE_DIR) + "/scripts/convert-deployment -j 2 in out > log 2>&1 & pid=$!; "
                           "while [ $(cat bin/pk_segy.pids 2>/dev/null | wc -l) -lt 2 ]; do sleep 0.1; done; "
                           "kill -INT $pid; wait $pid; exit $?'");
  EXPECT_EQ(rc, 130) << read_file(dir / "log");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
  for (const auto& line : reporttest::csv_lines(read_file(dir / "bin/pk_segy.pids"))) {
    EXPECT_FALSE(running(line.at(0))) << "run " << line.at(0) << " still going";
  }
}

// Every trace the programs write from the field recordings is a row of the report.
TEST(ConvertDeployment, FieldRecordingsGiveARowPerTraceWritten) {
  if (!fs::is_directory(PK_FIELD_DIR)) GTEST_SKIP() << "field recordings not available";
  ScratchDir dir;
  const RunResult r = convert(dir.path().string(), std::string("--to segy,seisan '") + PK_FIELD_DIR + "' out");
  ASSERT_EQ(r.code, 0) << r.out;
  std::multiset<std::string> written, reported;
  for (const std::string& f : list_files(dir / "out")) {
    const std::string bytes = read_file(dir / ("out/" + f));
    if (f.ends_with(".RSY")) written.insert(f + " " + std::to_string(u32be(bytes, 228)));
    if (f.ends_with(".sac")) written.insert(f + " " + std::to_string(read_sac(dir / ("out/" + f)).npts()));
    if (f.ends_with(".SEI"))
      for (const SeiChannel& ch : read_sei(bytes).channels) written.insert(f + " " + std::to_string(ch.samples.size()));
  }
  for (const auto& row : reporttest::report_rows(dir / "out")) reported.insert(row.at("file") + " " + row.at("samples"));
  EXPECT_FALSE(written.empty());
  EXPECT_EQ(reported, written);
}

}  // namespace
