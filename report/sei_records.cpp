#include "report/sei_records.h"

#include <algorithm>

#include "report/bytes.h"
#include "seisan/seis_block.h"
#include "seisan/seis_header.h"

namespace report {

namespace {

using pk::kFramedBlock, pk::seis::kChanHeaderSize, pk::seis::kFileEnd, pk::seis::kFileStart;
constexpr uint64_t kBlock = pk::kBlockData, kWord = 4;
constexpr uint32_t kFullMark = pk::kFullBlock, kFirstLine = pk::seis::kLineCols;

uint64_t framed_size(uint64_t len) { return len / kBlock * kFramedBlock + (len % kBlock ? len % kBlock + 2 : 0); }

// The mark a block of a record of `len` bytes carries when it is the record's last one.
uint32_t last_mark(uint64_t len) { return len % kBlock ? static_cast<uint32_t>(len % kBlock) : kFullMark; }

// A channel header as the SEISAN writer lays it out: the sample width '4' in column 77,
// then the response block: '9' and blanks.
bool looks_like_channel_header(std::string_view h) {
  return h.size() == kChanHeaderSize && h[76] == '4' && h[160] == '9' &&
         h.substr(161, 79).find_first_not_of(' ') == std::string_view::npos;
}

}  // namespace

std::optional<SeiRecords> SeiRecords::open(InputFile& file, std::string& error) {
  const std::string head = file.read_at(0, kWord);
  const std::string last = file.size() ? file.read_at(file.size() - 1, 1) : std::string();
  if (head.size() == kWord && byte_at(head, 0) == kFileStart && last.size() == 1 && byte_at(last, 0) == kFileEnd)
    return SeiRecords(file, Framing::blocks, 1, file.size() - 1);
  if (head.size() == kWord && u32(head, 0, Order::little) == kFirstLine)
    return SeiRecords(file, Framing::length_words, 0, file.size());
  error = "neither SEISAN framing (no start byte 'K' and end byte 130, no length word 80)";
  return std::nullopt;
}

bool SeiRecords::fail(std::string& error, const std::string& what) const {
  error = what + " at byte " + std::to_string(at_);
  return false;
}

std::optional<std::string> SeiRecords::read(std::size_t len, std::string& error) {
  if (framing_ == Framing::blocks) return read_blocks(len, error);
  const std::string word = file_->read_at(at_, kWord);
  if (word.size() != kWord || u32(word, 0, Order::little) != len) {
    fail(error, "no record of " + std::to_string(len) + " bytes");
    return std::nullopt;
  }
  std::string rec = file_->read_at(at_ + kWord, len + kWord);
  if (rec.size() != len + kWord || u32(rec, len, Order::little) != len) {
    fail(error, "record without its closing length");
    return std::nullopt;
  }
  rec.resize(len);
  at_ += len + 2 * kWord;
  return rec;
}

std::optional<std::string> SeiRecords::read_blocks(std::size_t len, std::string& error) {
  const std::string raw = file_->read_at(at_, framed_size(len));
  std::string rec;
  for (std::size_t pos = 0; rec.size() < len;) {
    const std::size_t n = std::min<std::size_t>(kBlock, len - rec.size());
    const uint32_t mark = n == kBlock && rec.size() + n < len ? kFullMark : last_mark(len);
    if (pos + n + 2 > raw.size() || byte_at(raw, pos) != mark || byte_at(raw, pos + n + 1) != mark) {
      fail(error, "no record of " + std::to_string(len) + " bytes");
      return std::nullopt;
    }
    rec.append(raw, pos + 1, n);
    pos += n + 2;
  }
  at_ += raw.size();
  return rec;
}

std::optional<uint64_t> SeiRecords::skip(std::optional<uint64_t> len, std::string& error) {
  if (framing_ == Framing::length_words) return skip_length_words(len, error);
  return len ? skip_blocks(*len, error) : walk_blocks(error);
}

std::optional<uint64_t> SeiRecords::skip_blocks(uint64_t len, std::string& error) {
  if (len == 0) return 0;  // an empty record is not written at all
  const uint64_t next = at_ + framed_size(len);
  const std::string mark = next <= end_ ? file_->read_at(next - 1, 1) : std::string();
  if (mark.size() != 1 || byte_at(mark, 0) != last_mark(len)) {
    fail(error, "no sample record of " + std::to_string(len) + " bytes");
    return std::nullopt;
  }
  at_ = next;
  return len;
}

// Without a count the blocks are followed to the record's short last block. A record that
// fills its last block has no end of its own, so the walk then runs on through the next
// channel header, which is given back.
std::optional<uint64_t> SeiRecords::walk_blocks(std::string& error) {
  const uint64_t first = at_;
  uint64_t len = 0;
  for (bool more = true; more && at_ < end_;) {
    const std::string b = file_->read_at(at_, 1);
    const uint32_t mark = b.size() == 1 ? byte_at(b, 0) : 0;
    if (mark == 0 || mark > kFullMark) {
      fail(error, "bad block length");
      return std::nullopt;
    }
    more = mark == kFullMark;
    len += more ? kBlock : mark;
    at_ += (more ? kBlock : mark) + 2;
  }
  if (len > kChanHeaderSize && len % kBlock == kChanHeaderSize % kBlock) {
    SeiRecords tail(*file_, framing_, first + (len - kChanHeaderSize) / kBlock * kFramedBlock, end_);
    std::string ignored;
    const std::optional<std::string> h = tail.read_blocks(kChanHeaderSize, ignored);
    if (h && looks_like_channel_header(*h)) {
      at_ = first + (len - kChanHeaderSize) / kBlock * kFramedBlock;
      len -= kChanHeaderSize;
    }
  }
  return len;
}

std::optional<uint64_t> SeiRecords::skip_length_words(std::optional<uint64_t> len, std::string& error) {
  const std::string word = file_->read_at(at_, kWord);
  const uint64_t n = word.size() == kWord ? u32(word, 0, Order::little) : 0;
  // An empty sample record may be left out: then the next channel header follows.
  if (len == uint64_t{0} && (word.size() != kWord || n != 0)) return 0;
  const std::string close = file_->read_at(at_ + kWord + n, kWord);
  if (word.size() != kWord || close.size() != kWord || u32(close, 0, Order::little) != n) {
    fail(error, "sample record without its closing length");
    return std::nullopt;
  }
  if (len && *len != n) {
    fail(error, "sample record of " + std::to_string(n) + " bytes where the header counts " + std::to_string(*len));
    return std::nullopt;
  }
  at_ += n + 2 * kWord;
  return n;
}

}  // namespace report
