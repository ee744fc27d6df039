// Writes the same samples twice, as an HBK file and as a Steim-1 miniSEED
// file, for the side-by-side benchmark of hbk2sac and the reference converter.
// Usage: make_bench_inputs SAMPLES COMPRESSION out.hbk out.mseed
#include "tests/support/hbk_encoder.h"
#include "tests/support/mseed_writer.h"
#include "tests/support/testkit.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: make_bench_inputs SAMPLES COMPRESSION out.hbk out.mseed\n");
    return 2;
  }
  const long total = std::atol(argv[1]);
  const unsigned comp = unsigned(std::atoi(argv[2]));
  if (total <= 0 || (comp != 1 && comp != 2 && comp != 4)) {
    std::fprintf(stderr, "make_bench_inputs: bad sample count or compression\n");
    return 2;
  }
  const testkit::UniqueFile hbk(std::fopen(argv[3], "wb"));
  const testkit::UniqueFile mseed(std::fopen(argv[4], "wb"));
  if (!hbk || !mseed) {
    std::fprintf(stderr, "make_bench_inputs: cannot create the outputs\n");
    return 1;
  }

  const std::uint32_t rate = 100;
  const std::uint32_t start_code = hbktest::timecode_for_date(2022, 3, 1, 0);
  hbktest::MseedStream stream;
  stream.rate = std::uint16_t(rate);
  stream.start_us = hbk::timecode_to_us(start_code);
  hbktest::MseedWriter ms(mseed.get(), stream);

  const unsigned per_block = comp * hbk::kMaxRecords;  // whole seconds at 100 Hz
  testkit::RandomWalk walk(42);
  std::vector<std::int32_t> samples;
  for (long done = 0; done < total;) {
    samples.clear();
    for (unsigned i = 0; i < per_block && done < total; ++i, ++done) samples.push_back(walk.next());
    while (samples.size() % comp != 0) samples.push_back(samples.back());
    for (std::int32_t v : samples) ms.put(v);
    const long first = done - long(samples.size());
    hbktest::BlockFields fields = hbktest::fields_from_samples(samples, comp);
    fields.sysid = hbktest::text_to_id("BENCH");
    fields.streamid = hbktest::text_to_id("HHZ1");
    fields.rate_code = std::uint8_t(rate);
    // Blocks of 250 samples start on half seconds: at 100 Hz the
    // time-fraction numerator 1 adds 2.5 s to the whole seconds.
    const bool half = first % rate != 0;
    fields.fraction = half ? 1 : 0;
    const std::uint32_t second = std::uint32_t(first / rate) - (half ? 2 : 0);
    fields.timecode = hbktest::make_timecode((start_code >> 17) + second / 86400, second % 86400);
    const hbk::Block b = hbktest::encode_block(fields);
    std::fwrite(b.data(), 1, b.size(), hbk.get());
  }
  ms.finish();
  return std::ferror(hbk.get()) || std::ferror(mseed.get()) ? 1 : 0;
}
