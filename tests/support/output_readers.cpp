#include "tests/support/output_readers.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <stdexcept>

#include "tests/support/testkit.h"

namespace testkit {

namespace {

constexpr std::size_t kFileHeader = 3600, kTraceHeader = 240;
constexpr std::size_t kTraceCountAt = 228, kGatherCountAt = 3268;  // 32-bit sample counts

constexpr std::size_t kSeiLines = 12, kSeiLine = 80, kSeiChannelHeader = 1040;
constexpr uint8_t kSeiStart = 'K', kSeiEnd = 130, kSeiFullBlock = 129;

// The block framing of a SEISAN file: 'K', blocks of [length][bytes][length], 130.
class SeiBlocks {
 public:
  explicit SeiBlocks(std::string_view b) : b_(b) {
    if (b.size() < 2 || byte(0) != kSeiStart || byte(b.size() - 1) != kSeiEnd)
      throw std::runtime_error("missing start or end byte");
  }

  bool at_end() const { return at_ == b_.size() - 1; }

  // Blocks up to the end of a record: a short block, `want` bytes, or the end byte.
  std::string record(std::size_t want) {
    std::string rec;
    while (rec.size() < want && !at_end()) {
      const uint8_t mark = byte(at_);
      const std::size_t n = mark == kSeiFullBlock ? 128 : mark;
      if (n == 0 || mark > kSeiFullBlock || at_ + n + 2 > b_.size() - 1)
        throw std::runtime_error("bad block at " + std::to_string(at_));
      if (byte(at_ + n + 1) != mark) throw std::runtime_error("unmatched frame at " + std::to_string(at_));
      rec.append(b_.substr(at_ + 1, n));
      at_ += n + 2;
      if (mark != kSeiFullBlock) break;
    }
    return rec;
  }

  // Whatever record comes next, header line or channel header.
  std::string next() { return record(kSeiChannelHeader); }

  std::string record_of(std::size_t size, const char* what) {
    std::string rec = record(size);
    if (rec.size() != size) throw std::runtime_error(std::string(what) + " not " + std::to_string(size) + " bytes");
    return rec;
  }

 private:
  uint8_t byte(std::size_t at) const { return static_cast<uint8_t>(b_[at]); }

  std::string_view b_;
  std::size_t at_ = 1;
};

// The SEISAN 7+ framing: each record between two equal 4-byte little-endian lengths.
class SeiLengths {
 public:
  explicit SeiLengths(std::string_view b) : b_(b) {}

  bool at_end() const { return at_ == b_.size(); }

  std::string record() {
    if (b_.size() - at_ < 8) throw std::runtime_error("cut record at " + std::to_string(at_));
    const uint32_t n = u32le(b_, at_);
    if (n > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) || b_.size() - at_ - 8 < n)
      throw std::runtime_error("bad record length at " + std::to_string(at_));
    if (u32le(b_, at_ + 4 + n) != n) throw std::runtime_error("unmatched length at " + std::to_string(at_));
    std::string rec(b_.substr(at_ + 4, n));
    at_ += n + 8;
    return rec;
  }

  std::string next() { return record(); }

  std::string record_of(std::size_t size, const char* what) {
    std::string rec = record();
    if (rec.size() != size) throw std::runtime_error(std::string(what) + " not " + std::to_string(size) + " bytes");
    return rec;
  }

 private:
  std::string_view b_;
  std::size_t at_ = 0;
};

// A right-aligned count in the given columns; blank counts as 0.
std::size_t count_in(const std::string& text, int first, int last) {
  const std::string field = cols(text, first, last);
  if (field.find_first_not_of(' ') == std::string::npos) return 0;
  std::size_t used = 0;
  const long n = std::stol(field, &used);
  if (n < 0 || field.find_first_not_of(' ', used) != std::string::npos)
    throw std::runtime_error("no count in \"" + field + "\"");
  return static_cast<std::size_t>(n);
}

}  // namespace

