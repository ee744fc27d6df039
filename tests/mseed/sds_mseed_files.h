// miniSEED files for the archive tests, written and read with libmseed's own packing
// and file reader, and an SDS tree read back as one map of samples.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sdstest {

constexpr int64_t kSecond = 1000000;  // libmseed counts microseconds

// Microseconds since 1970 of a UTC date and time.
int64_t utc(int year, int month, int day, int hour, int minute, int second);

struct Stream {
  std::string network = "XX", station = "TST01", location = "", channel = "HHZ";
  double rate = 100;
  int8_t encoding = 11;  // Steim-2
};

// Appends `samples` from `start` on as 4096-byte records.
void append_records(const std::string& path, const Stream& s, int64_t start, const std::vector<int32_t>& samples);

struct Record {
  std::string id;  // NET.STA.LOC.CHAN
  int64_t start;
  double rate;
  int encoding;
  std::vector<int32_t> samples;
};
std::vector<Record> read_records(const std::string& path);

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
