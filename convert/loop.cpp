#include "loop.h"

#include <csignal>
#include <cstring>
#include <vector>

#include "decode.h"
#include "log.h"
#include "pkfile.h"
#include "qcc.h"
#include "records.h"
#include "ring.h"
#include "setup.h"
#include "writer.h"

namespace pk {

namespace {
volatile std::sig_atomic_t interrupted = 0;
extern "C" void on_interrupt(int) { interrupted = 1; }
}  // namespace

InterruptGuard::InterruptGuard() {
  interrupted = 0;
  struct sigaction sa {};
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &old_int_);
  sigaction(SIGTERM, &sa, &old_term_);
}

bool interrupt_requested() { return interrupted != 0; }

InterruptGuard::~InterruptGuard() {
  sigaction(SIGINT, &old_int_, nullptr);
  sigaction(SIGTERM, &old_term_, nullptr);
}

int read_block(Run& run, uint8_t* buffer) {
  const std::size_t got = std::fread(buffer, 1, kPacketSize, run.FdIn);
  if (got == kPacketSize) return 0;
  if (interrupted) shut_down(run, 1);
  if (std::feof(run.FdIn)) return 29;
  shut_down(run, 21, run.FileIn);
}

namespace {

std::FILE* unit_log(const Run& run, const Unit_list_str* unit) {
  return (run.Log_on && unit && unit->LogOpen) ? unit->FdLog : nullptr;
}

// The console shows either one line per packet (verbose) or a packet counter in KiB of packets.
class Progress {
 public:
  explicit Progress(const Run& run) : run_(run) {}
  template <typename... Args>
  void line(const char* fmt, Args... args) const {
    if (run_.Verbose) {
      std::printf(fmt, static_cast<unsigned long>(run_.Blk_cnt + 1), args...);
    } else if ((run_.Blk_cnt & 1024u) == 0) {
      std::printf("\rMeg: %4u", static_cast<unsigned>(static_cast<uint16_t>(run_.Blk_cnt / 1024)));
    }
  }
  void extra(const char* text) const {
    if (run_.Verbose) std::fputs(text, stdout);
  }

