#include "raw_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

#include "failure.h"

namespace pk {

namespace {

// Large reads and writes: on ext4 this copies faster than copy_file_range, which moves
// the data through a pipe a few pages at a time.
constexpr std::size_t kCopyBuffer = 256 * 1024;

}  // namespace

RawFile::RawFile(std::string path, Mode mode) : path_(std::move(path)) {
  fd_ = ::open(path_.c_str(), (mode == Mode::read ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd_ < 0) shut_down(ExitCode::open_error, path_);
  if (mode == Mode::write) end_ = size();
}

RawFile::~RawFile() {
  if (fd_ >= 0) ::close(fd_);
}

uint64_t RawFile::size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) shut_down(ExitCode::read_error, path_);
  return static_cast<uint64_t>(st.st_size);
}

void RawFile::write_at(uint64_t offset, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) shut_down(ExitCode::write_error, path_);
    bytes = bytes.subspan(static_cast<std::size_t>(n));
    offset += static_cast<uint64_t>(n);
  }
}

void RawFile::append(std::string_view bytes) {
  write_at(end_, {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  end_ += bytes.size();
}

void RawFile::append_from(const RawFile& in, uint64_t offset, uint64_t length) {
  std::vector<uint8_t> buf(static_cast<std::size_t>(std::min<uint64_t>(length, kCopyBuffer)));
  while (length > 0) {
    const ssize_t n = ::pread(in.fd_, buf.data(), static_cast<std::size_t>(std::min<uint64_t>(length, buf.size())),
                              static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) shut_down(ExitCode::read_error, in.path_);
    append({reinterpret_cast<const char*>(buf.data()), static_cast<std::size_t>(n)});
    offset += static_cast<uint64_t>(n);
    length -= static_cast<uint64_t>(n);
  }
}

void RawFile::close() {
  const int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && ::close(fd) != 0) shut_down(ExitCode::write_error, path_);
}

}  // namespace pk
