// How a channel's samples lie in its data file: 32-bit integers in the byte order of the
// output format, appended after whatever room the writer reserved at the file's head.
// pk_seis's data files may hold them already in the PC record framing of a SEISAN file,
// so that the finished file holds the channel's whole sample record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/decode.h"

namespace pk {

// PC record framing: a record goes out in blocks of up to 128 bytes, each between two
// copies of its length byte; a full block that the record continues past carries 129.
inline constexpr std::size_t kBlockData = 128;
inline constexpr uint8_t kFullBlock = 129;
inline constexpr std::size_t kSampleBytes = 4;
inline constexpr std::size_t kBlockSamples = kBlockData / kSampleBytes;
inline constexpr std::size_t kFramedBlock = kBlockData + 2;

struct SampleLayout {
  bool big_endian = true;
  bool pc_blocks = false;  // framed in PC record blocks as they are appended
};

// Room for one packet's samples laid out: each may open and close a block.
inline constexpr std::size_t kMaxLaidOutBytes = kMaxDtSamples * kSampleBytes + 2 * (kMaxDtSamples / kBlockSamples + 2);

// Lays out `samples`, which follow `before` samples already in the file, into `out`;
// returns the bytes written. A block opened here carries 129 until the record is complete.
std::size_t lay_out_samples(const SampleLayout& layout, uint64_t before, std::span<const int32_t> samples,
                            uint8_t* out);

// The bytes of the complete record of `count` samples: for PC blocks, with the short
// last block closed.
uint64_t record_bytes(const SampleLayout& layout, uint64_t count);

// What a PC-block file of `count` samples lacks to be the complete record: the length of
// its short last block, written at the block's start (`at`) and once more at the end.
struct ShortBlock {
  uint64_t at;
  uint8_t length;
};
std::optional<ShortBlock> short_last_block(uint64_t count);

}  // namespace pk
