// HBK blocks: fixed 1024-byte, self-describing records of one digitiser
// stream. Fields are big-endian in the file; `swap_block` turns a block into
// host order once, and every accessor below reads the host-order form.
#pragma once

#include "hbk2sac/accuratetime.h"
#include "common/byte_order.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace hbk {

constexpr std::size_t kBlockSize = 1024;
using Block = std::array<std::uint8_t, kBlockSize>;

namespace off {
constexpr std::size_t sysid = 0;
constexpr std::size_t streamid = 4;
constexpr std::size_t timecode = 8;
constexpr std::size_t rate_code = 13;
constexpr std::size_t packing = 14;
constexpr std::size_t record_count = 15;
constexpr std::size_t initial = 16;
constexpr std::size_t records = 20;
}  // namespace off

// More records would not fit between the records' offset and the block's end
// together with the trailing word.
constexpr unsigned kMaxRecords = 250;

inline std::uint32_t host_u32_at(const Block& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
inline std::int32_t host_i32_at(const Block& b, std::size_t at) {
  std::int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

inline std::uint32_t block_sysid(const Block& b) { return host_u32_at(b, off::sysid); }
inline std::uint32_t block_streamid(const Block& b) { return host_u32_at(b, off::streamid); }
inline std::uint32_t block_timecode(const Block& b) { return host_u32_at(b, off::timecode); }
inline std::uint8_t block_rate_code(const Block& b) { return b[off::rate_code]; }
inline unsigned block_compression(const Block& b) { return b[off::packing] & 0x07u; }
inline unsigned block_fraction(const Block& b) { return b[off::packing] >> 4; }
inline unsigned block_record_count(const Block& b) { return b[off::record_count]; }
inline std::int32_t block_initial_value(const Block& b) { return host_i32_at(b, off::initial); }
inline unsigned block_sample_count(const Block& b) {
  return block_compression(b) * block_record_count(b);
}

void swap_block(Block& b);
std::string id_to_text(std::uint32_t id);
std::uint16_t rate_from_code(std::uint8_t code);

Micros block_start_time(const Block& b);
Micros block_duration(const Block& b);
Micros block_end_time(const Block& b);
bool block_is_valid(const Block& b);

inline std::int32_t wrap_add(std::int32_t acc, std::int32_t diff) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(acc) +
                                   static_cast<std::uint32_t>(diff));
}

// Most samples a block can hold: 4 differences in each of its 250 records.
constexpr unsigned kMaxBlockSamples = 4 * kMaxRecords;
using BlockSamples = std::array<std::int32_t, kMaxBlockSamples>;

// Writes the samples of a host-order block in order into `out` and returns
// their number. Blocks that fail `block_is_valid` yield none.
unsigned expand_samples(const Block& b, BlockSamples& out);

}  // namespace hbk
