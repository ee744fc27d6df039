// The bundled sample recording must stay what its generator writes, and must be a clean
// recording: every packet kind it promises, channels that decode without a report.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "decode.h"
#include "pkfile.h"

namespace {

std::vector<uint8_t> slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::filesystem::path kSample = std::filesystem::path(PK_SOURCE_DIR) / "samples" / "sample.pk";

TEST(SampleRecording, MatchesItsGenerator) {
  const auto dir = std::filesystem::temp_directory_path() / ("pk-sample-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string out = (dir / "sample.pk").string();
  const std::string cmd = std::string(PK_BIN_DIR) + "/make_sample_pk " + out + " >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  EXPECT_EQ(slurp(out), slurp(kSample)) << "samples/sample.pk is stale: regenerate it with make_sample_pk";
  std::filesystem::remove_all(dir);
}

TEST(SampleRecording, HoldsOneCleanEventInThreeFormats) {
  const std::vector<uint8_t> bytes = slurp(kSample);
  ASSERT_FALSE(bytes.empty());
  ASSERT_EQ(bytes.size() % pk::kPacketSize, 0u);
  ASSERT_LE(bytes.size(), 32u * 1024);

  std::map<int, int> types;
  std::map<uint8_t, std::size_t> samples_by_format;
  std::map<unsigned, std::size_t> samples_by_channel;
  std::map<unsigned, int32_t> last;
  std::vector<int32_t> out(pk::kMaxC0Samples);
  unsigned prev_seq = 0;
  bool in_event = false;
  for (std::size_t off = 0; off < bytes.size(); off += pk::kPacketSize) {
    const uint8_t* p = bytes.data() + off;
    const int type = pk::code_set(p);
    ++types[type];
    EXPECT_EQ(pk::header_unit_id(p), pk::header_unit_id(bytes.data()));
    if (type == pk::kEH) in_event = true;
    if (in_event && type != pk::kEH) {
      EXPECT_EQ(pk::header_seq_num(p), prev_seq + 1);
    }
    if (type == pk::kET) in_event = false;
    prev_seq = pk::header_seq_num(p);
    if (type != pk::kDT) continue;
    const unsigned ch = pk::bcd2i(p + 19, 1);
    std::size_t n = 0;
    switch (pk::dt_sample_format(p[23])) {
      case pk::SampleFormat::kInt16: n = pk::decode_16(p, out.data()); break;
      case pk::SampleFormat::kInt32: n = pk::decode_32(p, out.data()); break;
      case pk::SampleFormat::kCompressed: {
        const pk::c0_result r = pk::decode_c0(p, last[ch], out.data());
        EXPECT_FALSE(r.needs_report()) << "packet at " << off;
        last[ch] = r.xn;
        n = r.count;
        break;
      }
      default: ADD_FAILURE() << "unknown format at " << off;
    }
    samples_by_format[p[23]] += n;
    samples_by_channel[ch] += n;
  }
  for (int t : {pk::kEH, pk::kET, pk::kSC, pk::kDS, pk::kOM, pk::kSH}) EXPECT_EQ(types[t], 1) << "type " << t;
  EXPECT_GE(types[pk::kDT], 3);
  EXPECT_EQ(types[pk::kUnknown], 0);
  EXPECT_EQ(samples_by_format.size(), 3u);
  EXPECT_EQ(samples_by_channel.size(), 3u);
  for (const auto& [ch, n] : samples_by_channel) EXPECT_GE(n, 200u) << "channel " << ch;
}

}  // namespace
