#include "e2e_run.h"

#include <cstdlib>
#include <filesystem>

namespace e2e {

std::vector<testkit::RunResult> run_together(const std::vector<Launch>& launches, const std::string& cwd) {
  namespace fs = std::filesystem;
  const std::string ctl = cwd + "/.launch";
  fs::create_directories(ctl);
  // Each run waits for the "go" file so that all of them start while the others run.
  std::string cmd = "cd '" + cwd + "' || exit 1; ";
  for (std::size_t i = 0; i < launches.size(); ++i) {
    const std::string n = ctl + "/" + std::to_string(i);
    cmd += "( while [ ! -e '" + ctl + "/go' ]; do sleep 0.01; done; '" + launches[i].program + "' " +
           launches[i].args + " > '" + n + ".out' 2>&1; echo $? > '" + n + ".rc' ) & ";
  }
  cmd += "touch '" + ctl + "/go'; wait";
  std::system(cmd.c_str());
  std::vector<testkit::RunResult> results;
  for (std::size_t i = 0; i < launches.size(); ++i) {
    const std::string n = ctl + "/" + std::to_string(i);
    const std::string rc = testkit::read_file(n + ".rc");
    results.push_back({rc.empty() ? -1 : std::atoi(rc.c_str()), testkit::read_file(n + ".out")});
  }
  fs::remove_all(ctl);
  return results;
}

}  // namespace e2e
