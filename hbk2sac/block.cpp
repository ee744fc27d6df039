#include "hbk2sac/block.h"

#include <algorithm>
#include <bit>

namespace hbk {

namespace {

constexpr bool kHostIsLittleEndian = std::endian::native == std::endian::little;

// Whole-word loads and stores: assembled byte by byte, the compiler kept every byte
// a load of its own in the loops over the records.
void be32_to_host(Block& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  if (kHostIsLittleEndian) v = pk::byte_swapped(v);
  std::memcpy(b.data() + at, &v, 4);
}

void be16_to_host(Block& b, std::size_t at) {
  std::uint16_t v;
  std::memcpy(&v, b.data() + at, 2);
  if (kHostIsLittleEndian) v = std::uint16_t(v << 8 | v >> 8);
  std::memcpy(b.data() + at, &v, 2);
}

struct RateEntry {
  std::uint8_t code;
  std::uint16_t rate;
};

// Rates above 255 Hz cannot be their own code; every other code is the rate.
constexpr RateEntry kCodedRates[] = {
    {171, 400}, {174, 500}, {176, 1000}, {179, 2000}, {181, 4000},
};

constexpr char kBase36Digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Running sum of the host-order differences of type Diff in the block's records;
// each 32-bit record holds 4 / sizeof(Diff) of them.
template <class Diff>
unsigned add_up_differences(const Block& b, BlockSamples& out) {
  constexpr unsigned per_record = 4 / sizeof(Diff);
  const unsigned records = block_record_count(b);
  const std::uint8_t* at = b.data() + off::records;
  std::int32_t acc = block_initial_value(b);
  for (unsigned r = 0; r < records; ++r) {
    for (unsigned k = 0; k < per_record; ++k, at += sizeof(Diff)) {
      Diff diff;
      std::memcpy(&diff, at, sizeof diff);
      acc = wrap_add(acc, diff);
      out[per_record * r + k] = acc;
    }
  }
  return per_record * records;
}

}  // namespace

void swap_block(Block& b) {
  be32_to_host(b, off::sysid);
  be32_to_host(b, off::streamid);
  be32_to_host(b, off::timecode);
  if (block_rate_code(b) == 0) return;
  be32_to_host(b, off::initial);
  // A record count above the limit marks the block invalid, but must not
  // lead the conversion past the buffer.
  const unsigned n = std::min(block_record_count(b), kMaxRecords);
  be32_to_host(b, off::records + 4 * n);
  switch (block_compression(b)) {
    case 1:
      for (unsigned i = 0; i < n; ++i) be32_to_host(b, off::records + 4 * i);
      break;
    case 2:
      for (unsigned i = 0; i < 2 * n; ++i) be16_to_host(b, off::records + 2 * i);
      break;
    default:
      break;
  }
}

std::string id_to_text(std::uint32_t id) {
  // With bit 31 set only the low 26 bits carry the name.
  std::uint32_t v = (id & 0x80000000u) ? (id & 0x03FFFFFFu) : id;
  std::string text;
  do {
    text.insert(text.begin(), kBase36Digits[v % 36]);
    v /= 36;
  } while (v != 0);
  return text;
}

std::uint16_t rate_from_code(std::uint8_t code) {
  for (const RateEntry& e : kCodedRates)
    if (e.code == code) return e.rate;
  return code;
}

Micros block_start_time(const Block& b) {
  const Micros base = timecode_to_us(block_timecode(b));
  const std::uint8_t code = block_rate_code(b);
  if (code == 0) return base;
  const std::int64_t rate = rate_from_code(code);
  const std::int64_t divisor = rate == 400 ? 50 : 250;
  const std::int64_t fraction = block_fraction(b);
  return base + fraction * kUsPerSecond * divisor / rate;
}

Micros block_duration(const Block& b) {
  const std::uint8_t code = block_rate_code(b);
  if (code == 0) return 0;
  const std::uint32_t span =
      std::uint32_t(block_compression(b)) * std::uint32_t(block_record_count(b)) * 1'000'000u;
  return Micros(span / std::uint32_t(rate_from_code(code)));
}

Micros block_end_time(const Block& b) { return block_start_time(b) + block_duration(b); }

bool block_is_valid(const Block& b) {
  const unsigned comp = block_compression(b);
  return block_record_count(b) <= kMaxRecords && (comp == 1 || comp == 2 || comp == 4);
}

unsigned expand_samples(const Block& b, BlockSamples& out) {
  if (!block_is_valid(b)) return 0;
  switch (block_compression(b)) {
    case 1: return add_up_differences<std::int32_t>(b, out);
    case 2: return add_up_differences<std::int16_t>(b, out);
    case 4: return add_up_differences<std::int8_t>(b, out);
    default: return 0;
  }
}

}  // namespace hbk
