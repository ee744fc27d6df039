#include "hbk2sac/sac_writer.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace hbk {

namespace {

constexpr char kUndefinedText8[] = "-12345  ";
constexpr char kUndefinedText16[] = "-12345          ";

bool host_is_big_endian() { return std::endian::native == std::endian::big; }

// Plain loops over whole runs, so that the compiler vectorises them.
void to_float_words(std::span<const std::int32_t> samples, std::uint32_t* out) {
  for (std::size_t i = 0; i < samples.size(); ++i)
    out[i] = std::bit_cast<std::uint32_t>(static_cast<float>(samples[i]));
}

void widen_range(std::span<const std::int32_t> samples, std::int32_t& low, std::int32_t& high) {
  std::int32_t lo = low, hi = high;
  for (const std::int32_t v : samples) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  low = lo;
  high = hi;
}

void reverse_each_word(std::uint32_t* words, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) words[i] = pk::byte_swapped(words[i]);
}

}  // namespace

Orientation orientation_from_stream(const std::string& stream_text) {
  if (stream_text.size() >= 2) {
    switch (stream_text[stream_text.size() - 2]) {
      case 'E': return {90.0f, 90.0f};
      case 'N': return {0.0f, 90.0f};
      case 'Z': return {0.0f, 0.0f};
      default: break;
    }
  }
  return {sac::kUndefinedFloat, sac::kUndefinedFloat};
}

SacWriter::SacWriter(ByteOrder order) : buffer_(new std::uint32_t[kBufferWords]) {
  set_byte_order(order);
  sac_init_header();
}

void SacWriter::set_byte_order(ByteOrder order) {
  reverse_ = (order == ByteOrder::big) != host_is_big_endian();
}

void SacWriter::attach(std::FILE* out) {
  out_ = out;
  fill_ = 0;
  npts_ = 0;
  error_ = 0;
}

void SacWriter::set_float(int word, float v) { std::memcpy(header_.data() + 4 * word, &v, 4); }
void SacWriter::set_int(int word, std::int32_t v) { std::memcpy(header_.data() + 4 * word, &v, 4); }

float SacWriter::header_float(int word) const {
  float v;
  std::memcpy(&v, header_.data() + 4 * word, 4);
  return v;
}

std::int32_t SacWriter::header_int(int word) const {
  std::int32_t v;
  std::memcpy(&v, header_.data() + 4 * word, 4);
  return v;
}

void SacWriter::set_text(std::size_t at, std::size_t width, const std::string& text) {
  std::memcpy(header_.data() + at, text.data(), std::min(width, text.size()));
}

// The name ends with a 0 byte; the filler after it stays as it was.
void SacWriter::put_id_text(std::size_t at, const std::string& text) {
  const std::string name = text.substr(0, 7);
  std::memcpy(header_.data() + at, name.data(), name.size());
  header_[at + name.size()] = 0;
}

void SacWriter::sac_init_header() {
  for (int w = 0; w < sac::kFirstIntWord; ++w) set_float(w, sac::kUndefinedFloat);
  for (int w = sac::kFirstIntWord; w < sac::kFirstLogicalWord; ++w) set_int(w, sac::kUndefinedInt);
  for (int w = sac::kFirstLogicalWord; w < int(sac::kNumericWords); ++w) set_int(w, 0);
  set_text(sac::kstnm, 8, kUndefinedText8);
  set_text(sac::kevnm, 16, kUndefinedText16);
  for (std::size_t at = sac::khole; at < sac::kHeaderSize; at += 8) set_text(at, 8, kUndefinedText8);
}

void SacWriter::sac_header_from_block(const Block& first) {
  run_max_ = -8'388'608;
  run_min_ = 8'388'607;
  npts_ = 0;
  sac_init_header();

  const std::uint8_t code = block_rate_code(first);
  if (code != 0) set_float(sac::delta, static_cast<float>(1.0 / rate_from_code(code)));
  set_float(sac::depmin, -8'388'608.0f);
  set_float(sac::depmax, 8'388'607.0f);

  const std::string stream = id_to_text(block_streamid(first));
  const Orientation o = orientation_from_stream(stream);
  set_float(sac::cmpaz, o.cmpaz);
  set_float(sac::cmpinc, o.cmpinc);

  const CalendarTime t = timecode_to_datetime(block_timecode(first));
  set_int(sac::nzyear, t.year);
  set_int(sac::nzjday, t.jday);
  set_int(sac::nzhour, t.hour);
  set_int(sac::nzmin, t.minute);
  set_int(sac::nzsec, t.second);
  set_int(sac::nzmsec, 0);
  set_int(sac::nvhdr, sac::kHeaderVersion);
  set_int(sac::iftype, sac::kIftypeTimeSeries);
  set_int(sac::leven, 1);

  put_id_text(sac::kstnm, id_to_text(block_sysid(first)));
  put_id_text(sac::kcmpnm, stream);
}

void SacWriter::write_bytes(const void* data, std::size_t n) {
  if (out_ == nullptr || std::fwrite(data, 1, n, out_) != n) fail();
}

// The first failure is the one to tell; what follows is its consequence.
void SacWriter::fail() {
  // The first failure's errno is kept, and one always: a short write need not set errno.
  if (error_ == 0) error_ = out_ == nullptr ? EBADF : errno != 0 ? errno : EIO;
}

void SacWriter::flush() {
  if (fill_ == 0) return;
  if (reverse_) reverse_each_word(buffer_.get(), fill_);
  write_bytes(buffer_.get(), 4 * fill_);
  fill_ = 0;
}

void SacWriter::append_to_buffer(std::span<const std::int32_t> samples) {
  to_float_words(samples, buffer_.get() + fill_);
  widen_range(samples, run_min_, run_max_);
  fill_ += samples.size();
  npts_ += static_cast<std::int32_t>(samples.size());
}

void SacWriter::sac_put_samples(std::span<const std::int32_t> samples) {
  while (!samples.empty()) {
    if (fill_ == kBufferWords) flush();
    const std::size_t n = std::min(samples.size(), kBufferWords - fill_);
    append_to_buffer(samples.first(n));
    samples = samples.subspan(n);
  }
}

void SacWriter::sac_write_header() {
  flush();
  if (out_ == nullptr || std::fseek(out_, 0, SEEK_SET) != 0) fail();
  set_float(sac::depmin, static_cast<float>(run_min_));
  set_float(sac::depmax, static_cast<float>(run_max_));
  set_int(sac::npts, npts_);
  set_float(sac::b, 0.0f);
  const long double delta = header_float(sac::delta);
  set_float(sac::e, static_cast<float>((static_cast<long double>(npts_) - 1) * delta));
  if (reverse_) sac_swap_header();
  write_bytes(header_.data(), header_.size());
  if (reverse_) sac_swap_header();
}

void SacWriter::sac_swap_header() {
  for (std::size_t w = 0; w < sac::kNumericWords; ++w) {
    std::uint32_t v;
    std::memcpy(&v, header_.data() + 4 * w, 4);
    v = pk::byte_swapped(v);
    std::memcpy(header_.data() + 4 * w, &v, 4);
  }
}

}  // namespace hbk
