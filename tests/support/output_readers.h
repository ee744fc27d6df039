// Readers of what the programs write: SEG-Y traces and gathers, SEISAN waveform files and
// SAC files. They undo each layout on their own, so the writers are checked rather than
// reused.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testkit {

// ---- SEG-Y ----
struct SegyTrace {
  std::string header;  // 240 bytes
  std::vector<int32_t> samples;
};

struct SegyFile {
  std::vector<SegyTrace> traces;
  // Every trace holds all the samples its length promises and no bytes are left over.
  bool whole = true;
};

// Splits a SEG-Y file into traces. Each trace's length comes from its own header
// (byte 228), or from the file header (byte 3268) when `fixed_length` is set.
SegyFile read_segy(std::string_view bytes, bool file_header, bool fixed_length);
// The samples of a file of one trace without file header; empty unless it is exactly that.
std::vector<int32_t> trace_file_samples(const std::filesystem::path& path);

// ---- SEISAN ----
struct SeiChannel {
  std::string header;            // 1040 bytes
  std::vector<int32_t> samples;  // least significant byte first in the file
};

struct SeiFile {
  std::vector<std::string> lines;  // the 80-column header lines: twelve, more for over 30 channels
  std::vector<SeiChannel> channels;
};

// The records of the block framing. A record has no end mark of its own when it fills its
// last block, so such a record runs on into the next one (the last record excepted).
// Throws std::runtime_error on any framing error.
std::vector<std::string> sei_records(std::string_view bytes);
// Header lines and channels, each record as long as the headers say (the count in columns
// 44 to 50); a blank sample count reads as none. Throws std::runtime_error on any framing or layout error.
SeiFile read_sei(std::string_view bytes);
// The same from a file in the SEISAN 7+ framing, each record between two equal 4-byte
// little-endian lengths: every channel header is followed by its sample record, whose
// length the framing gives (a blank count in the header is allowed). Throws
// std::runtime_error on any framing or layout error.
SeiFile read_sei4(std::string_view bytes);
// Columns first..last (1-based) of a line or header.
std::string cols(const std::string& text, int first, int last);

// ---- SAC ----
struct SacFile {
  static constexpr std::size_t kHeader = 632;

  std::string bytes;
  bool big_endian = true;

  bool ok() const { return bytes.size() >= kHeader; }
  // Word i of the file in its byte order; out of range throws.
  uint32_t word(std::size_t i) const;
  float real(std::size_t i) const;
  int32_t npts() const { return static_cast<int32_t>(word(79)); }
  float sample(std::size_t i) const { return real(kHeader / 4 + i); }
  // The header and exactly npts samples.
  bool whole() const;
  // Every sample word after the header.
  std::vector<float> samples() const;
};

SacFile read_sac(const std::filesystem::path& path, bool big_endian = true);

}  // namespace testkit
