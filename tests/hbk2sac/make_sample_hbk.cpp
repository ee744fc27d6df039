// Writes the bundled sample recording: one 100 Hz vertical stream in six
// blocks using all three compressions, with a 2.5 s gap before block 5.
#include "tests/support/hbk_encoder.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <numbers>

namespace {

// A slow swell with a faster ripple, small enough per step for 8-bit packing.
std::int32_t signal_at(long i) {
  const double t = double(i) / 100.0;
  return std::int32_t(std::lround(4000.0 * std::sin(2 * std::numbers::pi * 0.05 * t) +
                                  300.0 * std::sin(2 * std::numbers::pi * 1.3 * t)));
}

struct Piece {
  unsigned compression;
  unsigned samples;
  long first_sample;      // index on the 100 Hz grid from the recording's start
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample_hbk output.hbk\n");
    return 2;
  }
  // At 100 Hz a time-fraction numerator F moves a block by F x 2.5 s.
  const Piece pieces[] = {
      {4, 1000, 0}, {2, 500, 1000}, {1, 250, 1500}, {4, 1000, 1750}, {2, 500, 3000}, {1, 250, 3500},
  };
  const std::uint32_t day = hbktest::timecode_for_date(2021, 6, 15, 0) >> 17;
  const std::uint32_t start_second = 12 * 3600 + 30 * 60;
  std::vector<hbk::Block> blocks;
  for (const Piece& p : pieces) {
    std::vector<std::int32_t> samples;
    for (unsigned i = 0; i < p.samples; ++i) samples.push_back(signal_at(p.first_sample + i));
    hbktest::BlockFields fields = hbktest::fields_from_samples(samples, p.compression);
    const long centis = p.first_sample;  // 100 Hz: one sample per centisecond
    const unsigned fraction = (centis % 100) == 50 ? 1 : 0;
    fields.sysid = hbktest::text_to_id("DEMO", true);
    fields.streamid = hbktest::text_to_id("HHZ1");
    fields.rate_code = 100;
    fields.fraction = fraction;
    fields.timecode = hbktest::make_timecode(
        day, start_second + std::uint32_t(centis / 100) - (fraction ? 2 : 0));
    blocks.push_back(hbktest::encode_block(fields));
  }
  try {
    hbktest::write_blocks(argv[1], blocks);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_sample_hbk: %s\n", e.what());
    return 1;
  }
  return 0;
}
