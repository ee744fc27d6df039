// Files written by descriptor rather than through stdio: headers put in place at an
// offset, and bytes read from where they lie.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace pk {

// An open file whose every write and whose closing are checked: a failure ends the run
// with code 22 naming it. Closed unchecked when it goes without close(): the run has
// failed then.
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
  // Reads up to into.size() bytes at `offset`; returns how many, 0 at the end of the file.
  // A failed read ends the run with code 21.
  std::size_t read_at(uint64_t offset, std::span<uint8_t> into) const;
  void close();

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace pk
