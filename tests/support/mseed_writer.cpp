#include "tests/support/mseed_writer.h"

#include "hbk2sac/accuratetime.h"
#include "tests/support/mseed_record.h"

namespace hbktest {

namespace {

void put_be32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v >> 24);
  p[1] = std::uint8_t(v >> 16);
  p[2] = std::uint8_t(v >> 8);
  p[3] = std::uint8_t(v);
}

bool fits(std::int32_t v, int bits) {
  const std::int64_t lim = std::int64_t(1) << (bits - 1);
  return v >= -lim && v < lim;
}

// Steim-1 nibble codes.
constexpr unsigned kFourBytes = 1, kTwoHalves = 2, kOneWord = 3;

}  // namespace

MseedWriter::MseedWriter(std::FILE* out, MseedStream stream) : out_(out), stream_(std::move(stream)) {
  start_record();
}

void MseedWriter::start_record() {
  for (auto& f : frame_) f.fill(0);
  frame_no_ = 0;
  word_no_ = 3;  // words 1 and 2 of the first frame hold the first and last sample
  record_samples_ = 0;
}

bool MseedWriter::record_full() const { return frame_no_ >= kFrames; }

void MseedWriter::put(std::int32_t sample) {
  const std::int32_t diff = std::int32_t(std::uint32_t(sample) - std::uint32_t(previous_));
  previous_ = sample;
  pending_.push_back({diff, sample});
  if (pending_.size() == 4) pack_some(false);
}

void MseedWriter::pack_some(bool draining) {
  while (pending_.size() == 4 || (draining && !pending_.empty())) {
    if (record_full()) {
      write_record();
      start_record();
    }
    const Pending* p = pending_.data();
    unsigned used;
    if (pending_.size() == 4 && fits(p[0].diff, 8) && fits(p[1].diff, 8) && fits(p[2].diff, 8) &&
        fits(p[3].diff, 8)) {
      const std::uint32_t w = (std::uint32_t(std::uint8_t(p[0].diff)) << 24) |
                              (std::uint32_t(std::uint8_t(p[1].diff)) << 16) |
                              (std::uint32_t(std::uint8_t(p[2].diff)) << 8) |
                              std::uint32_t(std::uint8_t(p[3].diff));
      emit_word(kFourBytes, w, p, used = 4);
    } else if (pending_.size() >= 2 && fits(p[0].diff, 16) && fits(p[1].diff, 16)) {
      const std::uint32_t w = (std::uint32_t(std::uint16_t(p[0].diff)) << 16) |
                              std::uint32_t(std::uint16_t(p[1].diff));
      emit_word(kTwoHalves, w, p, used = 2);
    } else {
      emit_word(kOneWord, std::uint32_t(p[0].diff), p, used = 1);
    }
    pending_.erase(pending_.begin(), pending_.begin() + used);
  }
}

void MseedWriter::emit_word(unsigned code, std::uint32_t word, const Pending* from, unsigned count) {
  auto& f = frame_[frame_no_];
  f[word_no_] = word;
  f[0] |= std::uint32_t(code) << (2 * (15 - word_no_));
  if (record_samples_ == 0) first_sample_ = from[0].sample;
  last_sample_ = from[count - 1].sample;
  record_samples_ += count;
  if (++word_no_ == 16) {
    ++frame_no_;
    word_no_ = 1;
  }
}

void MseedWriter::finish() {
  pack_some(true);
  if (record_samples_ > 0) write_record();
  start_record();
}

void MseedWriter::write_record() {
  testkit::MseedRecord r{};
  const std::int64_t t = stream_.start_us + samples_before_record_ * 1'000'000 / stream_.rate;
  const hbk::CalendarTime c = hbk::us_to_datetime(t);
  testkit::MseedHeader h;
  h.sequence = ++sequence_;
  h.station = stream_.station;
  h.location = stream_.location;
  h.channel = stream_.channel;
  h.network = stream_.network;
  h.year = unsigned(c.year);
  h.day_of_year = unsigned(c.jday);
  h.hour = unsigned(c.hour);
  h.minute = unsigned(c.minute);
  h.second = unsigned(c.second);
  h.tenth_ms = unsigned((t % 1'000'000 + 1'000'000) % 1'000'000 / 100);
  h.samples = record_samples_;
  h.rate = stream_.rate;
  testkit::put_mseed_header(r, h);

  frame_[0][1] = std::uint32_t(first_sample_);
  frame_[0][2] = std::uint32_t(last_sample_);
  for (std::size_t f = 0; f < kFrames; ++f)
    for (std::size_t w = 0; w < 16; ++w) put_be32(&r[64 + 64 * f + 4 * w], frame_[f][w]);
  std::fwrite(r.data(), 1, r.size(), out_);
  samples_before_record_ += record_samples_;
}

}  // namespace hbktest
