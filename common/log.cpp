#include "common/log.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "common/decode.h"
#include "common/pkfile.h"
#include "common/records.h"

namespace pk {

namespace {

// Text fields go out with a precision equal to their width: they carry no terminator.
int width(std::string_view s) { return static_cast<int>(s.size()); }

void crlf(std::FILE* fd) { std::fputs("\r\n", fd); }

void body_label(std::FILE* fd, const char* label) { std::fprintf(fd, "     %-29s: ", label); }
void entry_label(std::FILE* fd, const char* label) { std::fprintf(fd, "      %-28s: ", label); }

void text_line(std::FILE* fd, std::string_view s) { std::fprintf(fd, "%.*s\r\n", width(s), s.data()); }

void body_text(std::FILE* fd, const char* label, std::string_view s) {
  body_label(fd, label);
  text_line(fd, s);
}

// One character per channel 1..16; blanks are shown as '_' so they can be counted.
std::string channel_marks(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c == ' ') c = '_';
  return out;
}

// Each field of a record under its label: body fields (`entry` false) or the fields of an
// entry within the body.
void fields(std::FILE* fd, const uint8_t* record, TextFields list, bool entry) {
  for (const TextField& f : list) {
    const std::string_view text = text_of(record, f);
    const std::string marked = f.marks ? channel_marks(text) : std::string();
    (entry ? entry_label : body_label)(fd, f.label);
    text_line(fd, f.marks ? std::string_view(marked) : text);
  }
}

const char* enabled(bool on) { return on ? "Enabled" : "Disabled"; }
const char* power(bool always_on) { return always_on ? "Always On" : "Toggle"; }

char continuity_mark(int sign) { return sign == 0 ? ' ' : (sign < 0 ? '-' : '+'); }

// Channel 0..9 as a digit, 10 on as 'A', 'B', ...
char channel_char(unsigned chan) {
  return static_cast<char>(chan < 10 ? '0' + chan : 'A' + (chan - 10));
}

bool carries_event(PacketType type) {
  using enum PacketType;
  return type == eh || type == et || type == dt || type == nh || type == nt;
}

void event_fields(std::FILE* fd, const uint8_t* pkt, PacketType type) {
  char evt[4], strm[2];
  unbcd(evt, pkt + 16, 2);
  unbcd(strm, pkt + 18, 1);
  std::fprintf(fd, " E:%4.4s D:%1.1s", evt, strm + 1);
  if (type == PacketType::dt) {
    const dt_pkt dt{pkt};
    std::fprintf(fd, " C:%c S:%3.3d", channel_char(dt.chan_num()), static_cast<int>(dt.nsamp()));
  } else {
    std::fputs("          ", fd);
  }
  std::fprintf(fd, " F:%2.2X", static_cast<unsigned>(pkt[23]));
}

unsigned byte_count(const uint8_t* pkt) { return header_bpp(pkt); }

void sh_text(std::FILE* fd, const uint8_t* pkt) {
  const std::size_t n = std::min<std::size_t>(byte_count(pkt), kPacketSize);
  constexpr std::size_t kFirstTextByte = 24;
  std::fputs("     ", fd);
  for (std::size_t i = kFirstTextByte; i < n; ++i) {
    std::fputc(pkt[i], fd);
    if (pkt[i] == '\n') std::fputs("     ", fd);
  }
  const bool ends_in_lf = n > kFirstTextByte && pkt[n - 1] == '\n';
  if (!ends_in_lf) {
    const bool cr_before_last = n > kFirstTextByte + 1 && pkt[n - 2] == '\r';
    if (!cr_before_last) std::fputc('\r', fd);
    std::fputc('\n', fd);
  }
  crlf(fd);
}

void hex_dump(std::FILE* fd, const uint8_t* pkt) {
  for (std::size_t off = 0; off < kPacketSize; off += 16)
    std::fprintf(fd, "     %03X   %s\r\n", static_cast<unsigned>(off), hex_str(pkt + off).c_str());
  crlf(fd);
}

// The four event times, the rate and, without MES block, the trigger type.
void event_times_and_rate(std::FILE* fd, const event_header_body& v) {
  fields(fd, v.p, kEventTimes, false);
  if (v.has_mes_block()) {
    body_text(fd, "Sample rate", v.mes_smp_rate());
  } else {
    body_text(fd, "Sample rate", v.smp_rate());
    body_text(fd, "Trigger type", v.trg_typ());
  }
  body_text(fd, "Stream Name", v.strm_name());
}

void channel_table(std::FILE* fd, const ehet_pkt& v) {
  std::fputs("     Channel Information          : BitWght   Gain  FSVoltage\r\n", fd);
  for (unsigned ch = 0; ch < 16; ++ch) {
    const auto bw = v.bit_wgt(ch), gain = v.gain(ch), fsv = v.fsv(ch);
    if (bw.front() == ' ') continue;
    std::fprintf(fd, "                   Channel %2u     : %.8s  %.4s  %.8s\r\n", ch + 1, bw.data(), gain.data(),
                 fsv.data());
  }
}

void trigger_message(std::FILE* fd, const uint8_t* pkt) {
  std::fprintf(fd, "%.31s\r\n", ehet_pkt{pkt}.trig_msg().data());
}

void time_list_trigger(std::FILE* fd, const tml_def& t) {
  for (unsigned k = 0; k < tml_def::kStartTimes; ++k) {
    std::fprintf(fd, "   Start Time %02d               : ", static_cast<int>(k + 1));
    text_line(fd, t.start_time(k));
  }
  fields(fd, t.p, {&tml_def::kRecordLength, 1}, true);
}

// The parameters of the trigger record the stream's trigger type selects.
TextFields trigger_fields(trigger_kind kind) {
  switch (kind) {
    case trigger_kind::evt: return kEventTrigger;
    case trigger_kind::tim: return kTimeTrigger;
    case trigger_kind::lev: return kLevelTrigger;
    case trigger_kind::con: return kContinuousTrigger;
    case trigger_kind::rx: return kExternalTrigger;
    case trigger_kind::crs: return kCrossTrigger;
    default: return {};
  }
}

void ds_stream(std::FILE* fd, const dstrm_def& s) {
  fields(fd, s.p, kStream, false);
  if (s.trigger() == trigger_kind::tml)
    time_list_trigger(fd, tml_def{s.trg_info()});
  else
    fields(fd, s.trg_info(), trigger_fields(s.trigger()), true);
  crlf(fd);
}

void om_wake(std::FILE* fd, const wake_def& w) {
  crlf(fd);
  std::fprintf(fd, "      Sequence number             : %.2s\r\n", w.seq_num().data());
  std::fprintf(fd, "      Start time                  : %.12s\r\n", w.start_time().data());
  std::fprintf(fd, "      Power Duration              :     %.6s\r\n", w.pwr_dur().data());
  std::fprintf(fd, "      Repeat Interval             :     %.6s\r\n", w.rep_int().data());
  std::fprintf(fd, "      Number of Intervals         : %.2s\r\n", w.num_int().data());
}

void dr_time(std::FILE* fd, const char* label, const uint8_t* packed, uint32_t msecs) {
  entry_label(fd, label);
  if (const auto t = packed_time(packed))
    std::fprintf(fd, "%4.4s:%3.3s:%2.2s:%2.2s:%2.2s.%.3u", t->c_str(), t->c_str() + 4, t->c_str() + 7,
                 t->c_str() + 9, t->c_str() + 11, static_cast<unsigned>(msecs));
  crlf(fd);
}

void dr_number(std::FILE* fd, const char* label, const char* format, unsigned long value) {
  entry_label(fd, label);
  std::fprintf(fd, format, value);
}

void dr_entry(std::FILE* fd, const dr_pkt& dr, const dr_ent_def& e) {
  static constexpr const char* kTimeLabels[dr_ent_def::kTimes] = {"Trigger time", "First sample time",
                                                                  "Detrigger time", "Last sample time", "Entry time"};
  crlf(fd);
  dr_number(fd, "Entry Number", "%lu\r\n", e.ent_num());
  dr_number(fd, "Entry Status", "%lu\r\n", e.ent_stat());
  dr_number(fd, "Entry Format", "%lu\r\n", e.ent_format());
  dr_number(fd, "Entry Length", "%lu\r\n", e.ent_length());
  dr_number(fd, "Unit ID", "%04lu\r\n", e.unit_id());
  dr_number(fd, "Event Number", "%lu\r\n", e.event_num());
  dr_number(fd, "Event Header Flag", "%lu\r\n", e.evt_eh());
  dr_number(fd, "Event Trailer Flag", "%lu\r\n", e.evt_et());
  dr_number(fd, "Stream Number", "%lu\r\n", e.strm());
  entry_label(fd, "Data Stream Name");
  std::fprintf(fd, "%8.8s\r\n", e.dat_strm_name().data());
  entry_label(fd, "Trigger Type");
  std::fprintf(fd, "%4.4s\r\n", e.trig_type().data());
  dr_number(fd, "Data Format", "%02lX\r\n", e.data_fmt());
  std::fprintf(fd, "      Data Location (Block)       : %010lu\r\n", static_cast<unsigned long>(dr.data_block(e)));
  std::fprintf(fd, "      Data Length (Blocks)        : %010lu\r\n", static_cast<unsigned long>(e.data_length()));
  std::fprintf(fd, "      Disk Errors (Blocks)        : %lu\r\n", static_cast<unsigned long>(e.blk_err()));
  for (unsigned k = 0; k < dr_ent_def::kTimes; ++k) dr_time(fd, kTimeLabels[k], e.packed_time_at(k), e.msecs_at(k));
}

void old_time(std::FILE* fd, const char* label, std::string_view t) {
  const char* s = t.data();
  std::fprintf(fd, "       %-19s: %.4s:%.3s:%.2s:%.2s:%.2s.%.3s\r\n", label, s, s + 4, s + 7, s + 9, s + 11, s + 13);
}

}  // namespace

