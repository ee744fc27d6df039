// Output files taken by exclusive creation, so that runs writing into one directory at
// the same time never share a file, and a file left by an earlier run is never reused.
#pragma once

#include <string>

#include "lists.h"
#include "pkfile.h"
#include "run.h"

namespace pk {

// Candidate k (0 to kNameCandidates - 1) of a "YYYY_DDD_..." file name: the name itself,
// then the name with its eighth character (the last digit of the day of year) replaced
// by 'A', 'B', ... 'X' - the rule the channel data files follow.
inline constexpr int kNameCandidates = 25;
std::string name_candidate(const std::string& name, int k);

enum class ClaimResult { claimed, all_taken, failed };

struct Claim {
  ClaimResult result;
  std::string path;  // the created file; for a failure the path that could not be created
};

// Creates, empty, the first candidate of `dir + name` that does not exist yet.
// Only an existing name moves on to the next candidate; any other error fails at once.
Claim claim_unique(const std::string& dir, const std::string& name);

// As claim_unique for files the run cannot do without: when every candidate is taken
// the run ends with code 23, when the file cannot be created with code 20.
std::string claim_unique_or_exit(Run& run, const std::string& dir, const std::string& name);

// Whether a channel's data file is one this run created. With a sample limit of 0 the
// engine only picks a name that is free at the time and creates nothing, so a file that
// turns up under it later belongs to another run and must be neither read nor deleted.
inline bool own_data_file(const Run& run, const File_list_str& chan) {
  return run.Samp_cnt != 0 && !chan.Filename.empty() && fexist(chan.Filename);
}

}  // namespace pk
