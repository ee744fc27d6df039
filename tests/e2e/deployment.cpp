#include "tests/e2e/deployment.h"

#include <algorithm>
#include <random>

#include "tests/support/hbk_encoder.h"
#include "common/pkfile.h"

namespace e2e {

namespace {

using pktest::Packet;

int32_t clamp_to(int64_t v, int64_t lo, int64_t hi) { return static_cast<int32_t>(std::clamp(v, lo, hi)); }

// A random walk whose steps need every difference width the compressed formats have; the
// second compressed format holds differences of up to 30 bits.
Samples walk(std::mt19937& rng, std::size_t n, uint8_t format) {
  const int64_t range = format == pktest::kFmt16 ? 32768 : int64_t{1} << (format == pktest::kFmtC2 ? 28 : 30);
  const int64_t lo = -range, hi = range - 1;
  std::uniform_int_distribution<int> kind(0, 9);
  std::uniform_int_distribution<int64_t> small(-100, 100), medium(-20000, 20000), any(lo, hi);
  Samples s(n);
  int64_t v = any(rng);
  for (auto& x : s) {
    const int k = kind(rng);
    v = k < 7 ? v + small(rng) : k < 9 ? v + medium(rng) : any(rng);
    x = clamp_to(v, lo, hi);
    v = x;
  }
  return s;
}

struct EventPlan {
  unsigned event;
  unsigned stream;
  std::string start;
  double rate;
  int channels;
  bool eh = true, et = true;
  long long gap_ms = 0;  // DT packets from 3 s into the event on are stamped this much later
};

const std::vector<EventPlan>& event_plans() {
  static const std::vector<EventPlan> plans = {
      {1, 0, "2003123140522000", 100.0, 3},
      {2, 0, "2003123140522500", 100.0, 2},  // same second as event 1
      {3, 0, "2003123141000000", 100.0, 12, true, true, 7000},
      {4, 1, "2003124000000000", 50.0, 2, true, false},
      {5, 0, "2003124010000000", 100.0, 1, false, true},
  };
  return plans;
}

void stamp_later(std::vector<Packet>& packets, const std::string& from, long long ms) {
  for (Packet& p : packets) {
    if (p[0] != 'D' || p[1] != 'T') continue;
    const std::string t = pk::header_time_string(p.data());
    if (pktest::time_diff_ms(from, t) < 0) continue;
    const std::string later = pktest::advance_time(t, ms);
    pktest::put_bcd(p, 3, pktest::header_year(later), 1);
    pktest::put_bcd_digits(p, 6, pktest::header_digits(later));
  }
}

}  // namespace

PacketDeployment make_packet_deployment(const PacketShape& shape) {
  std::mt19937 rng(shape.seed);
  std::uniform_int_distribution<std::size_t> length(1, 2500);
  std::uniform_int_distribution<int> format(0, 3), per_packet(0, 3);
  const uint8_t formats[] = {pktest::kFmt16, pktest::kFmt32, pktest::kFmtC0, pktest::kFmtC2};

  PacketDeployment d;
  std::vector<std::vector<Packet>> per_unit;
  for (const uint16_t unit : {uint16_t{0x0101}, uint16_t{0x2BC4}, uint16_t{0x0000}}) {
    std::vector<Packet> unit_packets;
    for (const EventPlan& plan : event_plans()) {
      pktest::Recording rec{.unit = unit, .event = plan.event, .stream = plan.stream, .start = plan.start,
                            .rate = plan.rate, .eh = plan.eh, .et = plan.et};
      const std::size_t event_length = length(rng);
      for (int c = 0; c < plan.channels; ++c) {
        const uint8_t fmt = formats[format(rng)];
        const std::size_t n = shape.equal_lengths ? event_length : length(rng);
        const int pp = per_packet(rng);
        rec.channels.push_back({.channel = static_cast<unsigned>(c), .format = fmt, .samples = walk(rng, n, fmt),
                                .per_packet = pp == 0 ? std::size_t{0} : std::size_t(60 * pp + 17)});
        d.channels.push_back(rec.channels.back().samples);
      }
      std::vector<Packet> packets = rec.packets();
      if (plan.gap_ms) stamp_later(packets, pktest::advance_time(plan.start, 3000), plan.gap_ms);
      unit_packets.insert(unit_packets.end(), packets.begin(), packets.end());
    }
    per_unit.push_back(std::move(unit_packets));
  }
  d.packets = pktest::interleave(per_unit);
  return d;
}

std::string packet_bytes(const std::vector<pktest::Packet>& packets) {
  std::string b;
  for (const auto& p : packets) b.append(reinterpret_cast<const char*>(p.data()), p.size());
  return b;
}

std::vector<Samples> kept_by_switches(const std::vector<Samples>& channels, uint32_t trash, uint32_t limit) {
  std::vector<Samples> kept;
  for (const Samples& s : channels) {
    const std::size_t from = std::min<std::size_t>(trash, s.size());
    const std::size_t n = std::min<std::size_t>(limit, s.size() - from);
    kept.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(from),
                      s.begin() + static_cast<std::ptrdiff_t>(from + n));
  }
  return kept;
}

namespace {

constexpr int kBlockSamples = 250;  // 2.5 s at 100 Hz: one step of the block-time grid
constexpr uint32_t kDay = 11'000;

hbk::Block hbk_block(uint32_t stream, long slot, const Samples& samples, unsigned compression) {
  hbktest::BlockFields f = hbktest::fields_from_samples(samples, compression);
  f.sysid = hbktest::text_to_id("RX7");
  f.streamid = stream;
  f.timecode = hbktest::make_timecode(kDay, static_cast<uint32_t>(3600 + 5 * (slot / 2)));
  f.fraction = static_cast<unsigned>(slot % 2);
  f.rate_code = 100;
  return hbktest::encode_block(f);
}

}  // namespace

HbkDeployment make_hbk_deployment(unsigned seed, int blocks) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> step(-2000, 2000), skip(0, 9), junk(0, 11);
  const uint32_t main_stream = hbktest::text_to_id("HHZ1"), other_stream = hbktest::text_to_id("HHN1");
  // Samples stay within 24 bits: the SAC file holds them as single-precision reals.
  int32_t v = std::uniform_int_distribution<int32_t>(-1'000'000, 1'000'000)(rng);
  HbkDeployment d;
  long slot = 0;
  for (int b = 0; b < blocks; ++b) {
    if (b > 0 && skip(rng) == 0) {
      const int missing = 1 + skip(rng) % 3;
      slot += missing;
      d.expected.insert(d.expected.end(), std::size_t(missing) * kBlockSamples, kGapFill);
    }
    Samples s(kBlockSamples);
    for (auto& x : s) x = v = std::clamp(v + step(rng), -8'000'000, 8'000'000);
    d.blocks.push_back(hbk_block(main_stream, slot, s, b % 2 ? 1u : 2u));
    d.expected.insert(d.expected.end(), s.begin(), s.end());
    ++slot;
    switch (junk(rng)) {
      case 0: d.blocks.push_back(hbk_block(other_stream, slot, s, 1)); break;
      case 1: d.blocks.push_back(d.blocks.back()); break;  // old data once it is repeated
      case 2: {
        hbk::Block bad = d.blocks.back();
        bad[hbk::off::record_count] = 251;
        d.blocks.push_back(bad);
        break;
      }
      default: break;
    }
  }
  return d;
}

}  // namespace e2e
