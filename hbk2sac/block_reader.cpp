#include "hbk2sac/block_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/stop_signals.h"

namespace hbk {

namespace {

// 64 KiB: a handful of reads per megabyte, and small beside the page cache.
constexpr std::size_t kBlocksPerRead = 64;

static_assert(sizeof(Block) == kBlockSize, "blocks lie back to back in the read buffer");

}  // namespace

BlockReader::BlockReader(const std::string& path)
    : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), blocks_(kBlocksPerRead) {
  if (fd_ < 0) error_ = errno;
}

// Nothing was written through the input, so its close has nothing to lose.
BlockReader::~BlockReader() {
  if (fd_ >= 0) ::close(fd_);
}

Block* BlockReader::next() {
  if ((next_ + 1) * kBlockSize > filled_ && !refill()) return nullptr;
  return &blocks_[next_++];
}

// The bytes of a block not yet whole move to the front, and reading goes on
// behind them until a block is whole: a pipe may deliver a block in pieces.
bool BlockReader::refill() {
  auto* bytes = reinterpret_cast<std::uint8_t*>(blocks_.data());
  const std::size_t handed_out = next_ * kBlockSize;
  std::memmove(bytes, bytes + handed_out, filled_ - handed_out);
  filled_ -= handed_out;
  next_ = 0;
  const std::size_t capacity = blocks_.size() * kBlockSize;
  while (filled_ < kBlockSize) {
    const ssize_t got = ::read(fd_, bytes + filled_, capacity - filled_);
    if (got < 0 && errno == EINTR && !pk::stop_requested()) continue;
    if (got < 0) error_ = errno;
    if (got <= 0) return false;
    filled_ += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace hbk
