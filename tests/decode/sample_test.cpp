// The bundled sample recording must stay what its generator writes, and must be a clean
// recording: every packet kind it promises, channels that decode without a report.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/decode.h"
#include "common/pkfile.h"
#include "tests/support/testkit.h"

namespace {

const std::filesystem::path kSample = std::filesystem::path(PK_SOURCE_DIR) / "samples" / "sample.pk";

TEST(SampleRecording, MatchesItsGenerator) {
  const testkit::ScratchDir dir;
  const testkit::RunResult r = testkit::run_program(testkit::program_path("make_sample_pk"), "sample.pk", dir.path());
  ASSERT_EQ(r.code, 0) << r.out;
  EXPECT_TRUE(testkit::read_file(dir / "sample.pk") == testkit::read_file(kSample))
      << "samples/sample.pk is stale: regenerate it with make_sample_pk";
}

TEST(SampleRecording, HoldsOneCleanEventInThreeFormats) {
  const std::string raw = testkit::read_file(kSample);
  const std::vector<uint8_t> bytes(raw.begin(), raw.end());
  ASSERT_FALSE(bytes.empty());
  ASSERT_EQ(bytes.size() % pk::kPacketSize, 0u);
  ASSERT_LE(bytes.size(), 32u * 1024);

  std::map<pk::PacketType, int> types;
  std::map<uint8_t, std::size_t> samples_by_format;
  std::map<unsigned, std::size_t> samples_by_channel;
  std::map<unsigned, int32_t> last;
  std::vector<int32_t> out(pk::kMaxC0Samples);
  unsigned prev_seq = 0;
  bool in_event = false;
  for (std::size_t off = 0; off < bytes.size(); off += pk::kPacketSize) {
    const uint8_t* p = bytes.data() + off;
    const pk::PacketType type = pk::code_set(p);
    ++types[type];
    EXPECT_EQ(pk::header_unit_id(p), pk::header_unit_id(bytes.data()));
    if (type == pk::PacketType::eh) in_event = true;
    if (in_event && type != pk::PacketType::eh) {
      EXPECT_EQ(pk::header_seq_num(p), prev_seq + 1);
    }
    if (type == pk::PacketType::et) in_event = false;
    prev_seq = pk::header_seq_num(p);
    if (type != pk::PacketType::dt) continue;
    const unsigned ch = pk::bcd2i(p + 19, 1);
    std::size_t n = 0;
    switch (pk::dt_sample_format(p[23])) {
      case pk::SampleFormat::int16: n = pk::decode_16(p, out.data()); break;
      case pk::SampleFormat::int32: n = pk::decode_32(p, out.data()); break;
      case pk::SampleFormat::compressed: {
        const pk::CompressedResult r = pk::decode_c0(p, last[ch], out.data());
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
  using enum pk::PacketType;
  for (pk::PacketType t : {eh, et, sc, ds, om, sh}) EXPECT_EQ(types[t], 1) << "type " << static_cast<int>(t);
  EXPECT_GE(types[pk::PacketType::dt], 3);
  EXPECT_EQ(types[pk::PacketType::unknown], 0);
  EXPECT_EQ(samples_by_format.size(), 3u);
  EXPECT_EQ(samples_by_channel.size(), 3u);
  for (const auto& [ch, n] : samples_by_channel) EXPECT_GE(n, 200u) << "channel " << ch;
}

}  // namespace
