// report.html as a browser and an XML parser see it.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/pkenc.h"
#include "tests/report/report_kit.h"

namespace {

namespace fs = std::filesystem;
using namespace testkit;

// Unit 0D4F: channel 1 in two events ten seconds apart, channel 2 in the first; one trace
// file renamed to carry markup, and a failed run whose output carries more.
void write_outputs(const ScratchDir& dir) {
  std::vector<pktest::Packet> packets;
  for (unsigned e = 1; e <= 2; ++e) {
    pktest::Recording rec{.unit = 0x0D4F, .event = e, .start = e == 1 ? "2010001000000000" : "2010001000010000"};
    for (unsigned c = 0; c < 3 - e; ++c) rec.channels.push_back({.channel = c, .format = pktest::kFmt32, .samples = ramp(100, 0, 1)});
    const auto p = rec.packets();
    packets.insert(packets.end(), p.begin(), p.end());
  }
  pktest::write_packets(dir / "in.pk", packets);
  fs::create_directories(dir / "out/segy/in.pk");
  ASSERT_EQ(run_program(program_path("pk_segy"), "-VN in.pk out/segy/in.pk", dir.path().string()).code, 0);
  fs::rename(dir / "out/segy/in.pk/2010_001_00_00_10_00D4F_1_1.RSY", dir / "out/segy/in.pk/2010_001_00_00_10_00D4F_1_1<&'\",x>.RSY");
  fs::create_directories(dir / "out/runs/segy");
  write_file(dir / "out/runs/segy/in.pk.run", "input: in<&>.pk\nprogram: pk_segy\noutput: segy/in.pk\nstatus: 2\n"
                                              "stderr| <script>alert(1)</script> \xff\x01 end\n"
                                              "stderr| WARNING: a failed run's warning is not its status\nstdout| last words\n");
}

TEST(Page, TextOfNamesAndRunsIsEscapedAndThePageIsWellFormedXml) {
  ScratchDir dir;
  write_outputs(dir);
  reporttest::run_pk_report(dir / "out");
  const std::string html = read_file(dir / "out/report.html");
  EXPECT_EQ(html.find("<script>"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt; \xEF\xBF\xBD\xEF\xBF\xBD end"), std::string::npos);
  EXPECT_NE(html.find("1_1&lt;&amp;&#39;&quot;,x&gt;.RSY"), std::string::npos);
  // The traces of a run that failed carry its failure.
  bool renamed_found = false;
  for (const auto& row : reporttest::report_rows(dir / "out")) {
    renamed_found |= row.at("file") == "segy/in.pk/2010_001_00_00_10_00D4F_1_1<&'\",x>.RSY";
    if (row.at("program") == "pk_segy" && !row.at("unit").empty()) {
      EXPECT_EQ(row.at("status"), "exit status 2: <script>alert(1)</script> \xff\x01 end");
    }
  }
  EXPECT_TRUE(renamed_found);
  if (!on_path("xmllint")) GTEST_SKIP() << "xmllint (libxml2-utils) is not installed";
  EXPECT_EQ(run_shell("xmllint --noout '" + (dir / "out/report.html") + "'"), 0);
}

// A report that does not fit ends with the write-error code and leaves no half-written file.
TEST(Page, AFullDiskEndsWithTheWriteErrorCode) {
  ScratchDir dir;
  write_outputs(dir);
  const RunResult r = run_program(program_path("pk_report"), "out", dir.path().string(), "trap '' XFSZ; ulimit -f 4;");
  EXPECT_EQ(r.code, 22) << r.out;
  EXPECT_NE(r.out.find("ERROR: cannot write out/report.html: File too large\n"), std::string::npos) << r.out;
  for (const std::string& f : list_files(dir / "out")) EXPECT_FALSE(f.ends_with(".part") || f == "report.html") << f;
}

}  // namespace
