// SAC output: a 632-byte header followed by the samples as 32-bit floats.
// One writer serves the whole run; the driver hands it each output file.
#pragma once

#include "hbk2sac/block.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace hbk {

enum class ByteOrder { big, little };

namespace sac {
constexpr std::size_t kHeaderSize = 632;
constexpr std::size_t kNumericWords = 110;

// Word numbers of the numeric fields this program sets.
constexpr int delta = 0, depmin = 1, depmax = 2, b = 5, e = 6, cmpaz = 57, cmpinc = 58;
constexpr int nzyear = 70, nzjday = 71, nzhour = 72, nzmin = 73, nzsec = 74, nzmsec = 75;
constexpr int nvhdr = 76, npts = 79, iftype = 85, leven = 105;
constexpr int kFirstIntWord = 70, kFirstLogicalWord = 105;

// Byte offsets of the character fields.
constexpr std::size_t kstnm = 440, kevnm = 448, khole = 464, kcmpnm = 600;

constexpr float kUndefinedFloat = -12345.0f;
constexpr std::int32_t kUndefinedInt = -12345;
constexpr std::int32_t kIftypeTimeSeries = 1;
constexpr std::int32_t kHeaderVersion = 6;
}  // namespace sac

class SacWriter {
 public:
  static constexpr std::size_t kBufferBytes = 65'536;
  static constexpr std::size_t kBufferWords = kBufferBytes / 4;

  explicit SacWriter(ByteOrder order = ByteOrder::big);

  void set_byte_order(ByteOrder order);
  bool reverses_bytes() const { return reverse_; }

  // The driver owns the file; the writer only writes through it. Attaching
  // starts a fresh file: empty buffer, no samples, no failure.
  void attach(std::FILE* out);

  void sac_init_header();
  void sac_header_from_block(const Block& first);
  void flush();
  void sac_write_header();
  void sac_swap_header();

  // Appends samples in order, each as a single-precision float; writes the
  // buffer out whenever it is full and another sample comes.
  void sac_put_samples(std::span<const std::int32_t> samples);
  void sac_put_sample(std::int32_t v) { sac_put_samples({&v, 1}); }

  // True once a write or seek on the current file has failed.
  bool failed() const { return error_ != 0; }
  // errno of the first failed write or seek.
  int error() const { return error_; }
  std::int32_t sample_count() const { return npts_; }

  // The header record in host order.
  float header_float(int word) const;
  std::int32_t header_int(int word) const;
  const std::array<std::uint8_t, sac::kHeaderSize>& header() const { return header_; }

 private:
  void set_float(int word, float v);
  void set_int(int word, std::int32_t v);
  void set_text(std::size_t at, std::size_t width, const std::string& text);
  void put_id_text(std::size_t at, const std::string& text);
  void write_bytes(const void* data, std::size_t n);
  void fail();
  void append_to_buffer(std::span<const std::int32_t> samples);

  std::array<std::uint8_t, sac::kHeaderSize> header_{};
  // Samples as floats in host order, put into the output's byte order when written.
  std::unique_ptr<std::uint32_t[]> buffer_;
  std::size_t fill_ = 0;  // words
  std::int32_t run_max_ = 0;
  std::int32_t run_min_ = 0;
  std::int32_t npts_ = 0;
  bool reverse_ = false;
  int error_ = 0;
  std::FILE* out_ = nullptr;
};

// cmpaz and cmpinc follow the component letter, the stream name's
// second-to-last character.
struct Orientation {
  float cmpaz;
  float cmpinc;
};
Orientation orientation_from_stream(const std::string& stream_text);

}  // namespace hbk
