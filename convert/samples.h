// The sample decoders of the engine: each appends what a channel still accepts of one DT
// packet's samples to the channel's data file, applying the discard count, the sample
// limit and the QC sums.
#pragma once

#include <cstdint>

#include "common/decode.h"
#include "convert/lists.h"
#include "convert/run.h"

namespace pk {

void proc_16_blk(const SampleRules& rules, ChannelNode& file, const uint8_t* pkt);
void proc_32_raw(const SampleRules& rules, ChannelNode& file, const uint8_t* pkt);
// The compressed formats return what the decoder found, for the caller to report a packet
// that does not add up.
CompressedResult proc_c0_blk(const SampleRules& rules, ChannelNode& file, const uint8_t* pkt);
CompressedResult proc_c2_blk(const SampleRules& rules, ChannelNode& file, const uint8_t* pkt);

}  // namespace pk
