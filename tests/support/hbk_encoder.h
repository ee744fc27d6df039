// Test-support writer of HBK blocks in their file form (big-endian), so tests
// can build exactly the blocks a case needs.
#pragma once

#include "hbk2sac/block.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hbktest {

struct BlockFields {
  std::uint32_t sysid = 0;
  std::uint32_t streamid = 0;
  std::uint32_t timecode = 0;
  std::uint8_t rate_code = 100;
  unsigned compression = 4;  // bits 2..0 of the packing byte, written as given
  unsigned fraction = 0;     // bits 7..4 of the packing byte
  std::int32_t initial = 0;
  // Differences in order; their count is padded with zeros to whole records.
  std::vector<std::int32_t> diffs;
  // Written instead of the count that the differences need.
  std::optional<std::uint8_t> record_count;
  std::uint32_t trailing = 0;
};

std::uint32_t text_to_id(const std::string& text, bool high_bit = false);
std::uint32_t make_timecode(std::uint32_t days, std::uint32_t seconds);

// The time code of a calendar date, seconds after that day's midnight.
std::uint32_t timecode_for_date(int year, int month, int day, std::uint32_t seconds);

hbk::Block encode_block(const BlockFields& fields);

// A block whose samples are exactly `samples`: the initial value is the first
// sample and each difference the step to the next. The caller's compression
// must hold every difference.
BlockFields fields_from_samples(const std::vector<std::int32_t>& samples, unsigned compression);

void write_blocks(const std::string& path, const std::vector<hbk::Block>& blocks,
                  const std::string& tail = "");

}  // namespace hbktest
