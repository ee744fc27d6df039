// Reads an HBK file many blocks at a time straight into place, so a block is
// neither read nor copied one by one on its way to the conversion.
#pragma once

#include "hbk2sac/block.h"

#include <string>
#include <vector>

namespace hbk {

class BlockReader {
 public:
  // is_open() is false when the file cannot be opened for reading.
  explicit BlockReader(const std::string& path);
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  bool is_open() const { return fd_ >= 0; }
  // errno of the failed open or read; 0 while none failed. A read cut short by
  // CTRL-C counts as failed (EINTR); the caller knows about the signal.
  int error() const { return error_; }
  const std::string& path() const { return path_; }

  // The next whole block as stored in the file, valid until the next call; null at
  // the end of the file, after a read error and after a read cut short by a signal.
  // A trailing partial block is never handed out.
  Block* next();
  // Bytes after the last whole block; once next() has given null at the end of the
  // file, those of a trailing partial block.
  std::size_t partial_bytes() const { return filled_ - next_ * kBlockSize; }

 private:
  bool refill();

  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  std::vector<Block> blocks_;
  std::size_t filled_ = 0;  // bytes read into blocks_
  std::size_t next_ = 0;    // index of the block next() hands out
};

}  // namespace hbk
