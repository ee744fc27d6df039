// The fixed part of a 1024-byte miniSEED data record with Steim-1 or Steim-2 frames, for
// the benchmark inputs and interoperability tests that give the reference converters the
// same samples as ours.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace testkit {

constexpr std::size_t kMseedRecordSize = 1024;
constexpr std::size_t kMseedFramesAt = 64;  // 15 frames of 64 bytes follow the header
using MseedRecord = std::array<uint8_t, kMseedRecordSize>;
// Blockette 1000 encodings of the two compressed packet formats' frames.
constexpr uint8_t kSteim1 = 10, kSteim2 = 11;

struct MseedHeader {
  long sequence = 1;  // written modulo 1000000
  std::string station, location, channel, network;
  unsigned year = 1970, day_of_year = 1, hour = 0, minute = 0, second = 0;
  unsigned tenth_ms = 0;  // fraction of the start second in units of 100 microseconds
  unsigned samples = 0;
  uint16_t rate = 100;  // whole samples per second
  uint8_t encoding = kSteim1;
};

// The fixed header and blockette 1000 (the encoding, big-endian words, 2^10-byte records).
void put_mseed_header(MseedRecord& r, const MseedHeader& h);

}  // namespace testkit
