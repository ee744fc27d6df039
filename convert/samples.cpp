// From decoded samples to the channel data file: the discard count, the
// sample limit, the QC sums and the byte order of the output format.
#include <bit>
#include <cstring>

#include "byte_order.h"
#include "decode.h"
#include "log.h"
#include "loop.h"
#include "qcc.h"
#include "writer.h"

namespace pk {

namespace {

// The usual packet: nothing to discard, no limit in reach, channel in sequence. Kept
// free of per-sample tests so the byte-order loop stays tight.
bool keeps_every_sample(const Run& run, const File_list_str* f, std::size_t n) {
  const bool stopped = f->Evt_pointer && f->Evt_pointer->Out_of_seq;
  return f->Trash_cnt == 0 && !stopped && f->Sam_cnt <= run.Samp_cnt && run.Samp_cnt - f->Sam_cnt >= n;
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
void emit_samples(Run& run, File_list_str* f, const int32_t* s, std::size_t n, double qc_scale) {
  uint8_t bytes[kMaxDtSamples * 4];
  std::size_t kept = 0;
  const bool big = run.writer ? run.writer->samples_big_endian() : true;
  if (keeps_every_sample(run, f, n)) {
    put_samples(bytes, s, n, big);
    kept = n;
    f->Sam_cnt += static_cast<uint32_t>(n);
    if (run.Qcc_on)
      for (std::size_t i = 0; i < n; ++i) add_qcc_sample(*f, static_cast<double>(s[i]) * qc_scale);
  } else {
    const bool stopped = f->Evt_pointer && f->Evt_pointer->Out_of_seq;
    for (std::size_t i = 0; i < n; ++i) {
      if (f->Trash_cnt != 0) { --f->Trash_cnt; continue; }
      if (stopped) continue;
      if (f->Sam_cnt >= run.Samp_cnt) continue;
      put_samples(bytes + 4 * kept++, &s[i], 1, big);
      ++f->Sam_cnt;
      if (run.Qcc_on) add_qcc_sample(*f, static_cast<double>(s[i]) * qc_scale);
    }
  }
  if (kept == 0) return;
  if (!f->Fdout || std::fwrite(bytes, 4, kept, f->Fdout) != kept) shut_down(run, 22, f->Filename);
}

}  // namespace

void proc_16_blk(Run& run, File_list_str* file, const uint8_t* pkt) {
  int32_t s[kMax16Samples];
  emit_samples(run, file, s, decode_16(pkt, s), 1.0);
}

void proc_32_raw(Run& run, File_list_str* file, const uint8_t* pkt) {
  int32_t s[kMax32Samples];
  emit_samples(run, file, s, decode_32(pkt, s), 1.0);
}

void proc_32_blk(Run& run, File_list_str* file, const uint8_t* pkt) {
  int32_t s[kMax32Samples];
  emit_samples(run, file, s, decode_32(pkt, s), 1.52587890625e-05);
}

namespace {

// Both compressed formats after decoding: the samples, the report of a packet that does
// not add up, and the value the channel's next packet continues from.
void store_compressed(Run& run, File_list_str* file, const uint8_t* pkt, const int32_t* s, const c0_result& r) {
  emit_samples(run, file, s, r.count, 1.0);
  Unit_list_str* unit = file->Evt_pointer ? file->Evt_pointer->Unit_pointer : nullptr;
  if (r.needs_report() && run.Log_on && unit && unit->FdLog) {
    std::FILE* log = unit->FdLog;
    std::fprintf(log, "     Read start 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.x0)));
    std::fprintf(log, "stop 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.xn)));
    std::fprintf(log, "samples %d\r\n", static_cast<int>(r.n));
    std::fprintf(log, "     Calc start 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.calc_start)));
    std::fprintf(log, "stop 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.calc_stop)));
    std::fprintf(log, "samples %d\r\n", static_cast<int>(r.decoded));
    log_block(log, pkt, 0);
  }
  file->Last_sample = r.xn;
}

}  // namespace

void proc_c0_blk(Run& run, File_list_str* file, const uint8_t* pkt) {
  int32_t s[kMaxC0Samples];
  store_compressed(run, file, pkt, s, decode_c0(pkt, file->Last_sample, s));
}

void proc_c2_blk(Run& run, File_list_str* file, const uint8_t* pkt) {
  int32_t s[kMaxC2Samples];
  store_compressed(run, file, pkt, s, decode_c2(pkt, file->Last_sample, s));
}

}  // namespace pk
