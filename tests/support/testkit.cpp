#include "tests/support/testkit.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>

namespace testkit {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::string tmpl = (fs::temp_directory_path() / "pk-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("cannot create a directory like " + tmpl);
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string program_path(const std::string& name) { return std::string(PK_BIN_DIR) + "/" + name; }

namespace {

int exit_code(int status) { return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

RunResult run_program(const std::string& program, const std::string& args, const std::string& cwd,
                      const std::string& prefix) {
  // The output comes through a pipe so that nothing of the run's own lands in `cwd`.
  const std::string cmd =
      "cd '" + cwd + "' && " + prefix + (prefix.empty() ? "" : " ") + "'" + program + "' " + args + " 2>&1";
  RunResult r;
  std::FILE* pipe = ::popen(cmd.c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  while (const std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) r.out.append(buf, n);
  r.code = exit_code(::pclose(pipe));
  return r;
}

int run_shell(const std::string& command) { return exit_code(std::system(command.c_str())); }

bool on_path(const std::string& tool) { return run_shell("command -v '" + tool + "' > /dev/null 2>&1") == 0; }

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> list_files(const fs::path& dir) {
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files.push_back(fs::relative(e.path(), dir).string());
  std::sort(files.begin(), files.end());
  return files;
}

namespace {

uint8_t byte_at(std::string_view b, std::size_t off) {
  if (off >= b.size()) throw std::out_of_range("byte " + std::to_string(off) + " of " + std::to_string(b.size()));
  return static_cast<uint8_t>(b[off]);
}

}  // namespace

uint16_t u16be(std::string_view b, std::size_t off) {
  return static_cast<uint16_t>(byte_at(b, off) << 8 | byte_at(b, off + 1));
}

uint32_t u32be(std::string_view b, std::size_t off) {
  return uint32_t{byte_at(b, off)} << 24 | uint32_t{byte_at(b, off + 1)} << 16 | uint32_t{byte_at(b, off + 2)} << 8 |
         byte_at(b, off + 3);
}

uint32_t u32le(std::string_view b, std::size_t off) {
  return uint32_t{byte_at(b, off + 3)} << 24 | uint32_t{byte_at(b, off + 2)} << 16 |
         uint32_t{byte_at(b, off + 1)} << 8 | byte_at(b, off);
}

std::vector<int32_t> samples_be(std::string_view bytes) {
  std::vector<int32_t> v;
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) v.push_back(i32be(bytes, i));
  return v;
}

std::vector<int32_t> samples_le(std::string_view bytes) {
  std::vector<int32_t> v;
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) v.push_back(static_cast<int32_t>(u32le(bytes, i)));
  return v;
}

std::string be_bytes(const std::vector<int32_t>& samples) {
  std::string s;
  for (int32_t v : samples) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>(u >> shift));
  }
  return s;
}

std::string le_bytes(const std::vector<int32_t>& samples) {
  std::string s;
  for (int32_t v : samples) {
    const auto u = static_cast<uint32_t>(v);
    for (int shift = 0; shift <= 24; shift += 8) s.push_back(static_cast<char>(u >> shift));
  }
  return s;
}

std::vector<int32_t> ramp(std::size_t n, int32_t start, int32_t step) {
  std::vector<int32_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<int32_t>(start + static_cast<int64_t>(i) * step);
  return v;
}

}  // namespace testkit
