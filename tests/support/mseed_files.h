// miniSEED records for the tests, packed and read back with libmseed's own packing and
// file reader, so that what the programs write is checked independently of their code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mseedtest {

constexpr int64_t kSecond = 1000000;  // libmseed counts microseconds

// Microseconds since 1970 of a UTC date and time.
int64_t utc(int year, int month, int day, int hour, int minute, int second);

struct Stream {
  std::string network = "XX", station = "TST01", location = "", channel = "HHZ";
  double rate = 100;
  int8_t encoding = 11;  // Steim-2
  int reclen = 4096;
};

// The records holding `samples` from `start` on.
std::string pack_records(const Stream& s, int64_t start, const std::vector<int32_t>& samples);
// The same, appended to a file.
void append_records(const std::string& path, const Stream& s, int64_t start, const std::vector<int32_t>& samples);

struct Record {
  std::string network, station, location, channel;
  char quality = 0;
  int reclen = 0;
  int encoding = 0;
  int64_t start_us = 0;
  double rate = 0;
  std::vector<int32_t> samples;
  bool frames_whole = true;  // sample count as the header says; Steim X0 and Xn match

  std::string id() const { return network + '.' + station + '.' + location + '.' + channel; }
};

// Every record of a file; throws when libmseed cannot read one.
std::vector<Record> read_records(const std::string& path);

}  // namespace mseedtest
