#include "seis_block.h"

#include <algorithm>
#include <sstream>

namespace pk::seis {

void BlockWriter::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t n = std::min(bytes.size(), kBlockData - used_);
    std::copy_n(bytes.data(), n, buf_.data() + used_);
    used_ += n;
    bytes.remove_prefix(n);
    if (used_ == kBlockData) flush_block(kFullBlock);
  }
}

void BlockWriter::end_record() {
  if (used_ > 0) flush_block(static_cast<uint8_t>(used_));
}

void BlockWriter::flush_block(uint8_t length_byte) {
  const char frame = static_cast<char>(length_byte);
  out_.put(frame);
  out_.write(buf_.data(), static_cast<std::streamsize>(used_));
  out_.put(frame);
  used_ = 0;
}

std::string frame_record(std::string_view bytes) {
  std::ostringstream out;
  BlockWriter(out).record(bytes);
  return out.str();
}

}  // namespace pk::seis
