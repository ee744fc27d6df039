#include "tests/e2e/outputs.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <string>

#include "tests/support/output_readers.h"
#include "tests/support/testkit.h"

namespace e2e {

namespace {

namespace fs = std::filesystem;

// A trace file holds exactly one trace, a gather any number; either whole.
bool read_segy(const std::string& bytes, bool file_header, bool single_trace, Collected& out) {
  const testkit::SegyFile f = testkit::read_segy(bytes, file_header, false);
  if (!f.whole || (single_trace && f.traces.size() != 1)) return false;
  for (const auto& t : f.traces) out.sequences.push_back(t.samples);
  return true;
}

// Finished runs write every count as a number, and the file header counts the channels.
bool read_sei(const std::string& bytes, Collected& out) {
  testkit::SeiFile f = testkit::read_sei(bytes);
  if (f.channels.size() != std::stoul(testkit::cols(f.lines[0], 31, 33))) return false;
  for (auto& ch : f.channels) {
    if (std::stoul(testkit::cols(ch.header, 45, 50)) != ch.samples.size()) return false;
    out.sequences.push_back(std::move(ch.samples));
  }
  return true;
}

}  // namespace

Collected collect_packet_outputs(const std::string& dir, const std::vector<std::string>& ignore) {
  Collected out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), dir).string();
    if (std::find(ignore.begin(), ignore.end(), rel) != ignore.end()) continue;
    const std::string ext = e.path().extension().string();
    const std::string b = testkit::read_file(e.path());
    bool ok = true;
    try {
      if (ext == ".RSY") ok = read_segy(b, false, true, out);
      else if (ext == ".SGY") ok = read_segy(b, true, true, out);
      else if (ext == ".EGY" || ext == ".RGY") ok = read_segy(b, true, false, out);
      else if (ext == ".SEI") ok = read_sei(b, out);
      else out.stray.push_back(rel);
    } catch (const std::exception&) {
      ok = false;  // framing that does not add up, or a count field that is no number
    }
    if (!ok) out.broken.push_back(rel);
  }
  return out;
}

Samples read_sac(const std::string& path, bool big_endian, bool& broken) {
  const testkit::SacFile f = testkit::read_sac(path, big_endian);
  broken = !f.whole();
  if (broken) return {};
  Samples s;
  for (float x : f.samples()) s.push_back(static_cast<int32_t>(x));
  return s;
}

std::string joined(const std::vector<std::string>& names) {
  std::string s;
  for (const auto& x : names) s += x + " ";
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
