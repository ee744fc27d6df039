// Generated field deployments for the whole-program tests: packet recordings of several
// units, events and channels, and HBK files, each with the samples the programs must
// deliver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hbk2sac/block.h"
#include "tests/support/pkenc.h"

namespace e2e {

using Samples = std::vector<int32_t>;

struct PacketDeployment {
  std::vector<pktest::Packet> packets;
  // The samples of every channel of every event, as the encoder wrote them.
  std::vector<Samples> channels;
};

struct PacketShape {
  unsigned seed = 1;
  // Every channel of an event equally long, so that shot gathers neither cut nor pad.
  bool equal_lengths = false;
};

// Three units (one with the id 0) interleaved packet by packet; per unit five events, two
// of them starting in the same second, one with twelve channels and a gap in time, one on
// stream 2 without trailer, one without header. Units and times depend on nothing, so
// deployments of different seeds collide on every output name; samples differ per seed.
PacketDeployment make_packet_deployment(const PacketShape& shape);

// The bytes of a packet file.
std::string packet_bytes(const std::vector<pktest::Packet>& packets);

// What a run with -T<trash> -S<limit> keeps of each channel.
std::vector<Samples> kept_by_switches(const std::vector<Samples>& channels, uint32_t trash, uint32_t limit);

struct HbkDeployment {
  std::vector<hbk::Block> blocks;
  // The SAC file's samples: every usable block once, in time order, gaps filled.
  Samples expected;
};

constexpr int32_t kGapFill = -2147483647;

// One stream at 100 Hz in 2.5 s blocks with gaps, and blocks the converter must skip:
// another stream, a repeated block, an invalid block.
HbkDeployment make_hbk_deployment(unsigned seed, int blocks);

}  // namespace e2e
