// Starting the built programs for the whole-program tests.
#pragma once

#include <string>
#include <vector>

#include "testkit.h"

namespace e2e {

struct Launch {
  std::string program;  // path of the executable
  std::string args;     // already quoted where needed
};

// Starts every launch at the same moment in `cwd`, each with its own output file, and
// waits for all of them; returns their exit codes and output in launch order.
std::vector<testkit::RunResult> run_together(const std::vector<Launch>& launches, const std::string& cwd);

}  // namespace e2e
