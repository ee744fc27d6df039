#include "run_helpers.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>

namespace testutil {

ScratchDir::ScratchDir() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() / ("pk-test-" + std::to_string(rd()) + std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

RunResult run_program(const std::string& program, const std::string& args, const std::string& cwd,
                      const std::string& env) {
  const std::string out = cwd + "/.stdout";
  const std::string cmd = "cd '" + cwd + "' && " + env + (env.empty() ? "" : " ") + "'" + program + "' " + args +
                          " > '" + out + "' 2>&1";
  const int status = std::system(cmd.c_str());
  RunResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = read_file(out);
  std::filesystem::remove(out);
  return r;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<std::string> list_files(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files.push_back(std::filesystem::relative(e.path(), dir).string());
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<int32_t> samples_be(const std::string& b) {
  std::vector<int32_t> v;
  for (std::size_t i = 0; i + 4 <= b.size(); i += 4) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + i);
    v.push_back(static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]));
  }
  return v;
}

std::vector<int32_t> samples_le(const std::string& b) {
  std::vector<int32_t> v;
  for (std::size_t i = 0; i + 4 <= b.size(); i += 4) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + i);
    v.push_back(static_cast<int32_t>((uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0]));
  }
  return v;
}

std::vector<int32_t> ramp(std::size_t n, int32_t start, int32_t step) {
  std::vector<int32_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = start + static_cast<int32_t>(i) * step;
  return v;
}

}  // namespace testutil
