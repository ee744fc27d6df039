// File-system steps of rewriting a day file: directories, the lock, the temporary and
// its publication. Each returns the errno of a failure, 0 on success.
#pragma once

#include <string>

namespace pk::sds {

// An open file descriptor, closed (unchecked: read-only and lock files) when dropped.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(o.release()) {}
  Fd& operator=(Fd&& o) noexcept;
  ~Fd();
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// Creates `dir` and its missing parents; with `durable` each new entry is synced into
// its parent. On failure `failed` names the directory that could not be made.
int make_directories(const std::string& dir, bool durable, std::string& failed);

// Waits for the exclusive lock on `path` (created where missing, never removed); EINTR
// when CTRL-C or SIGTERM ends the wait.
int take_lock(const std::string& path, Fd& lock);

// Deletes the temporaries of day file `name` in `dir` (ending in '/') that runs killed
// before they finished left behind. Only under the day file's lock: then no run is
// writing one.
void remove_stale_temporaries(const std::string& dir, const std::string& name);

// A day file's replacement being written: a hidden temporary beside it, deleted unless
// published.
class Replacement {
 public:
  // `dir` ends in '/'.
  Replacement(std::string dir, std::string name) : dir_(std::move(dir)), name_(std::move(name)) {}
  ~Replacement();
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  int create();
  int write(const char* data, std::size_t length);
  // Syncs (when durable), closes, renames over the day file, syncs the directory.
  // `step` tells which of these failed.
  int publish(bool durable, std::string& step);

 private:
  std::string dir_, name_, temporary_;
  Fd fd_;
};

}  // namespace pk::sds
