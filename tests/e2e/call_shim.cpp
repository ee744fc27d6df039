// Preloaded into a program under test (LD_PRELOAD) to see and bend a few system calls:
//   PK_SHIM_NO_THREADS=1  pthread_create fails with EAGAIN, as when the system has no
//                         thread left to give;
//   PK_SHIM_LOG=file      each fdatasync, fsync and rename is appended to the file, one
//                         line each ("fdatasync PATH", "fsync PATH", "rename FROM TO"), in
//                         the order they were called.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace {

std::mutex log_mutex;

void log_line(const std::string& line) {
  const char* path = std::getenv("PK_SHIM_LOG");
  if (!path) return;
  const std::lock_guard<std::mutex> lock(log_mutex);
  if (std::FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

std::string fd_path(int fd) {
  char buf[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "?";
}

template <class F>
F next(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*), void* arg) {
  if (std::getenv("PK_SHIM_NO_THREADS")) return EAGAIN;
  using Fn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  return next<Fn>("pthread_create")(thread, attr, start, arg);
}

int fdatasync(int fd) {
  log_line("fdatasync " + fd_path(fd));
  return next<int (*)(int)>("fdatasync")(fd);
}

int fsync(int fd) {
  log_line("fsync " + fd_path(fd));
  return next<int (*)(int)>("fsync")(fd);
}

int rename(const char* from, const char* to) {
  log_line(std::string("rename ") + from + " " + to);
  return next<int (*)(const char*, const char*)>("rename")(from, to);
}

}  // extern "C"
