// Running a built program inside a scratch directory and reading what it wrote.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "pkenc.h"

namespace testutil {

struct RunResult {
  int code = -1;
  std::string out;  // standard output
};

// A fresh directory under the system's temporary directory, removed on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Runs `program args` with `cwd` as working directory and `env` prepended ("A=1 B=2").
RunResult run_program(const std::string& program, const std::string& args, const std::string& cwd,
                      const std::string& env = "");
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
// Every regular file below `dir`, relative paths, sorted.
std::vector<std::string> list_files(const std::string& dir);
std::vector<int32_t> samples_be(const std::string& bytes);
std::vector<int32_t> samples_le(const std::string& bytes);
std::vector<int32_t> ramp(std::size_t n, int32_t start, int32_t step);

}  // namespace testutil
