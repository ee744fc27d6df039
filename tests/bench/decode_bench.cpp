// Decoding alone, without files: the compressed DT packets of packet files decoded in
// memory again and again, each continuing its channel's previous packet as a run does.
// Timed in processor time of this thread, with the formats taking turns pass by pass, so
// that other work on a busy machine counts little and alike; prints the best time per
// sample of each compressed format found, and their ratio.
//
// Then the floor of pk_mseed: the samples of the first file, decoded per channel as a run
// stores them, packed by pk_mseed's own RecordPacker (libmseed, 4096-byte Steim-2 records)
// into a sink that drops the records, in chunks as pk_mseed reads its data files back.
//
// Usage: decode_bench in.pk... (PASSES in the environment, default 50; PACK_PASSES, default 3)
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/decode.h"
#include "common/pkfile.h"
#include "mseed/record_packer.h"

namespace {

using Decoder = pk::CompressedResult (*)(const uint8_t*, int32_t, int32_t*);

struct Job {
  const uint8_t* packet;
  int32_t last;  // the channel's sample before this packet
};

struct Format {
  pk::SampleFormat kind;
  const char* name;
  Decoder decode;
  std::vector<Job> jobs = {};
  std::size_t samples = 0;  // in one pass
  double best = 1e30;       // seconds of the fastest pass
};

void add_jobs(const std::vector<uint8_t>& file, Format& f) {
  std::map<unsigned, int32_t> last;  // by stream and channel
  std::vector<int32_t> out(pk::kMaxDtSamples);
  for (std::size_t off = 0; off + pk::kPacketSize <= file.size(); off += pk::kPacketSize) {
    const uint8_t* p = file.data() + off;
    if (pk::code_set(p) != pk::PacketType::dt || pk::dt_sample_format(p[23]) != f.kind) continue;
    const unsigned key = pk::bcd2i(p + 18, 2);
    f.jobs.push_back({p, last[key]});
    const pk::CompressedResult r = f.decode(p, last[key], out.data());
    last[key] = r.xn;
    f.samples += r.count;
  }
}

double thread_seconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void time_one_pass(Format& f) {
  std::vector<int32_t> out(pk::kMaxDtSamples);
  std::size_t samples = 0;
  const double t0 = thread_seconds();
  for (const Job& j : f.jobs) samples += f.decode(j.packet, j.last, out.data()).count;
  const double seconds = thread_seconds() - t0;
  if (samples != f.samples) std::abort();
  f.best = std::min(f.best, seconds);
}

double ns_per_sample(const Format& f) { return f.best * 1e9 / static_cast<double>(f.samples); }

int passes_from(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text ? std::max(1, std::atoi(text)) : fallback;
}

// Each channel's samples of a packet file (by stream and channel), every packet
// continuing its channel's previous one.
std::map<unsigned, std::vector<int32_t>> channel_samples(const std::vector<uint8_t>& file,
                                                         const std::vector<Format>& formats) {
  std::map<unsigned, std::vector<int32_t>> channels;
  std::vector<int32_t> out(pk::kMaxDtSamples);
  for (std::size_t off = 0; off + pk::kPacketSize <= file.size(); off += pk::kPacketSize) {
    const uint8_t* p = file.data() + off;
    if (pk::code_set(p) != pk::PacketType::dt) continue;
    const auto f = std::find_if(formats.begin(), formats.end(),
                                [&](const Format& g) { return g.kind == pk::dt_sample_format(p[23]); });
    if (f == formats.end()) continue;
    std::vector<int32_t>& samples = channels[pk::bcd2i(p + 18, 2)];
    const pk::CompressedResult r = f->decode(p, samples.empty() ? 0 : samples.back(), out.data());
    samples.insert(samples.end(), out.begin(), out.begin() + r.count);
  }
  return channels;
}

// Processor seconds of the fastest pass packing every channel, and the bytes of records a
// pass packs; std::abort when a pass packs a different number than the first.
double best_packing_seconds(const std::map<unsigned, std::vector<int32_t>>& channels, int passes,
                            std::size_t& first_bytes) {
  constexpr std::size_t kChunk = 16384;  // as pk_mseed reads a channel data file
  const pk::mseed::SeedId id{"XX", "BENCH", "", "HHZ"};
  double best = 1e30;
  for (int pass = 0; pass < passes; ++pass) {
    std::size_t bytes = 0;
    const double t0 = thread_seconds();
    for (const auto& [key, samples] : channels) {
      pk::mseed::RecordPacker packer(id, 100.0, [&bytes](std::string_view record) { bytes += record.size(); });
      packer.start_run(0);
      for (std::size_t at = 0; at < samples.size(); at += kChunk)
        packer.add(std::span(samples).subspan(at, std::min(kChunk, samples.size() - at)));
      packer.finish();
    }
    best = std::min(best, thread_seconds() - t0);
    if (pass == 0) first_bytes = bytes;
    if (bytes != first_bytes || bytes == 0) std::abort();
  }
  return best;
}

void print_packing(const std::vector<uint8_t>& file, const std::vector<Format>& formats) {
  const auto channels = channel_samples(file, formats);
  std::size_t samples = 0;
  for (const auto& [key, s] : channels) samples += s.size();
  if (samples == 0) return;
  std::size_t bytes = 0;
  const double seconds = best_packing_seconds(channels, passes_from("PACK_PASSES", 3), bytes);
  std::printf("packing alone (RecordPacker, libmseed Steim-2): %zu channels %zu samples %zu records of %d bytes "
              "%.3f ns/sample %.3f s\n",
              channels.size(), samples, bytes / pk::mseed::kRecordLength, pk::mseed::kRecordLength,
              seconds * 1e9 / static_cast<double>(samples), seconds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: decode_bench in.pk...\n");
    return 2;
  }
  std::vector<std::vector<uint8_t>> files;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in || files.back().empty()) {
      std::fprintf(stderr, "decode_bench: cannot read %s\n", argv[i]);
      return 1;
    }
  }
  std::vector<Format> formats = {{pk::SampleFormat::compressed, "0xC0", pk::decode_c0},
                                 {pk::SampleFormat::compressed2, "0xC2", pk::decode_c2}};
  for (Format& f : formats)
    for (const auto& file : files) add_jobs(file, f);
  std::erase_if(formats, [](const Format& f) { return f.samples == 0; });

  const int passes = passes_from("PASSES", 50);
  for (int pass = 0; pass < passes; ++pass)
    for (Format& f : formats) time_one_pass(f);
  for (const Format& f : formats)
    std::printf("%s %zu packets %zu samples %.3f ns/sample\n", f.name, f.jobs.size(), f.samples, ns_per_sample(f));
  if (formats.size() == 2)
    std::printf("0xC2 / 0xC0 per sample: %.2f\n", ns_per_sample(formats[1]) / ns_per_sample(formats[0]));
  print_packing(files.front(), formats);
  return 0;
}
