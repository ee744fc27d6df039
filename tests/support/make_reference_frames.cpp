// Makes the reference vectors of the two compressed packet formats in tests/data:
//   make_reference_frames tests/data
// writes compressed-c0.pk and compressed-c2.pk (DT packets of one channel, each continuing
// the one before) and beside each a .samples file, one line per packet, holding what
// mseed2sac - a decoder independent of ours - decodes from the packets' frames wrapped as
// miniSEED records (encoding 10 for the first format, 11 for the second). The frames come
// from the test encoder; the tool refuses to write anything when mseed2sac disagrees with
// the samples they were made from. SAC holds floats, so every sample is one a float holds
// exactly. Run once; the committed files are what the decoder tests trust.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/mseed_record.h"
#include "tests/support/pkenc.h"
#include "tests/support/testkit.h"
#include "tests/support/tool_main.h"

namespace {

using Samples = std::vector<int32_t>;

struct PacketPlan {
  uint8_t format;
  Samples samples;
};

// Samples reached from `start` by the differences, each group repeated `times` times.
Samples walk(int32_t start, std::initializer_list<std::pair<int32_t, int32_t>> pairs, int times) {
  Samples s;
  for (const auto& [a, b] : pairs)
    for (int i = 0; i < times; ++i) {
      s.push_back(start += a);
      s.push_back(start += b);
    }
  return s;
}

Samples concat(std::initializer_list<Samples> parts) {
  Samples s;
  for (const Samples& p : parts) s.insert(s.end(), p.begin(), p.end());
  return s;
}

Samples small_steps(int32_t start, std::size_t n, int spread) {
  Samples s(n);
  for (std::size_t i = 0; i < n; ++i) s[i] = start += static_cast<int32_t>(i * 4 % (2 * spread + 1)) - spread;
  return s;
}

// The first format: four 8-bit, two 16-bit or one 32-bit difference per word, each at
// its sign boundaries; the largest differences and ones that wrap around 32 bits; a full
// packet; every alias of the format byte.
std::vector<PacketPlan> first_format() {
  const Samples widths = concat({walk(0, {{1, -1}, {127, -128}, {128, -129}, {32767, -32768}}, 2),
                                 walk(-5, {{32768, -32769}, {-100000, 100000}, {3, -4}}, 1)});
  const Samples largest = {-1073741824, 1073741696, -1073741952, 2147483520, INT32_MIN, 0, 5, -3};
  return {{0xC0, widths}, {0xC1, largest}, {0x02, small_steps(-3, 892, 3)}, {0x03, {-7, -9, -8}}};
}

// The second format: seven 4-bit, six 5-bit, five 6-bit, four 8-bit, three 10-bit, two
// 15-bit and one 30-bit difference per word, all in the first frame; then a full packet.
std::vector<PacketPlan> second_format() {
  Samples widths = {-536870912, -1};  // the 30-bit limits
  const std::pair<int32_t, std::size_t> groups[] = {{8, 7}, {16, 6}, {32, 5}, {128, 4}, {512, 3}, {16384, 2}};
  for (const auto& [limit, count] : groups)
    for (std::size_t i = 0; i < count; ++i) widths.push_back(widths.back() + (i % 2 ? limit - 1 : -limit));
  const Samples mixed = small_steps(widths.back(), 40, 600);
  return {{0xC2, concat({widths, mixed})}, {0xC2, small_steps(mixed.back(), 1561, 7)}, {0xC2, {2, -2, 0}}};
}

std::string packets_of(const std::vector<PacketPlan>& plans, std::string& records) {
  std::string bytes;
  int32_t last = 0;
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const PacketPlan& plan = plans[i];
    const pktest::DataHeader dh{.head = {.type = "DT", .seq = static_cast<unsigned>(i)}, .dat_fmt = plan.format};
    const auto enc = plan.format == 0xC2 ? pktest::make_dt_c2(dh, plan.samples, {.prev = last})
                                         : pktest::make_dt_c0(dh, plan.samples, {.prev = last});
    if (enc.consumed != plan.samples.size()) throw std::runtime_error("a planned packet overflows");
    last = plan.samples.back();
    bytes.append(reinterpret_cast<const char*>(enc.pkt.data()), enc.pkt.size());
    const testkit::MseedRecord r = testkit::packet_frames_record(enc.pkt.data(), i);
    records.append(reinterpret_cast<const char*>(r.data()), r.size());
  }
  return bytes;
}

void make(const std::filesystem::path& dir, const std::string& name, const std::vector<PacketPlan>& plans) {
  std::string records;
  const std::string packets = packets_of(plans, records);
  const testkit::ScratchDir scratch;
  const std::vector<Samples> decoded = testkit::mseed2sac_records(records, scratch.path());
  std::string text;
  for (std::size_t i = 0; i < plans.size(); ++i) {
    if (i >= decoded.size() || decoded[i] != plans[i].samples)
      throw std::runtime_error(name + ": mseed2sac decodes packet " + std::to_string(i) + " otherwise");
    for (std::size_t k = 0; k < decoded[i].size(); ++k) {
      if (k > 0) text += ' ';
      text += std::to_string(decoded[i][k]);
    }
    text += '\n';
  }
  testkit::write_file(dir / (name + ".pk"), packets);
  testkit::write_file(dir / (name + ".samples"), text);
}

}  // namespace

int main(int argc, char** argv) {
  return testkit::tool_main(argc, argv, "make_reference_frames", "DIRECTORY", [](const char* dir) {
    make(dir, "compressed-c0", first_format());
    make(dir, "compressed-c2", second_format());
  });
}
