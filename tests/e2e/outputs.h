// Small readers of what the programs leave in an output tree: the samples of every SEG-Y
// trace, SEISAN channel and SAC file, and every file that should not be there.
#pragma once

#include <string>
#include <vector>

#include "tests/e2e/deployment.h"

namespace e2e {

struct Collected {
  std::vector<Samples> sequences;   // one per trace or channel found
  std::vector<std::string> stray;   // files no finished run should leave behind
  std::vector<std::string> broken;  // output files whose structure does not add up
};

// Walks `dir` recursively. SEG-Y traces (.RSY, .SGY) and gathers (.EGY, .RGY) give one
// sequence per trace, .SEI files one per channel; `ignore` names files to pass over.
Collected collect_packet_outputs(const std::string& dir, const std::vector<std::string>& ignore = {});

// The samples of a SAC file; `broken` is set when the file does not hold npts samples.
Samples read_sac(const std::string& path, bool big_endian, bool& broken);

// The names, each followed by a space, for a failure message.
std::string joined(const std::vector<std::string>& names);

// Empty when `found` holds exactly the sequences of `expected`, each as often; otherwise
// a short account of what is missing and what came extra.
std::string compare_sequences(std::vector<Samples> expected, std::vector<Samples> found);

}  // namespace e2e
