// From decoded samples to the channel data file: the discard count, the
// sample limit, the QC sums and the byte order of the output format.
#include <bit>
#include <cstring>

#include "byte_order.h"
#include "decode.h"
#include "failure.h"
#include "log.h"
#include "qcc.h"
#include "samples.h"

namespace pk {

namespace {

// The usual packet: nothing to discard, no limit in reach, channel in sequence. Kept
// free of per-sample tests so the byte-order loop stays tight.
bool keeps_every_sample(const SampleRules& rules, const File_list_str& f, std::size_t n) {
  const bool stopped = f.Evt_pointer && f.Evt_pointer->Out_of_seq;
  return f.Trash_cnt == 0 && !stopped && f.stored <= rules.sample_limit && rules.sample_limit - f.stored >= n;
}

// Whole words in the wanted order: the compiler turns this into one swap and one store
// per sample, where byte-wise stores cost four.
void put_samples(uint8_t* bytes, const int32_t* s, std::size_t n, bool big_endian) {
  const bool swap = big_endian != (std::endian::native == std::endian::big);
  for (std::size_t i = 0; i < n; ++i) {
    const uint32_t u = static_cast<uint32_t>(s[i]);
    const uint32_t w = swap ? byte_swapped(u) : u;
    std::memcpy(bytes + 4 * i, &w, 4);
  }
}

// Stores what the channel still accepts of one packet's samples with a single write.
// qc_scale weights the QC sums (the scaled 32-bit decoder feeds them in units of 2^16).
void emit_samples(const SampleRules& rules, File_list_str& f, const int32_t* s, std::size_t n, double qc_scale) {
  uint8_t bytes[kMaxDtSamples * 4];
  std::size_t kept = 0;
  if (keeps_every_sample(rules, f, n)) {
    put_samples(bytes, s, n, rules.big_endian);
    kept = n;
    f.stored += static_cast<uint32_t>(n);
    if (rules.qcc)
      for (std::size_t i = 0; i < n; ++i) add_qcc_sample(f, static_cast<double>(s[i]) * qc_scale);
  } else {
    const bool stopped = f.Evt_pointer && f.Evt_pointer->Out_of_seq;
    for (std::size_t i = 0; i < n; ++i) {
      if (f.Trash_cnt != 0) { --f.Trash_cnt; continue; }
      if (stopped || f.stored >= rules.sample_limit) continue;
      put_samples(bytes + 4 * kept++, &s[i], 1, rules.big_endian);
      ++f.stored;
      if (rules.qcc) add_qcc_sample(f, static_cast<double>(s[i]) * qc_scale);
    }
  }
  if (kept == 0) return;
  if (!f.Fdout || std::fwrite(bytes, 4, kept, f.Fdout) != kept) shut_down(ExitCode::write_error, f.Filename);
}

}  // namespace

void proc_16_blk(const SampleRules& rules, File_list_str& file, const uint8_t* pkt) {
  int32_t s[kMax16Samples];
  emit_samples(rules, file, s, decode_16(pkt, s), 1.0);
}

void proc_32_raw(const SampleRules& rules, File_list_str& file, const uint8_t* pkt) {
  int32_t s[kMax32Samples];
  emit_samples(rules, file, s, decode_32(pkt, s), 1.0);
}

void proc_32_blk(const SampleRules& rules, File_list_str& file, const uint8_t* pkt) {
  int32_t s[kMax32Samples];
  emit_samples(rules, file, s, decode_32(pkt, s), 1.52587890625e-05);
}

namespace {

// Both compressed formats after decoding: the samples, the report of a packet that does
// not add up, and the value the channel's next packet continues from.
void store_compressed(const SampleRules& rules, File_list_str& file, const uint8_t* pkt, const int32_t* s,
                      const c0_result& r) {
  emit_samples(rules, file, s, r.count, 1.0);
  const Unit_list_str* unit = file.Evt_pointer ? file.Evt_pointer->Unit_pointer : nullptr;
  if (r.needs_report() && unit && unit->FdLog) {
    std::FILE* log = unit->FdLog;
    std::fprintf(log, "     Read start 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.x0)));
    std::fprintf(log, "stop 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.xn)));
    std::fprintf(log, "samples %d\r\n", static_cast<int>(r.n));
    std::fprintf(log, "     Calc start 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.calc_start)));
    std::fprintf(log, "stop 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.calc_stop)));
    std::fprintf(log, "samples %d\r\n", static_cast<int>(r.decoded));
    log_block(log, pkt, 0);
  }
  file.Last_sample = r.xn;
}

}  // namespace

void proc_c0_blk(const SampleRules& rules, File_list_str& file, const uint8_t* pkt) {
  int32_t s[kMaxC0Samples];
  store_compressed(rules, file, pkt, s, decode_c0(pkt, file.Last_sample, s));
}

void proc_c2_blk(const SampleRules& rules, File_list_str& file, const uint8_t* pkt) {
  int32_t s[kMaxC2Samples];
  store_compressed(rules, file, pkt, s, decode_c2(pkt, file.Last_sample, s));
}

}  // namespace pk
