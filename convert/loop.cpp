#include "convert/loop.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "common/decode.h"
#include "common/digits.h"
#include "convert/failure.h"
#include "common/log.h"
#include "common/pkfile.h"
#include "convert/qcc.h"
#include "common/records.h"
#include "convert/ring.h"
#include "convert/samples.h"
#include "convert/setup.h"
#include "common/stop_signals.h"
#include "convert/writer.h"

namespace pk {

bool read_block(PacketInput& in, uint8_t* buffer) {
  errno = 0;
  const std::size_t got = std::fread(buffer, 1, kPacketSize, in.file.get());
  if (got == kPacketSize) return true;
  const int error = errno;  // an input that is a directory, a disk that fails
  if (stop_requested()) shut_down(ExitCode::aborted);
  if (std::feof(in.file.get())) {
    in.partial_bytes = got;
    return false;
  }
  shut_down(ExitCode::read_error, in.name, error);
}

namespace {

// The console shows either one line per packet (verbose) or a packet counter in KiB of packets.
class Progress {
 public:
  Progress(const Options& options, const uint32_t& blk_cnt) : verbose_(options.Verbose), blk_cnt_(blk_cnt) {}
  template <typename... Args>
  void line(const char* fmt, Args... args) const {
    if (verbose_) std::printf(fmt, static_cast<unsigned long>(blk_cnt_ + 1), args...);
    else counter();
  }
  // "\r%05lu       DT      %04hX       %04u         %02u         %02u   ", put together by
  // hand: there is one for nearly every packet.
  void dt_line(unsigned short unit, unsigned evt, unsigned strm, unsigned chan) const {
    if (!verbose_) return counter();
    char buf[128];
    char* p = buf;
    *p++ = '\r';
    p = put_padded(p, static_cast<unsigned long>(blk_cnt_ + 1), 5);
    p = put_text(p, "       DT      ");
    p = put_text(put_padded(p, unit, 4, 16), "       ");
    p = put_text(put_padded(p, evt, 4), "         ");
    p = put_text(put_padded(p, strm, 2), "         ");
    p = put_text(put_padded(p, chan, 2), "   ");
    std::fwrite(buf, 1, static_cast<std::size_t>(p - buf), stdout);
  }
  void extra(const char* text) const {
    if (verbose_) std::fputs(text, stdout);
  }

 private:
  void counter() const {
    if ((blk_cnt_ & 1024u) == 0)
      std::printf("\rMeg: %4u", static_cast<unsigned>(static_cast<uint16_t>(blk_cnt_ / 1024)));
  }
  static char* put_text(char* out, std::string_view text) { return std::copy(text.begin(), text.end(), out); }

