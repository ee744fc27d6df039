// Reads SEISAN waveform files back for the tests: undoes the block framing on its own,
// so the writer's framing is checked rather than reused.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace seistest {

struct SeiChannel {
  std::string header;            // 1040 bytes
  std::vector<int32_t> samples;  // least significant byte first in the file
};

struct SeiFile {
  std::vector<std::string> lines;  // the twelve 80-column header lines
  std::vector<SeiChannel> channels;
};

// Throws std::runtime_error on any framing or layout error.
std::vector<std::string> sei_records(const std::string& bytes);
SeiFile read_sei(const std::string& bytes);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& bytes);
std::string le_bytes(const std::vector<int32_t>& samples);
std::vector<int32_t> be_samples(const std::string& bytes);
// Columns first..last (1-based) of a line or header.
std::string cols(const std::string& text, int first, int last);

// A fresh directory under the system's temporary directory, removed again on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Regular files below dir, relative and sorted.
std::vector<std::string> list_files(const std::filesystem::path& dir);

}  // namespace seistest
