// An SDS tree read back with libmseed as one map of samples, for the archive tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/mseed_files.h"

namespace sdstest {

using mseedtest::append_records, mseedtest::read_records, mseedtest::utc;
using mseedtest::kSecond, mseedtest::Record, mseedtest::Stream;

using Samples = std::map<std::pair<std::string, int64_t>, int32_t>;  // (id, time) -> value

// Every day file of an SDS tree. `problems` lists what no archive may hold: a sample
// outside its file's day, a record overlapping the one before by half an interval or
// more, a sample twice, a temporary left behind.
struct Archive {
  Samples samples;
  std::vector<std::string> files;  // relative paths of the day files
  std::vector<std::string> problems;
  std::map<std::string, std::vector<int>> encodings;  // of every record, by day file name
};
Archive read_archive(const std::filesystem::path& root);

// The samples of `values`[k] at start + k / rate, as an archive holds them.
void add_expected(Samples& into, const Stream& s, int64_t start, const std::vector<int32_t>& values);

}  // namespace sdstest
