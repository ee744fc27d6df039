// Helpers shared by the SEG-Y tests: temporary directories, file bytes and a reader for
// the trace and gather files pk_segy writes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace segytest {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "pk_segy_test_XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string{};
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // The directory with a trailing '/', as the run's base directory is kept.
  std::string dir() const { return path_ + "/"; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline uint32_t u32(const std::vector<uint8_t>& b, std::size_t off) {
  return (uint32_t{b.at(off)} << 24) | (uint32_t{b.at(off + 1)} << 16) | (uint32_t{b.at(off + 2)} << 8) | b.at(off + 3);
}
inline uint16_t u16(const std::vector<uint8_t>& b, std::size_t off) {
  return static_cast<uint16_t>((b.at(off) << 8) | b.at(off + 1));
}
inline int32_t i32(const std::vector<uint8_t>& b, std::size_t off) { return static_cast<int32_t>(u32(b, off)); }

inline std::vector<uint8_t> be_samples(const std::vector<int32_t>& samples) {
  std::vector<uint8_t> out;
  for (int32_t s : samples) {
    const auto v = static_cast<uint32_t>(s);
    out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
  }
  return out;
}

struct Trace {
  std::vector<uint8_t> header;  // 240 bytes
  std::vector<int32_t> samples;
};

// Splits a SEG-Y file into traces. Each trace's length comes from its own header
// (offset 228), or from the file header (3268) when `fixed_length` is set.
inline std::vector<Trace> read_traces(const std::vector<uint8_t>& file, bool file_header, bool fixed_length) {
  std::vector<Trace> traces;
  std::size_t pos = file_header ? 3600 : 0;
  while (pos + 240 <= file.size()) {
    Trace t;
    t.header.assign(file.begin() + static_cast<long>(pos), file.begin() + static_cast<long>(pos + 240));
    pos += 240;
    const uint32_t n = fixed_length ? u32(file, 3268) : u32(t.header, 228);
    for (uint32_t i = 0; i < n && pos + 4 <= file.size(); ++i, pos += 4) t.samples.push_back(i32(file, pos));
    traces.push_back(std::move(t));
  }
  return traces;
}

// Names of the regular files below `root` (relative paths), sorted.
inline std::vector<std::string> files_below(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace segytest
