// Starting the built programs for the whole-program tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/testkit.h"

namespace e2e {

struct Launch {
  std::string program;  // path of the executable
  std::string args;     // already quoted where needed
  // When set: the run's input is a FIFO of this name in the working directory, and
  // `input` reaches it only once every run has started, so that all runs are under way
  // before any of them writes a file.
  std::string fed_input;
  std::string input;
};

// Starts every launch at the same moment in `cwd`, each with its own output file, and
// waits for all of them; returns their exit codes and output in launch order.
// `before_input` runs once every fed run has started and before its input flows.
std::vector<testkit::RunResult> run_together(const std::vector<Launch>& launches, const std::string& cwd,
                                             const std::function<void()>& before_input = {});

// Starts one fed launch, lets it read all of its input, then sends it `signal` while it
// waits for more.
testkit::RunResult run_interrupted(const Launch& launch, const std::string& cwd, int signal);

}  // namespace e2e