 private:
  const Run& run_;
};

unsigned short ushort(uint32_t v) { return static_cast<unsigned short>(v); }

// The rate of an EH packet: the eight-character field when a MES block with a
// non-zero channel position is present, else the four-character field; 0 means 1000.
float eh_sample_rate(const uint8_t* pkt, const Progress& progress) {
  const ehet_pkt eh{pkt};
  float rate;
  const std::string mes(eh.mes_comm());
  if (!is_blank(mes) && strtof(mes, 6) != 0.0f) {
    rate = strtof(std::string(eh.mes_smp_rate()), 8);
    progress.extra("  120");
    char buf[64];
    std::snprintf(buf, sizeof buf, " %.4f", static_cast<double>(rate));
    progress.extra(buf);
  } else {
    rate = strtof(std::string(eh.smp_rate()), 4);
    progress.extra("                ");
  }
  return rate == 0.0f ? 1000.0f : rate;
}

void decode_dt(Run& run, File_list_str* file, const uint8_t* pkt) {
  const uint8_t format = dt_pkt{pkt}.dat_fmt();
  switch (dt_sample_format(format)) {
    case SampleFormat::kInt32:
      if (run.dat32_raw) proc_32_raw(run, file, pkt); else proc_32_blk(run, file, pkt);
      break;
    case SampleFormat::kInt16: proc_16_blk(run, file, pkt); break;
    case SampleFormat::kCompressed: proc_c0_blk(run, file, pkt); break;
    case SampleFormat::kCompressed2: proc_c2_blk(run, file, pkt); break;
    case SampleFormat::kUnknown: ++run.Undecoded_dt[format]; break;
  }
}

void copy_bit_weight(Run& run, const uint8_t* pkt) { run.Bit_weight = std::string(ehet_pkt{pkt}.dat_bit_wgt()); }

void handle_packet(Run& run, const uint8_t* pkt, const Progress& progress) {
  const int type = code_set(pkt);
  if (type == kUnknown) return;
  Unit_list_str* unit = find_unit(run, pkt);
  if (type != kDT)
    if (std::FILE* log = unit_log(run, unit)) log_head(log, pkt, type, run.sign, run.Blk_cnt);
  std::FILE* log = unit_log(run, unit);
  const unsigned short unit_num = ushort(unit->Unit_num);

  switch (type) {
    case kEH: {
      run.Eh_blk = 1;
      copy_bit_weight(run, pkt);
      Evt_list_str* evt = find_event(run, unit, pkt);
      if (!evt) shut_down(run, 40, std::string(run.writer->is_segy() ? "pk_segy" : "pk_seis") + ": caseEH");
      progress.line("\r%05lu       EH      %04hX       %04u          -          -    ", unit_num,
                    static_cast<unsigned>(evt->Evt_num));
      evt->Samp_rate = eh_sample_rate(pkt, progress);
      if (log) { log_eh_et(log, pkt); std::fputs("\r\n", log); }
      break;
    }
    case kET: {
      copy_bit_weight(run, pkt);
      Evt_list_str* evt = find_event(run, unit, pkt);
      progress.line("\r%05lu       ET      %04hX       %04u          -          -    ", unit_num,
                    static_cast<unsigned>(evt->Evt_num));
      if (run.Qcc_on) store_qcc(run, unit, evt, pkt);
      close_event(run, evt, false);
      log = unit_log(run, unit);
      if (log) { log_eh_et(log, pkt); std::fputs("\r\n", log); }
      break;
    }
    case kDT: {
      Evt_list_str* evt = find_event(run, unit, pkt);
      File_list_str* file = find_file(run, evt, pkt);
      if (log && !run.dont_log_dt) log_head(log, pkt, kDT, run.sign, run.Blk_cnt);
      progress.line("\r%05lu       DT      %04hX       %04u         %02u         %02u   ", unit_num,
                    static_cast<unsigned>(file->Evt_num), file->Strm_num + 1, file->Chan_num + 1);
      decode_dt(run, file, pkt);
      break;
    }
    case kNH:
    case kNT: {
      progress.line(type == kNH ? "\r%05lu       NH      %04hX       %04u          -          -    "
                                : "\r%05lu       NT      %04hX       %04u          -          -    ",
                    unit_num, bcd2i(pkt + 16, 2));
      if (log) { log_nh_nt(log, pkt); std::fputs("\r\n", log); }
      if (type == kNH && run.Qcc_on) qcc_nh_heads(run, pkt);
      break;
    }
    case kSH:
      progress.line("\r%05lu       %2.2s      %04hX          -          -          -   ", reinterpret_cast<const char*>(pkt),
                    unit_num);
      if (log) log_block(log, pkt, 4);
      break;
    default: {
      progress.line("\r%05lu       %2.2s         -          -          -          -   ", reinterpret_cast<const char*>(pkt));
      if (!log) break;
      switch (type) {
        case kSC: log_sc(log, pkt); break;
        case kDS: log_ds(log, pkt); break;
        case kCD: log_cd(log, pkt); break;
        case kOM: log_om(log, pkt); break;
        case kAD: log_ad(log, pkt); break;
        case kDR: log_dr(log, pkt); std::fputs("\r\n", log); break;
        default: break;
      }
    }
  }
}

void end_of_input(Run& run, uint8_t* buffer) {
  if (run.Qcc_on) {
    buffer[0] = 'X';
    buffer[1] = 'X';
    for (Unit_list_str* u : ring_nodes(run.start)) {
      // Only the current unit keeps its QCC file open; each unit's entries go to its own file.
      make_unit_current(run, u);
      for (Evt_list_str* e : ring_nodes(u->First_evt))
        if (e->First_chan) store_qcc(run, u, e, buffer);
    }
  }
  for (Unit_list_str* u : ring_nodes(run.start)) {
    for (Evt_list_str* e : ring_nodes(u->First_evt)) {
      if (e->First_chan) close_event(run, e, true);
      else del_evt_ptr(run, e);
    }
  }
  if (run.Log_on && run.start && run.start->LogOpen) {
    // Every unit writes into the same log, so the run's account goes in once.
    write_undecoded_warnings(run, run.start->FdLog, "\r\n");
    run.start->LogOpen = 0;
    close_checked(run, run.start->FdLog, run.start->LogFile);
  }
}

}  // namespace

void write_undecoded_warnings(const Run& run, std::FILE* out, const char* line_end) {
  for (std::size_t format = 0; format < run.Undecoded_dt.size(); ++format) {
    const unsigned long n = run.Undecoded_dt[format];
    if (n == 1)
      std::fprintf(out, "WARNING: 1 DT packet in data format 0x%02zX was not decoded; its samples are missing%s",
                   format, line_end);
    else if (n > 1)
      std::fprintf(out, "WARNING: %lu DT packets in data format 0x%02zX were not decoded; their samples are missing%s",
                   n, format, line_end);
  }
}

void close_event(Run& run, Evt_list_str* evt, bool at_end_of_input) {
  if (at_end_of_input && run.writer->is_segy() && evt->Samp_rate == 0.0f) evt->Samp_rate = 1000.0f;
  evt->Chan_each.clear();
  for (const File_list_str* f : ring_nodes(evt->First_chan)) evt->Chan_each.push_back(f->Chan_num);
  sort_chan(evt);
  run.writer->before_merge(run, *evt);
  run.writer->merge_file_pc(run, *evt, evt->First_chan);
  del_evt_ptr(run, evt);
}

int pk_cvt(Run& run) {
  if (run.Verbose) {
    std::printf("\r\n\nBlock     Type      Unit      Event     Stream    Channel");
    std::printf("\r\n\n    0       -          -          -          -          -");
  } else {
    std::printf("\r\n\nMeg:     0");
  }
  run.N_opn_fls = 0;
  run.Blk_cnt = 0;
  const Progress progress(run);
  uint8_t packet[kPacketSize];
  while (read_block(run, packet) == 0) {
    // Stopping between packets leaves every finished event's output complete.
    if (interrupted) shut_down(run, 1);
    handle_packet(run, packet, progress);
    ++run.Blk_cnt;
  }
  end_of_input(run, packet);
  return 0;
}

}  // namespace pk
