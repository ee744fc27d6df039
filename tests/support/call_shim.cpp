// Preloaded into a program under test (LD_PRELOAD) to see the order of its syncs and
// renames: with PK_SHIM_LOG=file each fdatasync, fsync and rename is appended to the
// file, one line each ("fdatasync PATH", "fsync PATH", "rename FROM TO").
// A sync is logged once it has returned and a rename before it starts, so a sync logged
// ahead of a rename really finished before that rename began.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

// One write with O_APPEND per line, so lines from several threads never interleave.
void log_line(const std::string& line) {
  const char* path = std::getenv("PK_SHIM_LOG");
  if (!path) return;
  const int saved = errno;
  const std::string text = line + '\n';
  // A line lost here fails the test that reads the log.
  if (const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600); fd >= 0) {
    [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
    ::close(fd);
  }
  errno = saved;
}

std::string fd_path(int fd) {
  char buf[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "?";
}

template <class F>
F next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int fdatasync(int fd) {
  const int result = next<int (*)(int)>("fdatasync")(fd);
  log_line("fdatasync " + fd_path(fd));
  return result;
}

int fsync(int fd) {
  const int result = next<int (*)(int)>("fsync")(fd);
  log_line("fsync " + fd_path(fd));
  return result;
}

int rename(const char* from, const char* to) {
  log_line(std::string("rename ") + from + " " + to);
  return next<int (*)(const char*, const char*)>("rename")(from, to);
}

}  // extern "C"
