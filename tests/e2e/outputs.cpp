#include "outputs.h"

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace e2e {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kFileHeader = 3600, kTraceHeader = 240, kSacHeader = 632;
constexpr std::size_t kTraceCountAt = 228;  // 32-bit sample count in the trace header
constexpr std::size_t kSeiLines = 12, kSeiLine = 80, kSeiChannelHeader = 1040;

using Bytes = std::vector<uint8_t>;

Bytes read_bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

uint32_t u32be(const Bytes& b, std::size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
uint32_t u32le(const Bytes& b, std::size_t at) {
  return uint32_t{b[at + 3]} << 24 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 1]} << 8 | b[at];
}

Samples words(const Bytes& b, std::size_t at, std::size_t n, bool big_endian) {
  Samples s(n);
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<int32_t>(big_endian ? u32be(b, at + 4 * i) : u32le(b, at + 4 * i));
  return s;
}

// A single trace file: its header, then samples up to the end of the file.
bool read_trace_file(const Bytes& b, bool file_header, Collected& out) {
  const std::size_t at = (file_header ? kFileHeader : 0) + kTraceHeader;
  if (b.size() < at || (b.size() - at) % 4 != 0) return false;
  const std::size_t n = (b.size() - at) / 4;
  if (u32be(b, at - kTraceHeader + kTraceCountAt) != n) return false;
  out.sequences.push_back(words(b, at, n, true));
  return true;
}

// A gather: the file header, then traces each as long as its header says.
bool read_gather(const Bytes& b, Collected& out) {
  std::size_t at = kFileHeader;
  if (b.size() < at) return false;
  while (at < b.size()) {
    if (b.size() - at < kTraceHeader) return false;
    const std::size_t n = u32be(b, at + kTraceCountAt);
    at += kTraceHeader;
    if ((b.size() - at) / 4 < n) return false;
    out.sequences.push_back(words(b, at, n, true));
    at += 4 * n;
  }
  return true;
}

// Framed records: blocks of [length][bytes][length], 129 standing for 128 bytes and more
// to come. A record that fills its last block exactly has no closing short block, so the
// caller says how many bytes it expects.
class SeiRecords {
 public:
  explicit SeiRecords(const Bytes& b) : b_(b) {}
  bool start() { return at_ < b_.size() && b_[at_++] == 'K'; }
  bool end() const { return at_ + 1 == b_.size() && b_[at_] == 130; }
  bool read(std::size_t want, Bytes& rec) {
    rec.clear();
    while (rec.size() < want) {
      if (at_ >= b_.size()) return false;
      const uint8_t mark = b_[at_];
      const std::size_t n = mark == 129 ? 128 : mark;
      if (n == 0 || at_ + n + 2 > b_.size() || b_[at_ + n + 1] != mark) return false;
      rec.insert(rec.end(), b_.begin() + static_cast<std::ptrdiff_t>(at_ + 1),
                 b_.begin() + static_cast<std::ptrdiff_t>(at_ + 1 + n));
      at_ += n + 2;
      if (mark != 129) break;
    }
    return rec.size() == want;
  }

 private:
  const Bytes& b_;
  std::size_t at_ = 0;
};

std::size_t number_in(const Bytes& rec, std::size_t from, std::size_t to) {
  const std::string text(rec.begin() + static_cast<std::ptrdiff_t>(from), rec.begin() + static_cast<std::ptrdiff_t>(to));
  return static_cast<std::size_t>(std::stoul(text));
}

bool read_sei(const Bytes& b, Collected& out) {
  SeiRecords r(b);
  Bytes rec;
  if (!r.start()) return false;
  std::size_t channels = 0;
  for (std::size_t line = 0; line < kSeiLines; ++line) {
    if (!r.read(kSeiLine, rec)) return false;
    if (line == 0) channels = number_in(rec, 30, 33);  // columns 31 to 33
  }
  for (std::size_t c = 0; c < channels; ++c) {
    if (!r.read(kSeiChannelHeader, rec)) return false;
    const std::size_t n = number_in(rec, 44, 50);  // columns 45 to 50
    if (n > 0 && !r.read(4 * n, rec)) return false;
    out.sequences.push_back(n > 0 ? words(rec, 0, n, false) : Samples{});
  }
  return r.end();
}

}  // namespace

Collected collect_packet_outputs(const std::string& dir, const std::vector<std::string>& ignore) {
  Collected out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), dir).string();
    if (std::find(ignore.begin(), ignore.end(), rel) != ignore.end()) continue;
    const std::string ext = e.path().extension().string();
    const Bytes b = read_bytes(e.path());
    bool ok = true;
    try {
      if (ext == ".RSY") ok = read_trace_file(b, false, out);
      else if (ext == ".SGY") ok = read_trace_file(b, true, out);
      else if (ext == ".EGY" || ext == ".RGY") ok = read_gather(b, out);
      else if (ext == ".SEI") ok = read_sei(b, out);
      else out.stray.push_back(rel);
    } catch (const std::exception&) {
      ok = false;  // a count field that is no number
    }
    if (!ok) out.broken.push_back(rel);
  }
  return out;
}

Samples read_sac(const std::string& path, bool big_endian, bool& broken) {
  const Bytes b = read_bytes(path);
  broken = b.size() < kSacHeader;
  if (broken) return {};
  const auto npts = static_cast<std::size_t>(big_endian ? u32be(b, 79 * 4) : u32le(b, 79 * 4));
  broken = b.size() != kSacHeader + 4 * npts;
  if (broken) return {};
  Samples s(npts);
  for (std::size_t i = 0; i < npts; ++i) {
    const uint32_t w = big_endian ? u32be(b, kSacHeader + 4 * i) : u32le(b, kSacHeader + 4 * i);
    s[i] = static_cast<int32_t>(std::bit_cast<float>(w));
  }
  return s;
}

std::string compare_sequences(std::vector<Samples> expected, std::vector<Samples> found) {
  std::sort(expected.begin(), expected.end());
  std::sort(found.begin(), found.end());
  std::vector<Samples> missing, extra;
  std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(), std::back_inserter(missing));
  std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(), std::back_inserter(extra));
  if (missing.empty() && extra.empty()) return {};
  auto lengths = [](const std::vector<Samples>& v) {
    std::string s;
    for (std::size_t i = 0; i < v.size() && i < 8; ++i) {
      s += ' ';
      s += std::to_string(v[i].size());
    }
    return s + (v.size() > 8 ? " ..." : "");
  };
  return std::to_string(expected.size()) + " sequences expected, " + std::to_string(found.size()) + " found; " +
         std::to_string(missing.size()) + " missing (lengths" + lengths(missing) + "), " +
         std::to_string(extra.size()) + " unexpected (lengths" + lengths(extra) + ")";
}

}  // namespace e2e
