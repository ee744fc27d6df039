#include "report/input_file.h"

#include <algorithm>

namespace report {

namespace {

// A SEISAN file's header lines and first channel header, a SAC header, a SEG-Y file header.
constexpr uint64_t kHeadBytes = 4096;

}  // namespace

InputFile::InputFile(const std::filesystem::path& path) : file_(std::fopen(path.c_str(), "rb")) {
  std::error_code ec;
  size_ = std::filesystem::file_size(path, ec);
  if (ec) file_.reset();
  // Reads past the first bytes are few, small and far apart: a stream buffer would only
  // read more.
  if (!file_) return;
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  head_.resize(static_cast<std::size_t>(std::min<uint64_t>(size_, kHeadBytes)));
  head_.resize(std::fread(head_.data(), 1, head_.size(), file_.get()));
}

std::string InputFile::read_at(uint64_t offset, std::size_t n) {
  if (offset + n <= head_.size()) return head_.substr(static_cast<std::size_t>(offset), n);
  if (!file_ || offset >= size_) return {};
  if (std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0) return {};
  std::string bytes(static_cast<std::size_t>(std::min<uint64_t>(n, size_ - offset)), '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file_.get()));
  return bytes;
}

}  // namespace report
