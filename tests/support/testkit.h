// What the tests of every area share: scratch directories, running the built programs,
// file bytes, and the byte orders of sample words.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace testkit {

// A fresh directory under the system's temporary directory, removed on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The directory with a trailing '/', as a run keeps its base directory.
  std::string dir() const { return path_.string() + "/"; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// ---- running programs ----
struct RunResult {
  int code = -1;    // exit code; -1 when the program did not exit by itself
  std::string out;  // standard output and standard error, interleaved as written
};

// The built program `name` of this tree.
std::string program_path(const std::string& name);

// Runs `program args` in `cwd` through the shell; `args` is shell text, quoted where
// needed. `prefix` goes before the program: variable settings ("A=1 B=2") or commands
// ending in "&&" or ";" such as limits.
RunResult run_program(const std::string& program, const std::string& args, const std::string& cwd,
                      const std::string& prefix = "");
// Exit code of a shell command line.
int run_shell(const std::string& command);
// Whether the shell finds `tool` on the PATH; tests of an absent outside tool skip.
bool on_path(const std::string& tool);

// ---- files ----
// Empty when the file cannot be read.
std::string read_file(const std::filesystem::path& path);
// Throws std::runtime_error when the file cannot be written.
void write_file(const std::filesystem::path& path, std::string_view bytes);
// Every regular file below `dir`, relative paths, sorted.
std::vector<std::string> list_files(const std::filesystem::path& dir);

// ---- bytes and sample words ----
// Fields of a byte string, most or least significant byte first; out of range throws.
uint16_t u16be(std::string_view b, std::size_t off);
uint32_t u32be(std::string_view b, std::size_t off);
uint32_t u32le(std::string_view b, std::size_t off);
inline int32_t i32be(std::string_view b, std::size_t off) { return static_cast<int32_t>(u32be(b, off)); }

// 32-bit words back to back; a trailing partial word is ignored.
std::vector<int32_t> samples_be(std::string_view bytes);
std::vector<int32_t> samples_le(std::string_view bytes);
std::string be_bytes(const std::vector<int32_t>& samples);
std::string le_bytes(const std::vector<int32_t>& samples);
std::vector<int32_t> ramp(std::size_t n, int32_t start, int32_t step);

// Everything `write` puts on a stream, byte for byte.
template <class F>
std::string capture(F&& write) {
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* fd = open_memstream(&buf, &len);
  write(fd);
  std::fclose(fd);
  std::string out(buf, len);
  std::free(buf);
  return out;
}

// ---- generated inputs ----
// A reproducible random walk with steps that fit 8-bit differences, so compressed
// formats pack it as densely as they can.
class RandomWalk {
 public:
  explicit RandomWalk(uint64_t seed) : state_(seed) {}
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

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace testkit
