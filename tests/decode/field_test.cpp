// Decoding of real recordings, read in place from the shared field-recordings directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <utility>
#include <vector>

#include "common/decode.h"
#include "common/pkfile.h"

namespace {

using Packet = std::vector<uint8_t>;

std::vector<Packet> read_field_packets(const char* name) {
  const std::filesystem::path path = std::filesystem::path(PK_FIELD_DIR) / name;
  std::vector<Packet> out;
  std::ifstream in(path, std::ios::binary);
  if (!in) return out;
  Packet p(pk::kPacketSize);
  while (in.read(reinterpret_cast<char*>(p.data()), static_cast<std::streamsize>(p.size()))) out.push_back(p);
  return out;
}

using ChannelKey = std::pair<unsigned, unsigned>;  // stream, channel

ChannelKey key_of(const Packet& p) { return {pk::bcd2i(p.data() + 18, 1), pk::bcd2i(p.data() + 19, 1)}; }

TEST(FieldRecording, CompressedPacketsContinueChannelByChannel) {
  const auto packets = read_field_packets("packets-compressed-3ch.pk");
  if (packets.empty()) GTEST_SKIP() << "field recording not available";
  std::map<ChannelKey, int32_t> last;
  std::map<ChannelKey, std::size_t> samples;
  std::vector<int32_t> out(pk::kMaxC0Samples);
  int compressed = 0;
  for (std::size_t i = 0; i < packets.size(); ++i) {
    const Packet& p = packets[i];
    if (pk::code_set(p.data()) != pk::PacketType::dt) continue;
    ASSERT_EQ(pk::dt_sample_format(p[23]), pk::SampleFormat::compressed) << "packet " << i;
    const ChannelKey k = key_of(p);
    const pk::CompressedResult r = pk::decode_c0(p.data(), last[k], out.data());
    EXPECT_FALSE(r.needs_report()) << "packet " << i << " channel " << k.second << ": read " << r.x0 << ".." << r.xn
                                   << " n " << r.n << ", calc " << r.calc_start << ".." << r.calc_stop << " n "
                                   << r.decoded;
    EXPECT_EQ(r.count, r.n);
    ASSERT_GT(r.count, 0u);
    EXPECT_EQ(out[0], r.x0);
    EXPECT_EQ(out[r.count - 1], r.xn);
    last[k] = r.xn;
    samples[k] += r.count;
    ++compressed;
  }
  EXPECT_GT(compressed, 20);
  EXPECT_EQ(samples.size(), 3u);
}

TEST(FieldRecording, IntegerPacketsDecodeTheirCount) {
  struct File {
    const char* name;
    pk::SampleFormat format;
  };
  for (const File f : {File{"packets-16bit-3ch.pk", pk::SampleFormat::int16},
                       File{"packets-32bit-3ch.pk", pk::SampleFormat::int32}}) {
    SCOPED_TRACE(f.name);
    const auto packets = read_field_packets(f.name);
    if (packets.empty()) GTEST_SKIP() << "field recording not available";
    int seen = 0;
    for (const Packet& p : packets) {
      if (pk::code_set(p.data()) != pk::PacketType::dt) continue;
      ASSERT_EQ(pk::dt_sample_format(p[23]), f.format);
      std::vector<int32_t> out(pk::kMax16Samples);
      const std::size_t n = f.format == pk::SampleFormat::int16 ? pk::decode_16(p.data(), out.data())
                                                                 : pk::decode_32(p.data(), out.data());
      EXPECT_EQ(n, pk::bcd2i(p.data() + 20, 2));
      ++seen;
    }
    EXPECT_GT(seen, 0);
  }
}

}  // namespace