void log_head(std::FILE* fd, const uint8_t* pkt, PacketType type, int& sign, uint32_t blk_cnt) {
  char t[14];
  unbcd(t, pkt + pack_head_strc::year, 1);
  unbcd(t + 2, pkt + pack_head_strc::time, 6);
  char exper[2], seq[4];
  unbcd(exper, pkt + pack_head_strc::exper_num, 1);
  unbcd(seq, pkt + pack_head_strc::seq_num, 2);

  std::fprintf(fd, "%.2s%c", reinterpret_cast<const char*>(pkt), continuity_mark(sign));
  sign = 0;
  std::fprintf(fd, "%.2s:%.3s:%.2s:%.2s:%.2s.%.3s", t, t + 2, t + 5, t + 7, t + 9, t + 11);
  std::fprintf(fd, " X:%.2s U:%04hX N:%.4s", exper, static_cast<unsigned short>(header_unit_id(pkt)), seq);
  if (carries_event(type))
    event_fields(fd, pkt, type);
  else
    std::fputs("                          ", fd);
  std::fprintf(fd, " B:%010ld\r\n", static_cast<long>(blk_cnt));
}

void log_block(std::FILE* fd, const uint8_t* pkt, int mode) {
  if (mode == 4)
    sh_text(fd, pkt);
  else if (mode == 0)
    hex_dump(fd, pkt);
}

