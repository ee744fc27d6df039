// Both compressed formats against reference vectors in tests/data: packets whose expected
// samples an independent decoder produced (see tests/support/make_reference_frames.cpp).
// Every difference width at its sign boundaries, the largest differences, differences that
// wrap around 32 bits, full packets and every alias of the format byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/decode.h"
#include "common/pkfile.h"
#include "tests/support/testkit.h"

namespace {

const std::filesystem::path kData = std::filesystem::path(PK_SOURCE_DIR) / "tests" / "data";

std::vector<std::vector<int32_t>> expected_samples(const std::string& text) {
  std::vector<std::vector<int32_t>> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<int32_t>& packet = out.emplace_back();
    for (int32_t v; words >> v;) packet.push_back(v);
  }
  return out;
}

TEST(ReferenceVectors, EachPacketDecodesToTheIndependentDecodersSamples) {
  for (const char* name : {"compressed-c0", "compressed-c2"}) {
    SCOPED_TRACE(name);
    const std::string packets = testkit::read_file(kData / (std::string(name) + ".pk"));
    const auto expected = expected_samples(testkit::read_file(kData / (std::string(name) + ".samples")));
    ASSERT_EQ(packets.size(), expected.size() * pk::kPacketSize);
    ASSERT_FALSE(expected.empty());
    int32_t last = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(i);
      const auto* p = reinterpret_cast<const uint8_t*>(packets.data() + i * pk::kPacketSize);
      std::vector<int32_t> out(pk::kMaxC2Samples + 1, 0x5A5A5A5A);
      const bool second = pk::dt_sample_format(p[23]) == pk::SampleFormat::compressed2;
      ASSERT_TRUE(second || pk::dt_sample_format(p[23]) == pk::SampleFormat::compressed);
      const pk::CompressedResult r = (second ? pk::decode_c2 : pk::decode_c0)(p, last, out.data());
      out.resize(r.count);
      EXPECT_EQ(out, expected[i]);
      EXPECT_EQ(r.d0, static_cast<int32_t>(static_cast<uint32_t>(expected[i][0]) - static_cast<uint32_t>(last)));
      EXPECT_FALSE(r.needs_report()) << "read " << r.x0 << ".." << r.xn << ", calc " << r.calc_start << ".."
                                     << r.calc_stop;
      last = expected[i].back();
    }
  }
}

}  // namespace
