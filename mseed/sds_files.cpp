#include "mseed/sds_files.h"

#include <cerrno>
#include <fcntl.h>
#include <dirent.h>
#include <memory>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/stop_signals.h"
#include "common/temporary_name.h"

namespace pk::sds {

Fd& Fd::operator=(Fd&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

int sync_directory(const std::string& dir) {
  Fd fd(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.ok()) return errno;
  return ::fsync(fd.get()) == 0 ? 0 : errno;
}

// The directory holding `path` (no trailing '/').
std::string parent_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int make_directories(const std::string& dir, bool durable, std::string& failed) {
  std::string path = dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    std::string level = path.substr(0, at);
    if (::mkdir(level.c_str(), 0777) == 0) {
      if (!durable) continue;
      if (int e = sync_directory(parent_of(level))) return failed = parent_of(level), e;
    } else if (errno != EEXIST) {
      return failed = level, errno;
    }
  }
  return 0;
}

int take_lock(const std::string& path, Fd& lock) {
  lock = Fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  // Another user's lock file: flock locks through a read-only descriptor as well.
  if (!lock.ok() && errno == EACCES) lock = Fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!lock.ok()) return errno;
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR || stop_requested()) return errno;
  }
  return 0;
}

void remove_stale_temporaries(const std::string& dir, const std::string& name) {
  // Plain readdir rather than a directory_iterator: that one aborts or frees a wild
  // pointer when an allocation inside it fails. A leftover that cannot go now (the
  // directory unreadable, memory short) goes another time.
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.c_str()), ::closedir);
  if (!listing) return;
  const std::string prefix = "." + name + ".pk_mseed-";
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view leaf(entry->d_name);
    if (leaf.starts_with(prefix) && leaf.ends_with(".part")) ::unlink((dir + entry->d_name).c_str());
  }
}

Replacement::~Replacement() {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

int Replacement::create() {
  std::string owner = "pk_mseed-" + std::to_string(::getpid());
  for (unsigned n = 0;; ++n) {
    std::string path = dir_ + temporary_name(name_, owner, n);
    fd_ = Fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd_.ok()) {
      temporary_ = std::move(path);  // no allocation between creating it and owning it
      return 0;
    }
    if (errno != EEXIST || n >= 100) return errno;
  }
}

int Replacement::write(const char* data, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd_.get(), data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return 0;
}

int Replacement::publish(bool durable, std::string& step) {
  step = "sync";
  if (durable && ::fdatasync(fd_.get()) != 0) return errno;
  step = "close";
  if (::close(fd_.release()) != 0) return errno;
  step = "rename into";
  if (::rename(temporary_.c_str(), (dir_ + name_).c_str()) != 0) return errno;
  temporary_.clear();
  step = "sync the directory of";
  return durable ? sync_directory(dir_) : 0;
}

}  // namespace pk::sds