void log_eh_et(std::FILE* fd, const uint8_t* pkt) {
  const ehet_pkt v{pkt};
  if (v.is_short()) {
    trigger_message(fd, pkt);
    return;
  }
  event_times_and_rate(fd, v);
  channel_table(fd, v);
  if (v.has_mes_block()) fields(fd, pkt, kMesDau, false);
}

void log_nh_nt(std::FILE* fd, const uint8_t* pkt) {
  const nhnt_pkt v{pkt};
  event_times_and_rate(fd, v);
  if (v.has_mes_block()) fields(fd, pkt, kMesCru, false);
}

void log_sc(std::FILE* fd, const uint8_t* pkt) {
  fields(fd, pkt, kStation, false);
  for (unsigned k = 0; k < sc_pkt::kChannels; ++k) {
    const uint8_t* entry = sc_pkt{pkt}.chan(k);
    if (!entry_used(entry)) continue;
    crlf(fd);
    fields(fd, entry, kChannelEntry, true);
  }
  crlf(fd);
}

void log_ds(std::FILE* fd, const uint8_t* pkt) {
  const ds_pkt v{pkt};
  for (unsigned k = 0; k < ds_pkt::kStreams; ++k)
    if (const dstrm_def s = v.stream(k); s.used()) ds_stream(fd, s);
}

void log_cd(std::FILE* fd, const uint8_t* pkt) {
  fields(fd, pkt, kCalibration, false);
  if (cd_pkt{pkt}.step_on()) {
    crlf(fd);
    fields(fd, pkt, kCalibrationStep, false);
  }
  crlf(fd);
}

void log_om(std::FILE* fd, const uint8_t* pkt) {
  const om_pkt v{pkt};
  body_text(fd, "Power State", v.pwr_stt());
  body_text(fd, "Recording Mode", v.rec_mod());
  for (unsigned k = 0; k < 4; ++k) {
    static constexpr const char* kIds[] = {"Primary Disk ID", "Secondary Disk ID", "Tape ID", "Auto-dump Device"};
    body_label(fd, kIds[k]);
    std::fprintf(fd, "%c\r\n", v.id_char(k));
  }
  body_text(fd, "Auto-dump on ET Block", enabled(v.dump_et()));
  body_text(fd, "Auto-dump in Serial Mode", enabled(v.dump_ser()));
  std::fprintf(fd, "     Auto-dump Threshold          : %.2s%%\r\n", v.dump_threshold().data());
  std::fprintf(fd, "     SCSI Powerdown Delay         : %.4s seconds\r\n", v.pwrdn_delay().data());
  body_text(fd, "SCSI Disk Wrap", enabled(v.disk_wrap()));
  body_text(fd, "SCSI Directory", enabled(v.scsi_dir()));
  body_text(fd, "SCSI Device Power", power(v.scsi_pwr_always_on()));
  body_text(fd, "SCSI Termintor Power", power(v.term_pwr_always_on()));
  std::fputs("     Wake Sequence Information\r\n", fd);
  for (unsigned k = 0; k < om_pkt::kWakes; ++k)
    if (const wake_def w = v.wake(k); w.used()) om_wake(fd, w);
  crlf(fd);
}