  bool verbose_;
  const uint32_t& blk_cnt_;
};

unsigned short ushort(uint32_t v) { return static_cast<unsigned short>(v); }

// The rate of an EH packet: the eight-character field when a MES block with a
// non-zero channel position is present, else the four-character field; 0 means 1000.
float eh_sample_rate(const uint8_t* pkt, const Progress& progress) {
  const ehet_pkt eh{pkt};
  float rate;
  const std::string mes(eh.mes_comm());
  if (!is_blank(mes) && parse_rate_text(mes, 6) != 0.0f) {
    rate = parse_rate_text(std::string(eh.mes_smp_rate()), 8);
    progress.extra("  120");
    progress.extra(format(" %.4f", static_cast<double>(rate)).c_str());
  } else {
    rate = parse_rate_text(std::string(eh.smp_rate()), 4);
    progress.extra("                ");
  }
  return rate == 0.0f ? 1000.0f : rate;
}

// A compressed packet that does not add up goes into its unit's log.
void report_compressed(const ChannelNode& file, const uint8_t* pkt, const CompressedResult& r) {
  const UnitNode* unit = file.Evt_pointer ? file.Evt_pointer->Unit_pointer : nullptr;
  if (r.needs_report() && unit && unit->FdLog) log_compressed_report(unit->FdLog, pkt, r);
}

void decode_dt(Conversion& conv, ChannelNode& file, const uint8_t* pkt) {
  const uint8_t format = dt_pkt{pkt}.dat_fmt();
  switch (dt_sample_format(format)) {
    case SampleFormat::int32: proc_32_raw(conv.rules, file, pkt); break;
    case SampleFormat::int16: proc_16_blk(conv.rules, file, pkt); break;
    case SampleFormat::compressed: report_compressed(file, pkt, proc_c0_blk(conv.rules, file, pkt)); break;
    case SampleFormat::compressed2: report_compressed(file, pkt, proc_c2_blk(conv.rules, file, pkt)); break;
    case SampleFormat::unknown: conv.damage.packet_undecoded(format); break;
  }
}

void log_event_packet(const UnitNode* unit, const uint8_t* pkt) {
  if (!unit->FdLog) return;
  log_eh_et(unit->FdLog, pkt);
  std::fputs("\r\n", unit->FdLog);
}

// An EH or ET packet: the bit weights count for its event and, until the next EH or ET,
// for the unit's events that have none of their own.
EventNode* event_of(Conversion& conv, UnitNode* unit, const uint8_t* pkt) {
  const std::string weights(ehet_pkt{pkt}.dat_bit_wgt());
  unit->Bit_weight = weights;
  EventNode* evt = find_event(conv.open, unit, pkt);
  evt->Bit_weight = weights;
  return evt;
}

void on_eh(Conversion& conv, UnitNode* unit, const uint8_t* pkt, const Progress& progress) {
  EventNode* evt = event_of(conv, unit, pkt);
  progress.line("\r%05lu       EH      %04hX       %04u          -          -    ", ushort(unit->Unit_num),
                static_cast<unsigned>(evt->Evt_num));
  evt->Samp_rate = eh_sample_rate(pkt, progress);
  evt->rate_known = true;
  log_event_packet(unit, pkt);
}

void on_et(Conversion& conv, UnitNode* unit, const uint8_t* pkt, const Progress& progress) {
  EventNode* evt = event_of(conv, unit, pkt);
  progress.line("\r%05lu       ET      %04hX       %04u          -          -    ", ushort(unit->Unit_num),
                static_cast<unsigned>(evt->Evt_num));
  if (conv.options.Qcc_on) store_qcc(conv.FdQcc, conv.Blk_cnt, *unit, *evt, pkt);
  close_event(conv, evt, false);
  log_event_packet(unit, pkt);
}

// What each channel of a segment carries into the next: the event's earlier carries,
// updated by the channels this segment had.
std::vector<ChannelCarry> carry_over(const EventNode& evt) {
  std::vector<ChannelCarry> carried = evt.carried;
  for (const ChannelNode* f : ring_nodes(evt.First_chan)) {
    const ChannelCarry c{f->Strm_num, f->Chan_num, f->discard_count, f->stored_before + f->stored};
    auto same = std::find_if(carried.begin(), carried.end(), [&](const ChannelCarry& o) {
      return o.Strm_num == c.Strm_num && o.Chan_num == c.Chan_num;
    });
    if (same == carried.end()) carried.push_back(c);
    else *same = c;
  }
  return carried;
}

// Ends the event's current segment as the event itself would end and continues the event
// in a new one with the same rate, bit weights and shot point; the new segment's files
// are named from its own first sample.
EventNode* next_segment(Conversion& conv, UnitNode* unit, EventNode* evt) {
  auto* seg = new EventNode;
  seg->Unit_pointer = unit;
  seg->Unit_num = evt->Unit_num;
  seg->Evt_num = evt->Evt_num;
  seg->Seq_num = evt->Seq_num;
  seg->Strm_num = evt->Strm_num;
  seg->Samp_rate = evt->Samp_rate;
  seg->rate_known = evt->rate_known;
  seg->Bit_weight = evt->Bit_weight;
  seg->event_start = evt->event_start.text().empty() ? evt->First_smp_time : evt->event_start;
  seg->carried = carry_over(*evt);
  seg->channels_apart = true;
  link_after(evt, seg);
  if (conv.options.Qcc_on) store_qcc(conv.FdQcc, conv.Blk_cnt, *unit, *evt, nullptr);
  close_event(conv, evt, false);
  unit->First_evt = seg;
  return seg;
}

// The most samples a DT packet can bring: the count it gives, or for compressed data
// whatever its frames hold.
std::size_t most_samples(const uint8_t* pkt) {
  switch (dt_sample_format(dt_pkt{pkt}.dat_fmt())) {
    case SampleFormat::int16: return dt_sample_count(pkt, kMax16Samples);
    case SampleFormat::int32: return dt_sample_count(pkt, kMax32Samples);
    case SampleFormat::compressed: return kMaxC0Samples;
    case SampleFormat::compressed2: return kMaxC2Samples;
    case SampleFormat::unknown: break;
  }
  return 0;
}

// Whether the packet's channel cannot take its samples without passing the most the
// writer's files hold.
bool fills_file(const Conversion& conv, const EventNode* evt, const uint8_t* pkt) {
  const uint64_t most = conv.writer.max_samples_per_file(conv.options);
  if (most == 0) return false;
  const dt_pkt dt{pkt};
  const ChannelNode* f = find_in_ring(evt->First_chan, [&](const ChannelNode* n) {
    return n->Evt_num == dt.evt_num() && n->Strm_num == dt.strm_num() && n->Chan_num == dt.chan_num();
  });
  return f && f->stored > 0 && f->stored + most_samples(pkt) > most;
}

// The segment of the event that takes a DT packet: a new one after a sequence break (the
// samples go on at their own time rather than being dropped) or when a file is full.
EventNode* segment_for(Conversion& conv, UnitNode* unit, EventNode* evt, const uint8_t* pkt) {
  if (evt->Out_of_seq) {
    evt->Out_of_seq = false;
    conv.damage.sequence_broken(unit->Unit_num, evt->Evt_num, header_seq_num(pkt), header_time_string(pkt));
    // Before the event's first samples the event itself is the new segment.
    if (evt->First_chan) return next_segment(conv, unit, evt);
    evt->channels_apart = true;
    return evt;
  }
  return fills_file(conv, evt, pkt) ? next_segment(conv, unit, evt) : evt;
}

void on_dt(Conversion& conv, UnitNode* unit, const uint8_t* pkt, const Progress& progress) {
  EventNode* evt = segment_for(conv, unit, find_event(conv.open, unit, pkt), pkt);
  ChannelNode* file = find_file(conv, evt, pkt);
  if (unit->FdLog && !conv.options.dont_log_dt) log_head(unit->FdLog, pkt, PacketType::dt, conv.sign, conv.Blk_cnt);
  progress.dt_line(ushort(unit->Unit_num), static_cast<unsigned>(file->Evt_num), file->Strm_num + 1,
                   file->Chan_num + 1);
  const uint32_t stored_at = file->stored, trash_at = file->discard_count;
  decode_dt(conv, *file, pkt);
  note_packet_time(*file, *evt, stored_at, trash_at);
}

// A download that wrote a packet of an event twice: the copy is no packet of its own.
// Only event packets count: they carry the sequence a copy would break.
bool repeats_previous(UnitNode* unit, const uint8_t* pkt, PacketType type) {
  if (type != PacketType::eh && type != PacketType::et && type != PacketType::dt) return false;
  if (unit->has_previous && std::memcmp(unit->previous_packet.data(), pkt, kPacketSize) == 0) return true;
  std::memcpy(unit->previous_packet.data(), pkt, kPacketSize);
  unit->has_previous = true;
  return false;
}

void on_nh_nt(Conversion& conv, UnitNode* unit, const uint8_t* pkt, PacketType type, const Progress& progress) {
  progress.line(type == PacketType::nh ? "\r%05lu       NH      %04hX       %04u          -          -    "
                                        : "\r%05lu       NT      %04hX       %04u          -          -    ",
                ushort(unit->Unit_num), bcd2i(pkt + 16, 2));
  if (unit->FdLog) {
    log_nh_nt(unit->FdLog, pkt);
    std::fputs("\r\n", unit->FdLog);
  }
  if (type == PacketType::nh && conv.options.Qcc_on) qcc_nh_heads(conv.FdQcc, conv.Blk_cnt, pkt);
}

// The packets that are only shown and logged.
void on_state_packet(const UnitNode* unit, const uint8_t* pkt, PacketType type, const Progress& progress) {
  const char* letters = reinterpret_cast<const char*>(pkt);
  if (type == PacketType::sh)
    progress.line("\r%05lu       %2.2s      %04hX          -          -          -   ", letters, ushort(unit->Unit_num));
  else
    progress.line("\r%05lu       %2.2s         -          -          -          -   ", letters);
  std::FILE* log = unit->FdLog;
  if (!log) return;
  switch (type) {
    case PacketType::sh: log_block(log, pkt, 4); break;
    case PacketType::sc: log_sc(log, pkt); break;
    case PacketType::ds: log_ds(log, pkt); break;
    case PacketType::cd: log_cd(log, pkt); break;
    case PacketType::om: log_om(log, pkt); break;
    case PacketType::ad: log_ad(log, pkt); break;
    case PacketType::dr: log_dr(log, pkt); std::fputs("\r\n", log); break;
    default: break;
  }
}

void handle_packet(Conversion& conv, const uint8_t* pkt, const Progress& progress) {
  const PacketType type = code_set(pkt);
  if (type == PacketType::unknown) {
    conv.damage.block_unknown();
    return;
  }
  UnitNode* unit = find_unit(conv, pkt);
  if (repeats_previous(unit, pkt, type)) {
    conv.damage.packet_repeated(unit->Unit_num);
    return;
  }
  if (type != PacketType::dt && unit->FdLog) log_head(unit->FdLog, pkt, type, conv.sign, conv.Blk_cnt);
  switch (type) {
    case PacketType::eh: on_eh(conv, unit, pkt, progress); break;
    case PacketType::et: on_et(conv, unit, pkt, progress); break;
    case PacketType::dt: on_dt(conv, unit, pkt, progress); break;
    case PacketType::nh:
    case PacketType::nt: on_nh_nt(conv, unit, pkt, type, progress); break;
    default: on_state_packet(unit, pkt, type, progress); break;
  }
}

void end_of_input(Conversion& conv) {
  if (conv.options.Qcc_on) {
    for (UnitNode* u : ring_nodes(conv.units.start)) {
      // Only the current unit keeps its QCC file open; each unit's entries go to its own file.
      make_unit_current(conv, u);
      for (EventNode* e : ring_nodes(u->First_evt))
        if (e->First_chan) store_qcc(conv.FdQcc, conv.Blk_cnt, *u, *e, nullptr);
    }
  }
  for (UnitNode* u : ring_nodes(conv.units.start)) {
    for (EventNode* e : ring_nodes(u->First_evt)) {
      if (e->First_chan) close_event(conv, e, true);
      else del_evt_ptr(conv.open, e);
    }
  }
  UnitNode* unit = conv.units.start;
  if (unit && unit->FdLog) {
    // Every unit writes into the same log, so the run's account goes in once.
    conv.damage.write(unit->FdLog, "\r\n");
    conv.outputs.appended.close(unit->FdLog, unit->LogFile);
  }
}

}  // namespace


namespace {

// Takes the channels that could store nothing out of a later segment, which then begins
// with the first of the others; true when none is left, so that it has no files at all.
bool drop_spent_channels(OpenChannels& open, EventNode* evt) {
  bool dropped = false;
  for (ChannelNode* f : ring_nodes(evt->First_chan)) {
    if (!f->limit_spent) continue;
    ChannelNode* before = unlink(f);
    if (evt->First_chan == f) evt->First_chan = before;
    cls_file(open, f);
    delete f;
    dropped = true;
  }
  if (!dropped || !evt->First_chan) return dropped;
  evt->First_smp_time = evt->First_chan->First_smp_time;
  for (const ChannelNode* f : ring_nodes(evt->First_chan))
    if (is_later(evt->First_smp_time, f->First_smp_time)) evt->First_smp_time = f->First_smp_time;
  return false;
}

}  // namespace

void close_event(Conversion& conv, EventNode* evt, bool at_end_of_input) {
  if (drop_spent_channels(conv.open, evt)) return del_evt_ptr(conv.open, evt);
  if (at_end_of_input) conv.writer.closing_at_end_of_input(*evt);
  evt->Chan_each.clear();
  for (const ChannelNode* f : ring_nodes(evt->First_chan)) evt->Chan_each.push_back(f->Chan_num);
  sort_chan(evt);
  // The writer takes the channel data files whole.
  cls_evt_files(conv.open, evt);
  if (conv.writer.places_samples_by_count())
    for (const ChannelNode* f : ring_nodes(evt->First_chan)) conv.damage.segment_closed(*f);
  conv.writer.finish_event(conv.setup, conv.outputs, *evt);
  del_evt_ptr(conv.open, evt);
}

void pk_cvt(Conversion& conv, PacketInput& in) {
  if (conv.options.Verbose) {
    std::printf("\r\n\nBlock     Type      Unit      Event     Stream    Channel");
    std::printf("\r\n\n    0       -          -          -          -          -");
  } else {
    std::printf("\r\n\nMeg:     0");
  }
  conv.open.N_opn_fls = 0;
  conv.Blk_cnt = 0;
  const Progress progress(conv.options, conv.Blk_cnt);
  uint8_t packet[kPacketSize];
  while (read_block(in, packet)) {
    // Stopping between packets leaves every finished event's output complete.
    if (stop_requested()) shut_down(ExitCode::aborted);
    handle_packet(conv, packet, progress);
    ++conv.Blk_cnt;
  }
  conv.damage.input_cut_off(in.partial_bytes);
  end_of_input(conv);
}

}  // namespace pk
