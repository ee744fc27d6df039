// miniSEED records as libmseed reads them back, for the tests.
#pragma once

#include <libmseed.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mseedtest {

struct Record {
  std::string network, station, location, channel;
  char quality = 0;
  int reclen = 0;
  int encoding = 0;
  int64_t start_us = 0;
  double rate = 0;
  std::vector<int32_t> samples;
  bool frames_whole = true;  // sample count as the header says; Steim X0 and Xn match
};

std::vector<Record> read_records(const std::string& path);

}  // namespace mseedtest
