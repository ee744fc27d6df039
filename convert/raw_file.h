// Files written by descriptor rather than through stdio: headers put in place at an
// offset, and bytes of one file appended to another.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unistd.h>

namespace pk {

// An open file whose every write and whose closing are checked: a failure ends the run
// with code 22 naming it. Appends go to the end the file had when opened, moved on by each
// append. Closed unchecked when it goes without close(): the run has failed then.
class RawFile {
 public:
  enum class Mode { read, write };
  // Opens an existing file; failure ends the run with code 20.
  RawFile(std::string path, Mode mode);
  ~RawFile();
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;

  const std::string& path() const { return path_; }
  uint64_t size() const;

  void write_at(uint64_t offset, std::span<const uint8_t> bytes);
  void append(std::string_view bytes);
  // Appends `length` bytes of `in` from `offset` on. A source that ends early ends the
  // run with code 21.
  void append_from(const RawFile& in, uint64_t offset, uint64_t length);
  void close();

 private:
  std::string path_;
  int fd_ = -1;
  uint64_t end_ = 0;
};

}  // namespace pk
