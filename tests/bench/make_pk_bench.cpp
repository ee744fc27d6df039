// Benchmark inputs for the packet converters: one event of one unit with CHANNELS
// channels of compressed DT packets, interleaved one packet per channel in turn, and the
// very same compressed frames as 1024-byte miniSEED records for the reference converter.
// A compressed packet's 15 frames are exactly the data part of a Steim-1 (format C0) or
// Steim-2 (format C2) record with a 64-byte header, so both converters decode identical
// bytes. Format C2 gets a quieter walk (a quarter of the steps), so that its words hold
// five to seven differences as they do in quiet field recordings.
//
// Usage: make_pk_bench CHANNELS SAMPLES_PER_CHANNEL out.pk out.mseed [C0|C2]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/mseed_record.h"
#include "tests/support/pkenc.h"
#include "tests/support/testkit.h"

namespace {

using pktest::C0Packet;
using pktest::Packet;

constexpr uint16_t kUnit = 0xBE01;
constexpr unsigned kRate = 100;  // whole milliseconds per sample keep packet times exact
constexpr long long kMsPerSample = 1000 / kRate;
const std::string kStart = "2021060000000000";

// What differs between the two compressed formats.
struct Format {
  C0Packet (*make)(const pktest::DataHeader&, std::span<const int32_t>, const pktest::C0Options&);
  std::size_t most_samples;
  uint8_t mseed_encoding;
  int32_t walk_divisor;
};
const Format kC0{pktest::make_dt_c0, pktest::kMaxC0, testkit::kSteim1, 1};
const Format kC2{pktest::make_dt_c2, pktest::kMaxC2, testkit::kSteim2, 4};

struct Channel {
  testkit::RandomWalk walk;
  std::vector<int32_t> pending;  // generated but not yet packed
  int32_t last = 0;              // last packed sample
  long long packed = 0;          // samples packed so far
  long record_seq = 0;           // miniSEED sequence number
};

int digits(const std::string& s, std::size_t off, std::size_t n) { return std::stoi(s.substr(off, n)); }

std::string channel_code(std::size_t chan) {
  std::string code = "H00";
  code[1] = static_cast<char>('0' + (chan + 1) / 10 % 10);
  code[2] = static_cast<char>('0' + (chan + 1) % 10);
  return code;
}

// The header of a record holding the packet's frames.
testkit::MseedRecord mseed_record(const Packet& dt, std::size_t chan, long seq, const std::string& time,
                                  std::size_t samples, uint8_t encoding) {
  testkit::MseedRecord r{};
  const auto field = [&time](std::size_t off, std::size_t n) { return static_cast<unsigned>(digits(time, off, n)); };
  const testkit::MseedHeader h{.sequence = seq,
                               .station = "BENCH",
                               .location = "",
                               .channel = channel_code(chan),
                               .network = "XX",
                               .year = field(0, 4),
                               .day_of_year = field(4, 3),
                               .hour = field(7, 2),
                               .minute = field(9, 2),
                               .second = field(11, 2),
                               .tenth_ms = field(13, 3) * 10,
                               .samples = static_cast<unsigned>(samples),
                               .rate = kRate,
                               .encoding = encoding};
  testkit::put_mseed_header(r, h);
  std::copy(dt.begin() + testkit::kMseedFramesAt, dt.end(), r.begin() + testkit::kMseedFramesAt);
  return r;
}

class Output {
 public:
  Output(const char* pk, const char* mseed) : pk_(std::fopen(pk, "wb")), mseed_(std::fopen(mseed, "wb")) {}
  bool ok() const { return pk_ && mseed_; }
  void packet(const Packet& p) { std::fwrite(p.data(), 1, p.size(), pk_.get()); }
  void record(const testkit::MseedRecord& r) { std::fwrite(r.data(), 1, r.size(), mseed_.get()); }
  bool failed() const { return std::ferror(pk_.get()) || std::ferror(mseed_.get()); }

 private:
  testkit::UniqueFile pk_, mseed_;
};

class SequenceNumbers {
 public:
  unsigned next() {
    const unsigned s = seq_;
    seq_ = (seq_ + 1) % 10000;
    return s;
  }

 private:
  unsigned seq_ = 0;
};

Packet event_packet(const char* type, unsigned seq, long long samples_per_channel) {
  const std::string last = pktest::advance_time(kStart, (samples_per_channel - 1) * kMsPerSample);
  pktest::EventHeader e{.head = {.type = type, .unit = kUnit, .time = kStart, .bpp = 416, .seq = seq},
                        .event = 1,
                        .trig_msg = "Trigger Time = " + kStart,
                        .rate = std::to_string(kRate),
                        .trig_time = kStart,
                        .first_time = kStart,
                        .detrig_time = last,
                        .last_time = last};
  return pktest::make_eh_et(e);
}

// Packs the channel's next packet from freshly generated samples; false when done.
bool next_packet(const Format& fmt, Channel& ch, std::size_t chan, long long total, SequenceNumbers& seq,
                 Output& out) {
  while (ch.pending.size() < fmt.most_samples && ch.packed + static_cast<long long>(ch.pending.size()) < total)
    ch.pending.push_back(ch.walk.next() / fmt.walk_divisor);
  if (ch.pending.empty()) return false;

  const std::string time = pktest::advance_time(kStart, ch.packed * kMsPerSample);
  pktest::DataHeader dh{.head = {.type = "DT", .unit = kUnit, .time = time, .seq = seq.next()},
                        .event = 1,
                        .channel = static_cast<unsigned>(chan)};
  const C0Packet c0 = fmt.make(dh, ch.pending, {.prev = ch.last});
  out.packet(c0.pkt);
  out.record(mseed_record(c0.pkt, chan, ++ch.record_seq, time, c0.consumed, fmt.mseed_encoding));

  ch.last = ch.pending[c0.consumed - 1];
  ch.packed += static_cast<long long>(c0.consumed);
  ch.pending.erase(ch.pending.begin(), ch.pending.begin() + static_cast<std::ptrdiff_t>(c0.consumed));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string format = argc == 6 ? argv[5] : "C0";
  if ((argc != 5 && argc != 6) || (format != "C0" && format != "C2")) {
    std::fprintf(stderr, "usage: make_pk_bench CHANNELS SAMPLES_PER_CHANNEL out.pk out.mseed [C0|C2]\n");
    return 2;
  }
  const Format& fmt = format == "C2" ? kC2 : kC0;
  const long channels = std::atol(argv[1]);
  const long long total = std::atoll(argv[2]);
  if (channels < 1 || channels > 16 || total < 1) {
    std::fprintf(stderr, "make_pk_bench: 1 to 16 channels and at least one sample\n");
    return 2;
  }
  Output out(argv[3], argv[4]);
  if (!out.ok()) {
    std::fprintf(stderr, "make_pk_bench: cannot create the outputs\n");
    return 1;
  }

  std::vector<Channel> chans;
  for (long c = 0; c < channels; ++c) chans.push_back(Channel{testkit::RandomWalk(42 + 7919 * static_cast<uint64_t>(c))});

  SequenceNumbers seq;
  out.packet(event_packet("EH", seq.next(), total));
  for (bool any = true; any;) {
    any = false;
    for (std::size_t c = 0; c < chans.size(); ++c) any |= next_packet(fmt, chans[c], c, total, seq, out);
  }
  out.packet(event_packet("ET", seq.next(), total));
  return out.failed() ? 1 : 0;
}