// ---- SEG-Y ----
SegyFile read_segy(std::string_view b, bool file_header, bool fixed_length) {
  SegyFile f;
  std::size_t pos = file_header ? kFileHeader : 0;
  if (b.size() < pos) f.whole = false;
  while (f.whole && pos < b.size()) {
    if (b.size() - pos < kTraceHeader) {
      f.whole = false;
      break;
    }
    SegyTrace t{std::string(b.substr(pos, kTraceHeader)), {}};
    pos += kTraceHeader;
    const std::size_t n = fixed_length ? u32be(b, kGatherCountAt) : u32be(t.header, kTraceCountAt);
    const std::size_t there = std::min(n, (b.size() - pos) / 4);
    f.whole = there == n;
    t.samples = samples_be(b.substr(pos, 4 * there));
    pos += 4 * there;
    f.traces.push_back(std::move(t));
  }
  return f;
}

std::vector<int32_t> trace_file_samples(const std::filesystem::path& path) {
  SegyFile f = read_segy(read_file(path), false, false);
  return f.whole && f.traces.size() == 1 ? std::move(f.traces[0].samples) : std::vector<int32_t>{};
}

// ---- SEISAN ----
std::vector<std::string> sei_records(std::string_view bytes) {
  SeiBlocks blocks(bytes);
  std::vector<std::string> records;
  while (!blocks.at_end()) records.push_back(blocks.record(std::numeric_limits<std::size_t>::max()));
  return records;
}

namespace {
// Header lines, then channel headers, each followed by the samples `data` reads for the
// count its header gives.
template <class Records, class Data>
SeiFile read_sei_records(Records& records, Data data) {
  SeiFile f;
  // Header lines up to the first channel header: twelve, or one per three channels.
  std::string rec = records.at_end() ? std::string() : records.next();
  for (; rec.size() == kSeiLine; rec = records.at_end() ? std::string() : records.next()) f.lines.push_back(rec);
  if (f.lines.size() < kSeiLines) throw std::runtime_error("fewer than twelve header lines");
  for (; !rec.empty(); rec = records.at_end() ? std::string() : records.next()) {
    if (rec.size() != kSeiChannelHeader) throw std::runtime_error("channel header not 1040 bytes");
    SeiChannel ch{rec, {}};
    ch.samples = data(records, count_in(ch.header, 44, 50));
    f.channels.push_back(std::move(ch));
  }
  return f;
}
}  // namespace

SeiFile read_sei(std::string_view bytes) {
  SeiBlocks blocks(bytes);
  return read_sei_records(blocks, [](SeiBlocks& b, std::size_t n) {
    return n > 0 ? samples_le(b.record_of(4 * n, "data record")) : std::vector<int32_t>{};
  });
}

SeiFile read_sei4(std::string_view bytes) {
  SeiLengths records(bytes);
  return read_sei_records(records, [](SeiLengths& r, std::size_t n) {
    const std::string data = r.record();
    if (data.size() % 4 != 0) throw std::runtime_error("data record of " + std::to_string(data.size()) + " bytes");
    if (n != 0 && n != data.size() / 4) throw std::runtime_error("data record disagrees with its header's count");
    return samples_le(data);
  });
}

std::string cols(const std::string& text, int first, int last) {
  return text.substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(last - first + 1));
}

// ---- SAC ----
uint32_t SacFile::word(std::size_t i) const { return big_endian ? u32be(bytes, 4 * i) : u32le(bytes, 4 * i); }

float SacFile::real(std::size_t i) const { return std::bit_cast<float>(word(i)); }

bool SacFile::whole() const {
  return ok() && npts() >= 0 && bytes.size() == kHeader + 4 * static_cast<std::size_t>(npts());
}

std::vector<float> SacFile::samples() const {
  std::vector<float> s;
  for (std::size_t at = kHeader; at + 4 <= bytes.size(); at += 4) s.push_back(real(at / 4));
  return s;
}

SacFile read_sac(const std::filesystem::path& path, bool big_endian) { return {read_file(path), big_endian}; }

}  // namespace testkit
