// The fixed part of a 1024-byte miniSEED data record with Steim-1 or Steim-2 frames, for
// the benchmark inputs and interoperability tests that give the reference converters the
// same samples as ours.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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

// The frames of a 1024-byte compressed data packet as a miniSEED record of a station of
// its own (R000, R001, ... by `index`), so that mseed2sac decodes every record into a SAC
// file of its own, named in record order. Format byte 0xC2 takes encoding 11, others 10.
MseedRecord packet_frames_record(const uint8_t* packet, std::size_t index);

// What mseed2sac decodes from such records, one sample list per record; SAC holds floats,
// so only samples a float represents exactly come back exact. Empty when mseed2sac fails.
std::vector<std::vector<int32_t>> mseed2sac_records(const std::string& records, const std::filesystem::path& scratch);

}  // namespace testkit
