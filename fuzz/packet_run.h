// Whole runs of the packet programs over a fuzzer input: the first byte picks the
// switches, the rest is the packet file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pk {
class Writer;
}

namespace pkfuzz {

enum class Program { segy, seis };

// The switches that option byte `options` selects; logging and QC are always on.
//   bit 0     -HY (pk_segy) or -DY (pk_seis)
//   bits 1-2  pk_segy: no gather, -GS, -GR, or no settings file;
//             pk_seis: bit 1 set means no settings file, bit 2 is unused
//   bits 3-4  path levels -P0, -P1, -P2, -P4
//   bits 5-6  sample limits: none, -S300, -S0, -T50 -S1000
//   bit 7     -VY (a line per packet) instead of -VN
struct RunOptions {
  std::vector<std::string> switches;
  bool settings_file = true;
};
RunOptions run_options(Program program, uint8_t options);

// The option byte that the seed corpus puts in front of every recording.
constexpr uint8_t kSeedOptions = 0x00;

// Converts `data` (option byte + packet file) with `writer` in the scratch
// directory and cleans up after it. Aborts when the run leaks a file.
void run_packet_program(Program program, pk::Writer& writer, const uint8_t* data, std::size_t size);

}  // namespace pkfuzz
