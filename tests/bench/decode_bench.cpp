// Decoding alone, without files: the compressed DT packets of a packet file decoded in
// memory again and again, each continuing its channel's previous packet as a run does.
// Prints the best time per sample of each compressed format found in the file.
//
// Usage: decode_bench in.pk [PASSES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "decode.h"
#include "pkfile.h"

namespace {

using Decoder = pk::c0_result (*)(const uint8_t*, int32_t, int32_t*);

struct Format {
  pk::SampleFormat kind;
  const char* name;
  Decoder decode;
};

const Format kFormats[] = {
    {pk::SampleFormat::kCompressed, "0xC0", pk::decode_c0},
    {pk::SampleFormat::kCompressed2, "0xC2", pk::decode_c2},
};

struct Job {
  const uint8_t* packet;
  int32_t last;  // the channel's sample before this packet
};

std::vector<Job> jobs_of(const std::vector<uint8_t>& file, const Format& f) {
  std::vector<Job> jobs;
  std::map<unsigned, int32_t> last;  // by stream and channel
  std::vector<int32_t> out(pk::kMaxC2Samples);
  for (std::size_t off = 0; off + pk::kPacketSize <= file.size(); off += pk::kPacketSize) {
    const uint8_t* p = file.data() + off;
    if (pk::code_set(p) != pk::kDT || pk::dt_sample_format(p[23]) != f.kind) continue;
    const unsigned key = pk::bcd2i(p + 18, 2);
    jobs.push_back({p, last[key]});
    last[key] = f.decode(p, last[key], out.data()).xn;
  }
  return jobs;
}

// Best seconds of `passes` passes over all jobs, and the samples of one pass.
std::pair<double, std::size_t> time_decoding(const std::vector<Job>& jobs, Decoder decode, int passes) {
  std::vector<int32_t> out(pk::kMaxC2Samples);
  double best = 1e30;
  std::size_t samples = 0;
  for (int pass = 0; pass < passes; ++pass) {
    samples = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (const Job& j : jobs) samples += decode(j.packet, j.last, out.data()).count;
    const std::chrono::duration<double> s = std::chrono::steady_clock::now() - t0;
    best = std::min(best, s.count());
  }
  return {best, samples};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: decode_bench in.pk [PASSES]\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in || file.empty()) {
    std::fprintf(stderr, "decode_bench: cannot read %s\n", argv[1]);
    return 1;
  }
  const int passes = argc == 3 ? std::max(1, std::atoi(argv[2])) : 50;
  for (const Format& f : kFormats) {
    const std::vector<Job> jobs = jobs_of(file, f);
    if (jobs.empty()) continue;
    const auto [seconds, samples] = time_decoding(jobs, f.decode, passes);
    std::printf("%s %zu packets %zu samples %.3f ns/sample\n", f.name, jobs.size(), samples,
                samples ? seconds * 1e9 / static_cast<double>(samples) : 0.0);
  }
  return 0;
}
