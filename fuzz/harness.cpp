#include "fuzz/harness.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace pkfuzz {

namespace fs = std::filesystem;

namespace {

// The programs' own messages on standard error would flood the fuzzer's log, so scripts/fuzz
// has the fuzzer discard descriptor 2 (-close_fd_mask=2); the harness keeps a copy of it,
// taken before that, for its findings.
const int kFindingsFd = ::dup(2);

[[noreturn]] void die(const std::string& what) {
  ::dprintf(kFindingsFd >= 0 ? kFindingsFd : 2, "fuzz harness: %s\n", what.c_str());
  std::abort();
}

std::string make_scratch_dir() {
  std::error_code ec;
  std::string pattern = (fs::temp_directory_path(ec) / "pkfuzz.XXXXXX").string();
  if (ec || !::mkdtemp(pattern.data())) die("cannot create a scratch directory");
  return pattern;
}

struct ScratchDir {
  std::string path = make_scratch_dir();
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

}  // namespace

const std::string& scratch_dir() {
  static const ScratchDir dir;
  return dir.path;
}

void write_file(const std::string& path, const uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) die("cannot write " + path);
}

void write_file(const std::string& path, const std::string& text) {
  write_file(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void empty_dir(const std::string& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) fs::remove_all(entry.path(), ec);
  if (ec) die("cannot empty " + dir + ": " + ec.message());
}

void silence_stdout() {
  static const bool done = std::freopen("/dev/null", "w", stdout) != nullptr;
  if (!done) die("cannot redirect stdout");
}

void limit_file_size(std::size_t bytes) {
  static const bool done = [bytes] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }();
  if (!done) die("cannot limit the file size");
}

int open_descriptor_count() {
  int n = 0;
  std::error_code ec;
  for (auto it = fs::directory_iterator("/proc/self/fd", ec); !ec && it != fs::directory_iterator();
       it.increment(ec))
    ++n;
  return n;
}

void require_no_leaked_descriptors(int before, const char* what) {
  const int after = open_descriptor_count();
  if (after > before) die(std::string(what) + " left " + std::to_string(after - before) + " file(s) open");
}

void require_no_files_with(const std::string& dir, std::initializer_list<const char*> extensions,
                           const char* what) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const std::string ext = it->path().extension().string();
    for (const char* e : extensions)
      if (ext == e) die(std::string(what) + " left " + it->path().string() + " behind");
  }
}

void reset_working_dir() {
  if (::chdir(scratch_dir().c_str()) != 0) die("cannot enter " + scratch_dir());
}

}  // namespace pkfuzz
