// Preloaded into hbk2sac by the durable-run test: appends a line for every fdatasync,
// fsync and rename, in call order, to the file that SYNC_LOG names.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

std::string path_of(int fd) {
  char target[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
  return n > 0 ? std::string(target, std::size_t(n)) : "?";
}

void log_call(const std::string& line) {
  const char* log = std::getenv("SYNC_LOG");
  if (log == nullptr) return;
  const int saved = errno;
  const std::string text = line + '\n';
  // A line lost here fails the test that reads the log.
  if (const int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600); fd >= 0) {
    [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
    ::close(fd);
  }
  errno = saved;
}

template <class F>
F real(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fdatasync(int fd) {
  const int result = real<int (*)(int)>("fdatasync")(fd);
  log_call("fdatasync " + path_of(fd));
  return result;
}

extern "C" int fsync(int fd) {
  const int result = real<int (*)(int)>("fsync")(fd);
  log_call("fsync " + path_of(fd));
  return result;
}

extern "C" int rename(const char* from, const char* to) {
  const int result = real<int (*)(const char*, const char*)>("rename")(from, to);
  log_call(std::string("rename ") + from + " " + to);
  return result;
}
