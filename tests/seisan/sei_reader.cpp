#include "sei_reader.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <utility>

namespace seistest {

namespace fs = std::filesystem;

std::vector<std::string> sei_records(const std::string& b) {
  if (b.size() < 2 || b.front() != 'K' || static_cast<uint8_t>(b.back()) != 130)
    throw std::runtime_error("missing start or end byte");
  std::vector<std::string> records;
  std::string record;
  std::size_t p = 1;
  const std::size_t end = b.size() - 1;
  while (p < end) {
    const auto len = static_cast<uint8_t>(b[p]);
    const std::size_t n = len == 129 ? 128 : len;
    if (n == 0 || len > 129 || p + n + 2 > end) throw std::runtime_error("bad block at " + std::to_string(p));
    if (static_cast<uint8_t>(b[p + n + 1]) != len) throw std::runtime_error("unmatched frame at " + std::to_string(p));
    record.append(b, p + 1, n);
    p += n + 2;
    if (len != 129) records.push_back(std::exchange(record, {}));
  }
  if (!record.empty()) records.push_back(record);  // a record ending on a full block
  return records;
}

SeiFile read_sei(const std::string& bytes) {
  const auto records = sei_records(bytes);
  if (records.size() < 12) throw std::runtime_error("fewer than twelve header lines");
  SeiFile f;
  for (int i = 0; i < 12; ++i) {
    if (records[i].size() != 80) throw std::runtime_error("header line not 80 bytes");
    f.lines.push_back(records[i]);
  }
  for (std::size_t i = 12; i < records.size(); ++i) {
    if (records[i].size() != 1040) throw std::runtime_error("channel header not 1040 bytes");
    SeiChannel ch{records[i], {}};
    const std::string count = cols(ch.header, 45, 50);
    const long n = count.find_first_not_of(' ') == std::string::npos ? 0 : std::stol(count);
    if (n > 0) {
      if (++i >= records.size() || records[i].size() != static_cast<std::size_t>(n) * 4)
        throw std::runtime_error("data record does not match the sample count");
      for (long k = 0; k < n; ++k) {
        const auto* p = reinterpret_cast<const uint8_t*>(records[i].data()) + 4 * k;
        ch.samples.push_back(static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24));
      }
    }
    f.channels.push_back(std::move(ch));
  }
  return f;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string le_bytes(const std::vector<int32_t>& samples) {
  std::string s;
  for (int32_t v : samples) {
    const auto u = static_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>(u >> (8 * k)));
  }
  return s;
}

std::vector<int32_t> be_samples(const std::string& bytes) {
  std::vector<int32_t> out;
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + i;
    out.push_back(static_cast<int32_t>(uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]));
  }
  return out;
}

std::string cols(const std::string& text, int first, int last) {
  return text.substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(last - first + 1));
}

ScratchDir::ScratchDir() {
  std::random_device rd;
  path_ = fs::temp_directory_path() / ("seis_test_" + std::to_string(rd()) + std::to_string(rd()));
  fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<std::string> list_files(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir).string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace seistest
