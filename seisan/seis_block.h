// Record framings of a SEISAN waveform file.
//
// PC blocks: the file starts with 'K' and ends with the byte 130; each record goes out in
// blocks of up to 128 bytes, every block framed on both sides by its length byte, 129 for
// a full block that the record continues past.
// Length records (SEISAN 7+): each record framed on both sides by its length as a 4-byte
// little-endian integer; nothing before the first record or after the last.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "convert/sample_layout.h"

namespace pk::seis {

// Record framing of pk_seis's waveform files (-W): length-byte blocks of 128 bytes
// between 'K' and an end byte, or each record between two 4-byte lengths.
enum class SeiFraming : uint8_t { pc_blocks, length4 };

inline constexpr uint8_t kFileEnd = 130;
inline constexpr uint64_t kMaxLengthRecord = std::numeric_limits<int32_t>::max();

class RecordWriter {
 public:
  virtual ~RecordWriter() = default;
  // Whether a record of `length` bytes can be framed at all.
  virtual bool fits(uint64_t length) const = 0;
  virtual void begin_file() = 0;
  virtual void end_file() = 0;
  // Starts a record of exactly `length` bytes; they follow through write().
  virtual void begin_record(uint64_t length) = 0;
  virtual void write(std::string_view bytes) = 0;
  virtual void end_record() = 0;
  void record(std::string_view bytes) {
    begin_record(bytes.size());
    write(bytes);
    end_record();
  }
};

class BlockWriter final : public RecordWriter {
 public:
  explicit BlockWriter(std::ostream& out) : out_(out) {}
  bool fits(uint64_t) const override { return true; }
  void begin_file() override;
  void end_file() override;
  void begin_record(uint64_t) override {}
  void write(std::string_view bytes) override;
  // Writes the short last block, if any; the next write starts a new record.
  void end_record() override;

 private:
  void flush_block(uint8_t length_byte);

  std::ostream& out_;
  std::array<char, kBlockData> buf_{};
  std::size_t used_ = 0;
};

class LengthWriter final : public RecordWriter {
 public:
  explicit LengthWriter(std::ostream& out) : out_(out) {}
  bool fits(uint64_t length) const override { return length <= kMaxLengthRecord; }
  void begin_file() override {}
  void end_file() override {}
  // A length the 4-byte field cannot carry throws std::length_error: callers check fits().
  void begin_record(uint64_t length) override;
  void write(std::string_view bytes) override;
  void end_record() override;

 private:
  void put_length();

  std::ostream& out_;
  uint32_t length_ = 0;
};

std::unique_ptr<RecordWriter> record_writer(SeiFraming framing, std::ostream& out);

}  // namespace pk::seis
