// A file read in pieces at given offsets: the readers take the headers they need and
// step over the samples.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace report {

class InputFile {
 public:
  explicit InputFile(const std::filesystem::path& path);

  bool ok() const { return file_ != nullptr; }
  uint64_t size() const { return size_; }
  // Up to n bytes from `offset`: fewer at the end of the file or after a read error.
  std::string read_at(uint64_t offset, std::size_t n);

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  uint64_t size_ = 0;
  std::string head_;  // the file's first bytes, where most headers lie
};

}  // namespace report
