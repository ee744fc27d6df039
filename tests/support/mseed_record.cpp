#include "tests/support/mseed_record.h"

#include <algorithm>
#include <bit>
#include <cstdio>

#include "tests/support/output_readers.h"
#include "tests/support/testkit.h"

namespace testkit {

namespace {

void put_be16(MseedRecord& r, std::size_t off, unsigned v) {
  r[off] = static_cast<uint8_t>(v >> 8);
  r[off + 1] = static_cast<uint8_t>(v);
}

void put_padded(MseedRecord& r, std::size_t off, const std::string& text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) r[off + i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}

unsigned bcd(uint8_t byte) { return (byte >> 4) * 10u + (byte & 0x0F); }

}  // namespace

void put_mseed_header(MseedRecord& r, const MseedHeader& h) {
  char seq[8];
  std::snprintf(seq, sizeof seq, "%06ld", h.sequence % 1000000);
  put_padded(r, 0, seq, 6);
  r[6] = 'D';
  r[7] = ' ';
  put_padded(r, 8, h.station, 5);
  put_padded(r, 13, h.location, 2);
  put_padded(r, 15, h.channel, 3);
  put_padded(r, 18, h.network, 2);
  put_be16(r, 20, h.year);
  put_be16(r, 22, h.day_of_year);
  r[24] = static_cast<uint8_t>(h.hour);
  r[25] = static_cast<uint8_t>(h.minute);
  r[26] = static_cast<uint8_t>(h.second);
  put_be16(r, 28, h.tenth_ms);
  put_be16(r, 30, h.samples);
  put_be16(r, 32, h.rate);
  put_be16(r, 34, 1);  // rate multiplier
  r[39] = 1;           // one blockette follows
  put_be16(r, 44, kMseedFramesAt);
  put_be16(r, 46, 48);
  put_be16(r, 48, 1000);
  put_be16(r, 50, 0);
  r[52] = h.encoding;
  r[53] = 1;   // big-endian
  r[54] = 10;  // 2^10 bytes
}

MseedRecord packet_frames_record(const uint8_t* packet, std::size_t index) {
  char station[8];
  std::snprintf(station, sizeof station, "R%03zu", index % 1000);
  MseedRecord r{};
  put_mseed_header(r, {.station = station, .location = "", .channel = "HHZ", .network = "XX",
                       .samples = bcd(packet[20]) * 100 + bcd(packet[21]),
                       .encoding = packet[23] == 0xC2 ? kSteim2 : kSteim1});
  std::copy(packet + kMseedFramesAt, packet + kMseedRecordSize, r.begin() + kMseedFramesAt);
  return r;
}

std::vector<std::vector<int32_t>> mseed2sac_records(const std::string& records, const std::filesystem::path& scratch) {
  std::filesystem::create_directories(scratch / "sac");
  write_file(scratch / "records.mseed", records);
  if (run_program("mseed2sac", "../records.mseed", scratch / "sac").code != 0) return {};
  std::vector<std::vector<int32_t>> out;
  for (const std::string& name : list_files(scratch / "sac")) {
    // mseed2sac writes the byte order of the machine it runs on.
    const SacFile sac = read_sac(scratch / "sac" / name, std::endian::native == std::endian::big);
    std::vector<int32_t>& samples = out.emplace_back();
    for (const float v : sac.samples()) samples.push_back(static_cast<int32_t>(v));
  }
  return out;
}

}  // namespace testkit
