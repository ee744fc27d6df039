// Large-scale behaviour the benchmark relies on: an event with more interleaved channels
// than files may stay open, and benchmark inputs whose packet and miniSEED forms carry
// the same samples.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "pkenc.h"

namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "pk_bench_test_XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string{};
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

int run_in(const std::string& dir, const std::string& cmd) {
  const int status = std::system(("cd '" + dir + "' && " + cmd + " > run.out 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string bin(const char* program) { return std::string(PK_BIN_DIR) + "/" + program; }

std::vector<uint8_t> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Samples of a trace file without file header: 240 header bytes, then big-endian integers.
std::vector<int32_t> trace_samples(const fs::path& path) {
  const std::vector<uint8_t> b = read_file(path);
  std::vector<int32_t> out;
  for (std::size_t i = 240; i + 4 <= b.size(); i += 4)
    out.push_back(static_cast<int32_t>((uint32_t{b[i]} << 24) | (uint32_t{b[i + 1]} << 16) |
                                       (uint32_t{b[i + 2]} << 8) | b[i + 3]));
  return out;
}

// Samples of a SAC file as this machine writes it: 632 header bytes, then native floats.
std::vector<float> sac_samples(const fs::path& path) {
  const std::vector<uint8_t> b = read_file(path);
  std::vector<float> out(b.size() > 632 ? (b.size() - 632) / 4 : 0);
  if (!out.empty()) std::memcpy(out.data(), b.data() + 632, out.size() * 4);
  return out;
}

std::vector<int32_t> wave(std::size_t n, unsigned chan) {
  std::vector<int32_t> s(n);
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<int32_t>(std::lround(20000.0 * std::sin(0.01 * static_cast<double>(i) + chan))) +
           static_cast<int32_t>(chan * 1000);
  return s;
}

fs::path trace_path(const TempDir& dir, unsigned chan) {
  char name[64];
  std::snprintf(name, sizeof name, "2003_001_00_00_00_01234_1_%u.RSY", chan + 1);
  return fs::path(dir.path()) / name;
}

// Sixty channels take their turns packet by packet: files must be closed and reopened
// along the way, and a run allowed fewer descriptors than channels still succeeds
// because the number of open channel files stays bounded.
TEST(WideEvent, EveryChannelKeepsItsSamplesWhenFilesMustBeReopened) {
  TempDir dir;
  pktest::Recording rec;
  constexpr unsigned kChannels = 60;
  for (unsigned c = 0; c < kChannels; ++c)
    rec.channels.push_back(pktest::ChannelData{.channel = c, .samples = wave(2000, c), .per_packet = 400});
  pktest::write_packets(dir.path() + "/in.pk", rec.packets());

  ASSERT_EQ(run_in(dir.path(), "ulimit -n 48 && exec " + bin("pk_segy") + " in.pk -VN"), 0)
      << std::string(reinterpret_cast<const char*>(read_file(dir.path() + "/run.out").data()),
                     read_file(dir.path() + "/run.out").size());
  for (unsigned c = 0; c < kChannels; ++c) EXPECT_EQ(trace_samples(trace_path(dir, c)), rec.channels[c].samples) << c;
}

// The benchmark compares the converters with mseed2sac; that is only fair when the
// miniSEED records carry exactly the packets' samples.
TEST(BenchInputs, PacketAndMiniSeedFormsCarryTheSameSamples) {
  if (run_in(fs::temp_directory_path().string(), "command -v mseed2sac") != 0)
    GTEST_SKIP() << "mseed2sac is not installed";
  TempDir dir;
  const fs::path d = dir.path();
  fs::create_directories(d / "segy");
  fs::create_directories(d / "sac");
  ASSERT_EQ(run_in(dir.path(), bin("make_pk_bench") + " 3 5000 in.pk in.mseed"), 0);
  ASSERT_EQ(run_in((d / "segy").string(), bin("pk_segy") + " ../in.pk -VN"), 0);
  ASSERT_EQ(run_in((d / "sac").string(), "mseed2sac ../in.mseed"), 0);

  for (unsigned c = 1; c <= 3; ++c) {
    const std::vector<int32_t> ours =
        trace_samples(d / "segy" / ("2021_060_00_00_00_0BE01_1_" + std::to_string(c) + ".RSY"));
    const std::vector<float> ref = sac_samples(d / "sac" / ("XX.BENCH..H0" + std::to_string(c) + ".D.2021.060.000000.SAC"));
    ASSERT_EQ(ours.size(), 5000u) << c;
    ASSERT_EQ(ref.size(), ours.size()) << c;
    for (std::size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(static_cast<float>(ours[i]), ref[i]) << c << " " << i;
  }
}

}  // namespace
