#include "seisan/seis_block.h"

#include <algorithm>
#include <stdexcept>

#include "common/byte_order.h"
#include "seisan/seis_header.h"

namespace pk::seis {

void BlockWriter::begin_file() { out_.put(kFileStart); }

void BlockWriter::end_file() { out_.put(static_cast<char>(kFileEnd)); }

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

void LengthWriter::begin_record(uint64_t length) {
  if (!fits(length)) throw std::length_error("SEISAN record of " + std::to_string(length) + " bytes");
  length_ = static_cast<uint32_t>(length);
  put_length();
}

void LengthWriter::write(std::string_view bytes) { out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size())); }

void LengthWriter::end_record() { put_length(); }

void LengthWriter::put_length() {
  uint8_t le[4];
  put_le32(le, length_);
  out_.write(reinterpret_cast<const char*>(le), sizeof le);
}

std::unique_ptr<RecordWriter> record_writer(SeiFraming framing, std::ostream& out) {
  if (framing == SeiFraming::length4) return std::make_unique<LengthWriter>(out);
  return std::make_unique<BlockWriter>(out);
}

}  // namespace pk::seis
