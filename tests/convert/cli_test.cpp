// Command line, run texts, time strings and the program's exit paths.
#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "convert/failure.h"
#include "convert/lists.h"
#include "tests/support/pkenc.h"
#include "segy/segy_writer.h"
#include "seisan/seis_writer.h"
#include "tests/support/testkit.h"
#include "convert/setup.h"

using namespace testkit;

namespace {

// The command line as pk_segy's writer (or another program's) takes it.
pk::ParseResult parse(pk::Options& run, std::vector<std::string> args, pk::Writer& w) {
  args.insert(args.begin(), "pk_segy");
  return pk::parse_command_line(run, w, args);
}
pk::ParseResult parse(pk::Options& run, std::vector<std::string> args, bool segy = true) {
  pk::segy::SegyWriter segy_writer;
  pk::seis::SeisanWriter seis_writer;
  return parse(run, std::move(args), segy ? static_cast<pk::Writer&>(segy_writer) : seis_writer);
}

TEST(CommandLine, SwitchesAnywhereAndCaseInsensitive) {
  pk::Options run;
  ASSERT_EQ(parse(run, {"-lY", "-qy", "in.pk", "-Vn", "out"}), pk::ParseResult::ok);
  EXPECT_EQ(run.Log_on, 1);
  EXPECT_EQ(run.Qcc_on, 1);
  EXPECT_EQ(run.Verbose, 0);
  EXPECT_EQ(run.FileIn, "in.pk");
  EXPECT_EQ(run.NewDir, "out");
  EXPECT_EQ(run.Cmd_line, "pk_segy -lY -qy -Vn in.pk out");
}

TEST(CommandLine, NumbersTakeTheirBaseFromTheText) {
  pk::Options run;
  ASSERT_EQ(parse(run, {"-S0x10", "-T010", "-P3", "in.pk"}), pk::ParseResult::ok);
  EXPECT_EQ(run.sample_limit, 16u);
  EXPECT_EQ(run.discard_count, 8u);
  EXPECT_EQ(run.Path_option, 3);
}

TEST(CommandLine, RateDividesAndIgnoresAZeroDivisor) {
  pk::Options a, b;
  ASSERT_EQ(parse(a, {"-R1/4", "in"}), pk::ParseResult::ok);
  ASSERT_EQ(parse(b, {"-R2/0", "in"}), pk::ParseResult::ok);
  EXPECT_NE(pk::run_summary(a).find("\n    Sample Rate : 0.2500"), std::string::npos);
  EXPECT_NE(pk::run_summary(b).find("\n    Sample Rate : 2.0000"), std::string::npos);
}

TEST(CommandLine, UsageErrors) {
  pk::Options r1, r2, r3, r4, r5, r6;
  EXPECT_EQ(parse(r1, {"-L", "in"}), pk::ParseResult::usage);
  EXPECT_EQ(parse(r2, {"in", "out", "third"}), pk::ParseResult::usage);
  EXPECT_EQ(parse(r3, {"-X", "in"}), pk::ParseResult::usage);
  EXPECT_EQ(parse(r4, {"-LY"}), pk::ParseResult::usage);  // no input
  EXPECT_EQ(parse(r5, {"?", "in"}), pk::ParseResult::usage);
  EXPECT_EQ(parse(r6, {"-DY", "in"}), pk::ParseResult::usage);  // pk_seis only
}

// Every switch value is a whole number form the switch takes, or the run does not start.
TEST(CommandLine, SwitchValuesThatAreNoNumbersNameTheSwitch) {
  struct Case {
    std::string arg;
    std::string complaint;  // empty: taken
    bool segy = true;
  };
  const std::vector<Case> cases = {
      {"-S0x10", ""}, {"-s4294967295", ""}, {"-T010", ""}, {"-T0", ""}, {"-P12", ""}, {"-R.5", ""},
      {"-R1/4", ""},  {"-R100.", ""},
      {"-Sabc", "Invalid value for switch -S: abc"},     {"-S", "Invalid value for switch -S: "},
      {"-S-1", "Invalid value for switch -S: -1"},       {"-S 1", "Invalid value for switch -S:  1"},
      {"-S0x", "Invalid value for switch -S: 0x"},       {"-s4294967296", "Invalid value for switch -s: 4294967296"},
      {"-T08", "Invalid value for switch -T: 08"},       {"-T12k", "Invalid value for switch -T: 12k"},
      {"-P0x1", "Invalid value for switch -P: 0x1"},     {"-R1e3", "Invalid value for switch -R: 1e3"},
      {"-R-100", "Invalid value for switch -R: -100"},   {"-R1/", "Invalid value for switch -R: 1/"},
      {"-R" + std::string(50, '9'), "Invalid value for switch -R: " + std::string(50, '9')},
      {"-Lx", "Invalid value for switch -L: x"},         {"-X", "Unknown switch -X"},
      {"-", "Unknown switch -"},                         {"-DY", "Unknown switch -D"},
      {"-GR", "Unknown switch -G", false},               {"-Fa", "Input file given twice: a", false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.arg);
    pk::Options run;
    pk::segy::SegyWriter segy;
    pk::seis::SeisanWriter seis;
    std::string complaint;
    const auto result =
        pk::parse_command_line(run, k.segy ? static_cast<pk::Writer&>(segy) : seis, {"pk", "in", k.arg}, &complaint);
    EXPECT_EQ(result, k.complaint.empty() ? pk::ParseResult::ok : pk::ParseResult::usage);
    EXPECT_EQ(complaint, k.complaint);
  }
  pk::Options deep;
  ASSERT_EQ(parse(deep, {"-P65536", "in"}), pk::ParseResult::ok);
  EXPECT_EQ(deep.Path_option, 65535);  // the deepest layout, not level 0
}

TEST(CommandLine, HeaderSwitchOnlyTurnsOn) {
  pk::Options run;
  pk::segy::SegyWriter w;
  ASSERT_EQ(parse(run, {"-HY", "-HN", "in"}, w), pk::ParseResult::ok);
  EXPECT_EQ(w.flags.file_header_output, 1);
}

TEST(CommandLine, GatherSwitchesExcludeEachOther) {
  pk::Options run;
  pk::segy::SegyWriter w;
  ASSERT_EQ(parse(run, {"-GR", "-gs", "in"}, w), pk::ParseResult::ok);
  EXPECT_EQ(w.flags.recv_gather, 0);
  EXPECT_EQ(w.flags.shot_gather, 1);
  pk::segy::SegyWriter recv;
  pk::Options again;
  ASSERT_EQ(parse(again, {"-gs", "-GR", "in"}, recv), pk::ParseResult::ok);
  EXPECT_EQ(recv.flags.recv_gather, 1);
  EXPECT_EQ(recv.flags.shot_gather, 0);
  pk::segy::SegyWriter none;
  pk::Options off;
  ASSERT_EQ(parse(off, {"-GS", "-G-", "in"}, none), pk::ParseResult::ok);
  EXPECT_EQ(none.flags.shot_gather, 0);
}

TEST(CommandLine, SeisOnlySwitches) {
  pk::Options run;
  ASSERT_EQ(parse(run, {"-DY", "-Fin.pk", "out"}, false), pk::ParseResult::ok);
  EXPECT_EQ(run.dont_log_dt, 1);
  EXPECT_EQ(run.FileIn, "in.pk");
  EXPECT_EQ(run.NewDir, "out");
  pk::Options twice;
  EXPECT_EQ(parse(twice, {"in.pk", "-Fother.pk"}, false), pk::ParseResult::usage);
  pk::Options gather;
  EXPECT_EQ(parse(gather, {"-GR", "in.pk"}, false), pk::ParseResult::usage);
}

TEST(CommandLine, FramingSwitchTakesPOr4) {
  pk::Options run;
  pk::seis::SeisanWriter w;
  EXPECT_EQ(w.framing, pk::seis::SeiFraming::pc_blocks);
  ASSERT_EQ(parse(run, {"-W4", "in.pk"}, w), pk::ParseResult::ok);
  EXPECT_EQ(w.framing, pk::seis::SeiFraming::length4);
  ASSERT_EQ(parse(run, {"-wp", "in.pk"}, w), pk::ParseResult::ok);
  EXPECT_EQ(w.framing, pk::seis::SeiFraming::pc_blocks);
  for (const char* bad : {"-W", "-W44", "-WP4", "-W7", "-WX"}) {
    pk::Options r;
    EXPECT_EQ(parse(r, {bad, "in.pk"}, false), pk::ParseResult::usage) << bad;
  }
  pk::Options segy;
  EXPECT_EQ(parse(segy, {"-W4", "in.pk"}), pk::ParseResult::usage);
}

TEST(RunTexts, UsageTextOfBothPrograms) {
  pk::Options run;
  run.discard_count = 7;
  run.Path_option = 2;
  pk::segy::SegyWriter segy;
  pk::seis::SeisanWriter seis;
  // -Y comes after everything else, in both programs.
  const std::string durable = "\r\n   -Y      durable outputs: synced to the device before named     (NO)\r\n";
  const auto without_durable = [&durable](const std::string& text) {
    EXPECT_TRUE(text.ends_with(durable)) << text;
    return text.substr(0, text.size() - std::min(durable.size(), text.size()));
  };
  const std::string s = without_durable(pk::syntax(run, segy));
  EXPECT_EQ(s.substr(0, 126),
            "\r\n\nPurpose:\r\n   Reads a file containing PASSCAL data packets and converts\r\n   the data to SEG-Y "
            "format.\r\n\nUsage:\r\n   PK_SEGY [");
  EXPECT_NE(s.find("\r\n   -Gc     output Gathered file                                   (N/N)"), std::string::npos);
  EXPECT_NE(s.find("\r\n   -Pn     output Path levels                                     (2)"), std::string::npos);
  EXPECT_NE(s.find("\r\n   -Tn     Trash n samples from each event                        (7)"), std::string::npos);
  EXPECT_NE(s.find("\r\n   -Sn     sample Count per channel per event                     (4294967295)"),
            std::string::npos);
  EXPECT_EQ(s.substr(s.size() - 133),
            "\r\n\n[] = Optional    () = default\r\nSwitches may appear anywhere on the command line.\r\nArguments "
            "and switches are not case sensitive.\r\n");
  const std::string t = without_durable(pk::syntax(run, seis));
  EXPECT_NE(t.find("\r\n   the data to SEISAN format."), std::string::npos);
  EXPECT_NE(t.find("PK_SEIS [switches] sourceFile [output_path][switches]"), std::string::npos);
  EXPECT_EQ(t.find("-Gc"), std::string::npos);
  EXPECT_EQ(t.find("-Hc"), std::string::npos);
  // pk_seis's framing switch follows the common text, its columns aligned with the others'.
  const std::string framing =
      "\r\n   -Wc     SEISAN record framing                                  (P)"
      "\r\n             P = PC blocks of 128 bytes                                     "
      "\r\n             4 = SEISAN 7+ records with 4-byte lengths                      "
      "\r\n";
  ASSERT_GT(t.size(), framing.size());
  EXPECT_EQ(t.substr(t.size() - framing.size()), framing);
  EXPECT_EQ(t.substr(0, t.size() - framing.size()).substr(t.size() - framing.size() - 133), s.substr(s.size() - 133));
  const std::size_t paren = framing.find('(');
  EXPECT_EQ(t.find("\r\n   -Vc     Verbose", 0) + paren, t.find("(ENABLED)"));
  EXPECT_EQ(s.find("-Wc"), std::string::npos);
  seis.framing = pk::seis::SeiFraming::length4;
  EXPECT_NE(pk::syntax(run, seis).find("SEISAN record framing                                  (4)"), std::string::npos);
}

TEST(RunTexts, Summary) {
  pk::Options run;
  run.FileIn = "in.pk";
  run.NewDir = "out";
  run.Qcc_on = 1;
  EXPECT_EQ(pk::run_summary(run),
            "\n\n     Input File : in.pk\n    Output Path : out\n    Sample Rate : 1000.0000\n    Max Samples : "
            "4294967295\n   Skip Samples : 0\n     Output QCC : YES\n    Log DT Blks : YES\n\nPress CTRL-BRK or "
            "CTRL-C to abort.\n");
}

TEST(RateText, WidthsAndLongTexts) {
  EXPECT_FLOAT_EQ(pk::parse_rate_text("100 ", 4), 100.0f);
  EXPECT_FLOAT_EQ(pk::parse_rate_text("  40.5xx", 6), 40.5f);
  EXPECT_FLOAT_EQ(pk::parse_rate_text("12345678", 4), 1234.0f);
  EXPECT_FLOAT_EQ(pk::parse_rate_text(""), 0.0f);
  // Longer than any fixed working copy: parsed whole.
  EXPECT_NEAR(pk::parse_rate_text(std::string(30, '1') + "/" + std::string(29, '1')), 10.0f, 1e-4);
  EXPECT_FLOAT_EQ(pk::parse_rate_text("000000000000000000000000000025"), 25.0f);
}

TEST(ChannelOrder, SortChanAscending) {
  pk::EventNode e;
  e.Chan_each = {5, 0, 17, 3, 25, 1};
  pk::sort_chan(&e);
  EXPECT_EQ(e.Chan_each, (std::vector<uint32_t>{0, 1, 3, 5, 17, 25}));
}

TEST(ChannelNames, BaseNameAndPathLevels) {
  const std::string t = "2003123140522057";
  EXPECT_EQ(pk::channel_base_name(t, 0x9A21, 0, 2), "2003_123_14_05_22_9A21_1_3");
  EXPECT_EQ(pk::channel_base_name(t, 0x9A21, 0, 11), "2003_123_14_05_22_9A21_1_12");
  EXPECT_EQ(pk::level_dir(0, t), "");
  EXPECT_EQ(pk::level_dir(1, t), "2003_123/");
  EXPECT_EQ(pk::level_dir(2, t), "2003_123/14/");
  EXPECT_EQ(pk::level_dir(3, t), "2003_123/14_05/");
  EXPECT_EQ(pk::level_dir(4, t), "2003_123/14_05_22/");
  EXPECT_EQ(pk::level_dir(9, t), "2003_123/14_05_22/");
}

TEST(ShutDown, MessagesOfTheCodeTable) {
  EXPECT_EQ(pk::exit_message(pk::ExitCode::open_error, "x.pk"), "\nFile open error for x.pk");
  EXPECT_EQ(pk::exit_message(pk::ExitCode::no_directory, "d"), "\nUnable to change to directory d");
  EXPECT_EQ(pk::exit_message(static_cast<pk::ExitCode>(99), ""), "\nUnknown error: processing terminated.");
}

// What pk_main prints of a failure: a writer's own standard-error text, the console message,
// the line with a temporary named as its final file and a cause text, or no path at all.
TEST(ShutDown, TheEdgePrintsTheFailureAsBuilt) {
  pk::Failure cut = pk::fatal_failure(pk::ExitCode::read_error, "d/.a.RSY.pk_segy-7.part");
  cut.cause = "cut short";
  cut.notice = "\r\nCannot open 'a' for output.\n";
  const pk::Failure stopped = pk::fatal_failure(pk::ExitCode::aborted, {}, EPIPE);
  for (const auto& [f, out, err] : {std::tuple{cut, "\nFile read error for d/a.RSY",
                                               "\r\nCannot open 'a' for output.\nERROR: cannot read d/a.RSY: cut short\n"},
                                    std::tuple{stopped, "\nProgram aborted by user", "ERROR: conversion stopped: Broken pipe\n"}}) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    pk::report_failure(f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), out);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), err);
  }
}

