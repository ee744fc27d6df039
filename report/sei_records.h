// The record framings of SEISAN waveform files. Records are read when they are headers
// and stepped over when they hold samples.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "report/input_file.h"

namespace report {

enum class Framing { blocks, length_words };

class SeiRecords {
 public:
  // Finds the framing from the first bytes; empty (with `error` set) when it is neither.
  static std::optional<SeiRecords> open(InputFile& file, std::string& error);

  bool at_end() const { return at_ >= end_; }
  // The next record, which must be `len` bytes long.
  std::optional<std::string> read(std::size_t len, std::string& error);
  // Steps over a sample record and returns its length: `len` when the channel header
  // counts the samples, else whatever the framing says.
  std::optional<uint64_t> skip(std::optional<uint64_t> len, std::string& error);

 private:
  SeiRecords(InputFile& file, Framing framing, uint64_t at, uint64_t end)
      : file_(&file), framing_(framing), at_(at), end_(end) {}

  std::optional<std::string> read_blocks(std::size_t len, std::string& error);
  std::optional<uint64_t> skip_blocks(uint64_t len, std::string& error);
  std::optional<uint64_t> walk_blocks(std::string& error);
  std::optional<uint64_t> skip_length_words(std::optional<uint64_t> len, std::string& error);
  bool fail(std::string& error, const std::string& what) const;

  InputFile* file_;
  Framing framing_;
  uint64_t at_;   // the next record
  uint64_t end_;  // the end byte (blocks) or the end of the file
};

}  // namespace report
