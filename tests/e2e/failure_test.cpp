// Runs that cannot finish end with their code and leave nothing half done behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "deployment.h"
#include "e2e_run.h"
#include "outputs.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testkit::ScratchDir;

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
