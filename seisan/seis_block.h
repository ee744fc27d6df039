// Record framing of a SEISAN waveform file: each record goes out in blocks of up to 128
// bytes, every block framed on both sides by its length byte, 129 for a full block that
// the record continues past.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace pk::seis {

inline constexpr std::size_t kBlockData = 128;
inline constexpr uint8_t kFullBlock = 129;
inline constexpr uint8_t kFileEnd = 130;

class BlockWriter {
 public:
  explicit BlockWriter(std::ostream& out) : out_(out) {}
  // Appends bytes to the current record.
  void write(std::string_view bytes);
  // Writes the short last block, if any; the next write starts a new record.
  void end_record();
  void record(std::string_view bytes) {
    write(bytes);
    end_record();
  }

 private:
  void flush_block(uint8_t length_byte);

  std::ostream& out_;
  std::array<char, kBlockData> buf_{};
  std::size_t used_ = 0;
};

// The framed bytes of one record.
std::string frame_record(std::string_view bytes);

}  // namespace pk::seis
