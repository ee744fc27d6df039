#include "input_file.h"

namespace report {

InputFile::InputFile(const std::filesystem::path& path) : file_(std::fopen(path.c_str(), "rb")) {
  std::error_code ec;
  size_ = std::filesystem::file_size(path, ec);
  if (ec) file_.reset();
  // Reads are few and small, and far apart: a stream buffer would only read more.
  if (file_) std::setvbuf(file_.get(), nullptr, _IONBF, 0);
}

std::string InputFile::read_at(uint64_t offset, std::size_t n) {
  if (!file_ || offset >= size_) return {};
  if (std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0) return {};
  std::string bytes(static_cast<std::size_t>(std::min<uint64_t>(n, size_ - offset)), '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file_.get()));
  return bytes;
}

}  // namespace report