void log_ad(std::FILE* fd, const uint8_t* pkt) {
  fields(fd, pkt, kAuxiliary, false);
  crlf(fd);
}

void log_dr(std::FILE* fd, const uint8_t* pkt) {
  const dr_pkt v{pkt};
  std::fprintf(fd, "     Prev Dir Location (Block)    : %010lu\r\n", static_cast<unsigned long>(v.prev_dir_block()));
  std::fprintf(fd, "     Next Dir Location (Block)    : %010lu\r\n", static_cast<unsigned long>(v.next_dir_block()));
  std::fprintf(fd, "     Block/Sector Flag            : %u\r\n", static_cast<unsigned>(v.sector()));
  std::fprintf(fd, "     No of dir entries            : %u\r\n", static_cast<unsigned>(v.num_dir_ent()));
  std::fprintf(fd, "     Last Entry Number            : %lu\r\n", static_cast<unsigned long>(v.lst_ent_num()));
  for (const dr_ent_def& e : v.entries()) dr_entry(fd, v, e);
}

void log_dk_fmt(std::FILE* fd, const uint8_t* rec) {
  const t_fmt_disk d{rec};
  using T = t_fmt_disk;
  auto blk = [&d](std::size_t off) { return static_cast<unsigned long>(d.block_at(off)); };
  auto cnt = [&d](std::size_t off) { return static_cast<unsigned long>(d.at(off)); };
  std::fprintf(fd, "     PEOD: %010lu  LEOD: %010lu  Ovwr: %10lu  Wrap Cnt: %10lu\r\n", blk(T::peod), blk(T::leod),
               cnt(T::ovwr), cnt(T::wrap_cnt));
  std::fprintf(fd, "     Write: %010lu  Read: %010lu  Copy: %010lu   Wrap At: %010lu\r\n", blk(T::write),
               blk(T::read), blk(T::copy), blk(T::weod));
  std::fprintf(fd, "     DirFst: %010lu  Last: %010lu   Cnt: %10lu   Entries: %10lu\r\n", blk(T::dir_first),
               blk(T::dir_last), cnt(T::dir_cnt), cnt(T::dir_ent));
}

void log_ehet(std::FILE* fd, const uint8_t* pkt) {
  if (byte_count(pkt) <= 57) {
    trigger_message(fd, pkt);
    return;
  }
  old_time(fd, "Trigger time", text_at(pkt, 58, 16));
  old_time(fd, "First sample time", text_at(pkt, 74, 16));
  old_time(fd, "Detrigger time", text_at(pkt, 90, 16));
  old_time(fd, "Last sample time", text_at(pkt, 106, 16));
  // The rate and trigger type are fixed-width fields without a terminator.
  std::fprintf(fd, "       Sample rate        : %.4s\r\n", text_at(pkt, 122, 4).data());
  std::fprintf(fd, "       Trigger type       : %.4s\r\n", text_at(pkt, 126, 4).data());
  std::fputs("       Channel bit weights: \r\n", fd);
  for (int i = 0; i < 16; ++i) {
    const auto w = text_at(pkt, 130 + 8 * i, 8);
    if (w.front() != ' ') std::fprintf(fd, "                      %2d %.8s\r\n", i, w.data());
  }
}

void log_compressed_report(std::FILE* fd, const uint8_t* pkt, const CompressedResult& r) {
  std::fprintf(fd, "     Read start 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.x0)));
  std::fprintf(fd, "stop 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.xn)));
  std::fprintf(fd, "samples %d\r\n", static_cast<int>(r.n));
  std::fprintf(fd, "     Calc start 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.calc_start)));
  std::fprintf(fd, "stop 0x%08lX  ", static_cast<unsigned long>(static_cast<uint32_t>(r.calc_stop)));
  std::fprintf(fd, "samples %d\r\n", static_cast<int>(r.decoded));
  log_block(fd, pkt, 0);
}

}  // namespace pk