// ---------------------------------------------------------------- exit paths of the program

TEST(ExitPaths, UsageMissingAndEmptyInput) {
  ScratchDir dir;
  RunResult usage = run_program(PK_ENGINE, "-L", dir.path());
  EXPECT_EQ(usage.code, 2);
  EXPECT_NE(usage.out.find("\r\n\nPurpose:"), std::string::npos);
  RunResult bad = run_program(PK_ENGINE, "-S12x in.pk", dir.path());
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.out.find("\nInvalid value for switch -S: 12x\r\n\nPurpose:"), std::string::npos) << bad.out;
  EXPECT_NE(bad.out.find("ERROR: Invalid value for switch -S: 12x\n"), std::string::npos) << bad.out;
  for (const auto& [args, line] : std::vector<std::pair<std::string, std::string>>{
           {"a.pk b c", "ERROR: Too many file names\n"}, {"?", "ERROR: Usage text asked for\n"}, {"-VN", "ERROR: No input file given\n"}}) {
    const RunResult r = run_program(PK_ENGINE, args, dir.path());
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  }
  EXPECT_EQ(usage.out.substr(0, 27), "\nPK_SEGY - Version 03.22A  ");

  RunResult missing = run_program(PK_ENGINE, "in.pk", dir.path());
  EXPECT_EQ(missing.code, 20);
  EXPECT_NE(missing.out.find("\nFile open error for in.pk"), std::string::npos);
  EXPECT_NE(missing.out.find("ERROR: cannot open in.pk: No such file or directory\n"), std::string::npos);

  { std::ofstream(dir / "empty.pk"); }
  RunResult empty = run_program(PK_ENGINE, "empty.pk", dir.path());
  EXPECT_EQ(empty.code, 1);
  EXPECT_NE(empty.out.find("ERROR: no PASSCAL packet found in empty.pk: the file is empty\n"), std::string::npos)
      << empty.out;

  std::filesystem::create_directory(dir / "folder.pk");
  RunResult folder = run_program(PK_ENGINE, "folder.pk", dir.path());
  EXPECT_EQ(folder.code, 21);
  EXPECT_NE(folder.out.find("ERROR: cannot read folder.pk: Is a directory\n"), std::string::npos) << folder.out;

  RunResult nodir = run_program(PK_ENGINE, "empty.pk nowhere", dir.path());
  EXPECT_EQ(nodir.code, 1);  // the empty input ends the run before the directory is entered
}

TEST(ExitPaths, MissingOutputDirectory) {
  ScratchDir dir;
  pktest::write_packets(dir / "in.pk", {pktest::make_packet(pktest::Header{.type = "SH"}, ' ')});
  RunResult r = run_program(PK_ENGINE, "in.pk nowhere", dir.path());
  EXPECT_EQ(r.code, 10);
  EXPECT_NE(r.out.find("\nUnable to change to directory nowhere"), std::string::npos);
}

}  // namespace
