#include "raw_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "failure.h"

namespace pk {

RawFile::RawFile(std::string path, Mode mode) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), (mode == Mode::read ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd_ < 0) shut_down(ExitCode::open_error, path_, errno);
}

RawFile::~RawFile() {
  if (fd_ >= 0) ::close(fd_);
}

uint64_t RawFile::size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) shut_down(ExitCode::read_error, path_, errno);
  return static_cast<uint64_t>(st.st_size);
}

void RawFile::write_at(uint64_t offset, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) shut_down(ExitCode::write_error, path_, n < 0 ? errno : EIO);
    bytes = bytes.subspan(static_cast<std::size_t>(n));
    offset += static_cast<uint64_t>(n);
  }
}

std::size_t RawFile::read_at(uint64_t offset, std::span<uint8_t> into) const {
  for (;;) {
    const ssize_t n = ::pread(fd_, into.data(), into.size(), static_cast<off_t>(offset));
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) shut_down(ExitCode::read_error, path_, errno);
  }
}

void RawFile::close() {
  const int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && ::close(fd) != 0) shut_down(ExitCode::write_error, path_, errno);
}

}  // namespace pk
