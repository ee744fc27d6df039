#include "raw_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

#include "failure.h"

namespace pk {

namespace {

// Large enough for few calls, small enough for any kernel's limit on one call.
constexpr uint64_t kKernelChunk = uint64_t{1} << 30;
constexpr std::size_t kBufferChunk = 256 * 1024;

// The kernel cannot copy between these two files at all; a buffer can.
bool kernel_cannot_copy(int err) { return err == EXDEV || err == ENOSYS || err == EINVAL || err == EOPNOTSUPP; }

}  // namespace

KernelCopy kernel_copy() { return ::copy_file_range; }

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

void RawFile::append_from(const RawFile& in, uint64_t offset, uint64_t length, KernelCopy kernel) {
  auto from = static_cast<off64_t>(offset);
  while (length > 0) {
    auto to = static_cast<off64_t>(end_);
    const ssize_t n = kernel(in.fd_, &from, fd_, &to, static_cast<size_t>(std::min(length, kKernelChunk)), 0);
    if (n > 0) {
      length -= static_cast<uint64_t>(n);
      end_ = static_cast<uint64_t>(to);
    } else if (n == 0) {
      shut_down(ExitCode::read_error, in.path_);
    } else if (errno != EINTR) {
      if (!kernel_cannot_copy(errno)) shut_down(ExitCode::write_error, path_);
      append_through_buffer(in, static_cast<uint64_t>(from), length);
      return;
    }
  }
}

void RawFile::append_through_buffer(const RawFile& in, uint64_t offset, uint64_t length) {
  std::vector<uint8_t> buf(static_cast<std::size_t>(std::min<uint64_t>(length, kBufferChunk)));
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
