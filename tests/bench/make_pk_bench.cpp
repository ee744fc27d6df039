// Benchmark inputs for the packet converters: one event of one unit with CHANNELS
// channels of compressed DT packets, interleaved one packet per channel in turn, and the
// very same compressed frames as 1024-byte miniSEED records for the reference converter.
// A compressed packet's 15 frames are exactly the data part of a Steim-1 record with a
// 64-byte header, so both converters decode identical bytes.
//
// Usage: make_pk_bench CHANNELS SAMPLES_PER_CHANNEL out.pk out.mseed
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "pkenc.h"

namespace {

using pktest::Packet;

constexpr uint16_t kUnit = 0xBE01;
constexpr unsigned kRate = 100;  // whole milliseconds per sample keep packet times exact
constexpr long long kMsPerSample = 1000 / kRate;
const std::string kStart = "2021060000000000";

constexpr std::size_t kFramesOffset = 64;
constexpr std::size_t kRecordSize = 1024;

// A random walk with steps that fit 8-bit differences, so every packet carries the most
// samples the frames can hold.
class Walk {
 public:
  explicit Walk(uint64_t seed) : state_(seed) {}
  int32_t next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    value_ += static_cast<int32_t>((state_ >> 33) % 121) - 60;
    if (value_ > 1'000'000 || value_ < -1'000'000) value_ /= 2;
    return value_;
  }

 private:
  uint64_t state_;
  int32_t value_ = 0;
};

struct Channel {
  Walk walk;
  std::vector<int32_t> pending;  // generated but not yet packed
  int32_t last = 0;              // last packed sample
  long long packed = 0;          // samples packed so far
  long record_seq = 0;           // miniSEED sequence number
};

void put_be16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

void put_padded(uint8_t* p, const std::string& text, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(i < text.size() ? text[i] : ' ');
}

int digits(const std::string& s, std::size_t off, std::size_t n) { return std::stoi(s.substr(off, n)); }

std::string channel_code(std::size_t chan) {
  std::string code = "H00";
  code[1] = static_cast<char>('0' + (chan + 1) / 10 % 10);
  code[2] = static_cast<char>('0' + (chan + 1) % 10);
  return code;
}

// Fixed header, blockette 1000 (Steim-1, big-endian, 2^10 bytes) and the packet's frames.
std::array<uint8_t, kRecordSize> mseed_record(const Packet& dt, std::size_t chan, long seq,
                                              const std::string& time, std::size_t samples) {
  std::array<uint8_t, kRecordSize> r{};
  char seqtext[8];
  std::snprintf(seqtext, sizeof seqtext, "%06ld", seq % 1000000);
  std::copy(seqtext, seqtext + 6, r.begin());
  r[6] = 'D';
  r[7] = ' ';
  put_padded(&r[8], "BENCH", 5);
  put_padded(&r[13], "", 2);
  put_padded(&r[15], channel_code(chan), 3);
  put_padded(&r[18], "XX", 2);
  put_be16(&r[20], static_cast<unsigned>(digits(time, 0, 4)));
  put_be16(&r[22], static_cast<unsigned>(digits(time, 4, 3)));
  r[24] = static_cast<uint8_t>(digits(time, 7, 2));
  r[25] = static_cast<uint8_t>(digits(time, 9, 2));
  r[26] = static_cast<uint8_t>(digits(time, 11, 2));
  put_be16(&r[28], static_cast<unsigned>(digits(time, 13, 3) * 10));
  put_be16(&r[30], static_cast<unsigned>(samples));
  put_be16(&r[32], kRate);
  put_be16(&r[34], 1);
  r[39] = 1;
  put_be16(&r[44], 64);
  put_be16(&r[46], 48);
  put_be16(&r[48], 1000);
  r[52] = 10;
  r[53] = 1;
  r[54] = 10;
  std::copy(dt.begin() + kFramesOffset, dt.end(), r.begin() + kFramesOffset);
  return r;
}

struct Closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, Closer>;

class Output {
 public:
  Output(const char* pk, const char* mseed) : pk_(std::fopen(pk, "wb")), mseed_(std::fopen(mseed, "wb")) {}
  bool ok() const { return pk_ && mseed_; }
  void packet(const Packet& p) { std::fwrite(p.data(), 1, p.size(), pk_.get()); }
  void record(const std::array<uint8_t, kRecordSize>& r) { std::fwrite(r.data(), 1, r.size(), mseed_.get()); }
  bool failed() const { return std::ferror(pk_.get()) || std::ferror(mseed_.get()); }

 private:
  File pk_, mseed_;
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
bool next_packet(Channel& ch, std::size_t chan, long long total, SequenceNumbers& seq, Output& out) {
  while (ch.pending.size() < pktest::kMaxC0 && ch.packed + static_cast<long long>(ch.pending.size()) < total)
    ch.pending.push_back(ch.walk.next());
  if (ch.pending.empty()) return false;

  const std::string time = pktest::advance_time(kStart, ch.packed * kMsPerSample);
  pktest::DataHeader dh{.head = {.type = "DT", .unit = kUnit, .time = time, .seq = seq.next()},
                        .event = 1,
                        .channel = static_cast<unsigned>(chan)};
  const pktest::C0Packet c0 = pktest::make_dt_c0(dh, ch.pending, {.prev = ch.last});
  out.packet(c0.pkt);
  out.record(mseed_record(c0.pkt, chan, ++ch.record_seq, time, c0.consumed));

  ch.last = ch.pending[c0.consumed - 1];
  ch.packed += static_cast<long long>(c0.consumed);
  ch.pending.erase(ch.pending.begin(), ch.pending.begin() + static_cast<std::ptrdiff_t>(c0.consumed));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: make_pk_bench CHANNELS SAMPLES_PER_CHANNEL out.pk out.mseed\n");
    return 2;
  }
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
  for (long c = 0; c < channels; ++c) chans.push_back(Channel{Walk(42 + 7919 * static_cast<uint64_t>(c))});

  SequenceNumbers seq;
  out.packet(event_packet("EH", seq.next(), total));
  for (bool any = true; any;) {
    any = false;
    for (std::size_t c = 0; c < chans.size(); ++c) any |= next_packet(chans[c], c, total, seq, out);
  }
  out.packet(event_packet("ET", seq.next(), total));
  return out.failed() ? 1 : 0;
}
