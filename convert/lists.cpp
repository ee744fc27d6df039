#include "convert/lists.h"

#include <algorithm>
#include <cerrno>

#include "convert/failure.h"
#include "convert/helpers.h"
#include "common/pkfile.h"
#include "convert/qcc.h"
#include "common/records.h"
#include "convert/ring.h"
#include "convert/run.h"
#include "convert/setup.h"
#include "common/temporary_name.h"
#include "convert/writer.h"

namespace pk {

namespace {

// Channel data files kept open at once. Ten, as on the recorders' original platform,
// makes an event of more than ten interleaved channels reopen a file for nearly every
// packet; 32 covers the widest event with room to spare, far below the descriptor limit,
// and costs 8 MiB of buffers.
constexpr uint16_t kOpenBudget = 32;

// "%Ns" of a fixed-width text field: leading blanks skipped, stops at the next blank.
std::string scan_word(std::string_view field) {
  std::size_t b = field.find_first_not_of(" \t\r\n\v\f");
  if (b == std::string_view::npos) return {};
  std::size_t e = field.find_first_of(" \t\r\n\v\f", b);
  return std::string(field.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b));
}

// The open budget closes the first open channel met walking backwards from `from`.
void close_one_open_channel(OpenChannels& open, ChannelNode* from, const ChannelNode* keep) {
  if (!from) return;
  cls_file(open, find_in_ring(from, [keep](const ChannelNode* f) { return f != keep && f->data.is_open(); },
                              &ChannelNode::Prev_file));
}

void open_channel_file(Conversion& conv, ChannelNode* f) {
  if (!f->data.open(f->Filename, conv.outputs.writes)) {
    const int error = errno;
    shut_down_saying(ExitCode::open_error,
                     format("\n\nERROR!!!!\n   unable to open %s for output.", final_name(f->Filename).c_str()),
                     f->Filename, error);
  }
  ++conv.open.N_opn_fls;
}

void close_stream(std::FILE*& f) {
  if (f) std::fclose(f);
  f = nullptr;
}

}  // namespace

std::string event_bit_weights(const EventNode& evt) {
  if (!evt.Bit_weight.empty()) return evt.Bit_weight;
  if (evt.Unit_pointer && !evt.Unit_pointer->Bit_weight.empty()) return evt.Unit_pointer->Bit_weight;
  return std::string(128, ' ');
}

Units::~Units() {
  for_each_in_ring(start, [](UnitNode* u) {
    close_stream(u->FdLog);
    close_stream(u->FdQcc);
    for_each_in_ring(u->First_evt, [](EventNode* e) {
      for_each_in_ring(e->First_chan, [](ChannelNode* f) { delete f; });
      delete e;
    });
    delete u;
  });
}

std::string channel_base_name(const std::string& time, uint32_t unit, uint32_t strm, uint32_t chan) {
  std::string t = time;
  t.resize(std::max<std::size_t>(t.size(), 16), ' ');
  return format("%4.4s_%3.3s_%2.2s_%2.2s_%2.2s_%04hX_%01u_%01u", t.c_str(), t.c_str() + 4, t.c_str() + 7,
                t.c_str() + 9, t.c_str() + 11, static_cast<unsigned short>(unit), strm + 1, chan + 1);
}

bool own_data_file(const ChannelNode& chan) { return !chan.Filename.empty() && fexist(chan.Filename); }

// ---------------------------------------------------------------- files

void cls_file(OpenChannels& open, ChannelNode* file) {
  if (!file || !file->data.is_open()) return;
  if (open.N_opn_fls) --open.N_opn_fls;
  file->data.close();
}

void cls_evt_files(OpenChannels& open, EventNode* evt) {
  if (!evt) return;
  for (ChannelNode* f : ring_nodes(evt->First_chan)) cls_file(open, f);
}

void close_unit_log(Conversion& conv, UnitNode* unit) {
  if (!unit) return;
  conv.outputs.appended.close(unit->FdLog, unit->LogFile);
  cls_evt_files(conv.open, unit->First_evt);
}

void close_unit_qcc(Conversion& conv, UnitNode* unit) {
  if (unit) conv.outputs.appended.close(unit->FdQcc, unit->QccFile);
}

// ---------------------------------------------------------------- units

namespace {

void create_unit_log(Conversion& conv, UnitNode* unit) {
  unit->LogFile = conv.outputs.Dir + conv.setup.File_temp + ".RSH";
  unit->FdLog = conv.outputs.appended.open(unit->LogFile);
  fhdr_log(conv.setup, unit->FdLog);
}

void create_unit_qcc(Conversion& conv, UnitNode* unit) {
  unit->QccFile = conv.outputs.Dir + format("ID%04hX.QCC", static_cast<unsigned short>(unit->Unit_num));
  unit->FdQcc = conv.outputs.appended.open(unit->QccFile);
  fhdr_qcc(conv.setup, unit->FdQcc);
}

void reopen_unit_files(Conversion& conv, UnitNode* u) {
  if (conv.options.Log_on && !u->FdLog) u->FdLog = conv.outputs.appended.open(u->LogFile);
  if (conv.options.Qcc_on && !u->FdQcc) u->FdQcc = conv.outputs.appended.open(u->QccFile);
}

}  // namespace

void make_unit_current(Conversion& conv, UnitNode* u) {
  UnitNode*& start = conv.units.start;
  if (u == start) return;
  close_unit_log(conv, start);
  if (conv.options.Qcc_on) close_unit_qcc(conv, start);
  reopen_unit_files(conv, u);
  start = u;
}

UnitNode* find_unit(Conversion& conv, const uint8_t* pkt) {
  uint32_t id = header_unit_id(pkt);
  if (id == 0) id = 0xFFFF;
  UnitNode*& start = conv.units.start;
  if (UnitNode* u = find_in_ring(start, [id](const UnitNode* n) { return n->Unit_num == id; })) {
    make_unit_current(conv, u);
    return u;
  }

  auto* u = new UnitNode;
  u->Unit_num = id;
  // The previous unit's files go first: all units append to one log file.
  if (start) {
    if (conv.options.Log_on) close_unit_log(conv, start);
    if (conv.options.Qcc_on) close_unit_qcc(conv, start);
  }
  link_after(start, u);
  start = u;
  if (conv.options.Log_on) create_unit_log(conv, u);
  if (conv.options.Qcc_on) create_unit_qcc(conv, u);
  conv.writer.unit_created(conv.setup, *u);
  return u;
}

// ---------------------------------------------------------------- events

EventNode* find_event(OpenChannels& open, UnitNode* unit, const uint8_t* pkt) {
  const ehet_pkt eh{pkt};
  const uint32_t evt_num = eh.evt_num();
  const uint32_t seq = header_seq_num(pkt);
  // Only EH and ET packets carry these times; in a DT packet the same bytes are samples.
  const bool carries_times = code_set(pkt) != PacketType::dt;
  const PacketTime fst(carries_times ? scan_word(eh.fst_smp_tim()) : std::string());
  const PacketTime lst(carries_times ? scan_word(eh.lst_smp_tim()) : std::string());

  EventNode* cur = unit->First_evt;
  EventNode* evt = nullptr;
  if (cur && cur->Evt_num != evt_num) cls_evt_files(open, cur);
  if (cur && cur->Evt_num == evt_num) {
    evt = cur;
    if (is_later(lst, cur->Latest_time)) cur->Latest_time = lst;
  } else {
    evt = find_in_ring(cur, [evt_num](const EventNode* e) { return e->Evt_num == evt_num; });
  }
  if (!evt) {
    evt = new EventNode;
    link_after(cur, evt);
    evt->Unit_num = unit->Unit_num;
    evt->Evt_num = evt_num;
    // In an event begun by a DT packet this reads sample bytes; a number there stands
    // until the event's first estimate.
    evt->Samp_rate = static_cast<float>(scan_int(eh.smp_rate(), 0, 4));
    evt->First_smp_time = fst;
  }

  evt->Unit_pointer = unit;
  if (evt->Seq_num + 1 != seq && evt->Seq_num != 0 && evt->Seq_num != 9999) {
    evt->Out_of_seq = true;
    if (unit->FdLog)
      std::fprintf(unit->FdLog, "\nBlock sequence # %d is out of sequence in Event #%d\n\n", static_cast<int>(seq),
                   static_cast<int>(evt_num));
  }
  unit->First_evt = evt;
  evt->Seq_num = seq;
  return evt;
}

// ---------------------------------------------------------------- channel files

namespace {

bool can_store(const Conversion& conv, const ChannelNode& f) { return conv.options.sample_limit != 0 && !f.limit_spent; }

ChannelNode* create_file(Conversion& conv, EventNode* evt, uint32_t evt_num, uint32_t strm, uint32_t chan,
                           const PacketTime& time) {
  auto* f = new ChannelNode;
  f->Unit_num = evt->Unit_num;
  f->Evt_num = evt_num;
  f->Strm_num = strm;
  f->Chan_num = chan;
  f->discard_count = conv.options.discard_count;
  // A channel of a later segment goes on where the event's earlier segments left it.
  for (const ChannelCarry& c : evt->carried) {
    if (c.Strm_num != strm || c.Chan_num != chan) continue;
    f->discard_count = c.discard_count;
    f->stored_before = c.stored_before;
  }
  f->limit_spent = !evt->event_start.text().empty() && f->stored_before >= conv.options.sample_limit;
  const std::string dir = make_output_dir(conv.outputs, time.text());
  // With a sample limit of 0 nothing is ever stored, so no data file is made.
  if (can_store(conv, *f))
    f->Filename = conv.writer.create_channel_data(conv.setup, conv.outputs, dir,
                                                  channel_base_name(time.text(), evt->Unit_num, strm, chan));
  f->First_smp_time = time;
  f->Next_smp_time = time.text();
  f->Evt_pointer = evt;
  return f;
}

// A new channel always makes room by closing another one of its event; an existing one
// reopens when the budget allows.
void open_for_appending(Conversion& conv, ChannelNode* f, ChannelNode* entry, bool created) {
  if (f->data.is_open()) return;
  if (created) {
    if (can_store(conv, *f)) {
      close_one_open_channel(conv.open, entry, f);
      open_channel_file(conv, f);
    }
    if (conv.options.Qcc_on) init_qcc(*f);
  } else if (fexist(f->Filename)) {
    if (conv.open.N_opn_fls > kOpenBudget) close_one_open_channel(conv.open, entry, f);
    open_channel_file(conv, f);
  }
}

// Samples stored over the time the channel's packets span so far.
void estimate_rate(EventNode* evt, const ChannelNode* f) {
  const double secs = seconds_between(f->First_smp_time, f->Prev_smp_time);
  float rate = 0.0f;
  // Packets stamped with the same time give no estimate rather than an infinite rate.
  if (f->stored != 0 && secs > 0) rate = 1000.0f / static_cast<float>((secs * 1000.0) / static_cast<double>(f->stored));
  evt->Samp_rate = rate;
  evt->rate_known = rate != 0.0f;
}

}  // namespace

ChannelNode* find_file(Conversion& conv, EventNode* evt, const uint8_t* pkt) {
  const dt_pkt dt{pkt};
  const uint32_t evt_num = dt.evt_num(), strm = dt.strm_num(), chan = dt.chan_num();
  const PacketTime time(header_time_string(pkt));
  ChannelNode* entry = evt->First_chan;
  ChannelNode* f = find_in_ring(entry, [&](const ChannelNode* n) {
    return n->Evt_num == evt_num && n->Strm_num == strm && n->Chan_num == chan;
  });
  const bool created = f == nullptr;
  if (created) {
    f = create_file(conv, evt, evt_num, strm, chan, time);
    link_after(entry, f);
    evt->First_chan = f;
    evt->Strm_num = strm;
    if (!evt->First_smp_time.complete() || !is_later(time, evt->First_smp_time)) evt->First_smp_time = time;
  }

  const int cmp = time.text().compare(f->Next_smp_time);
  conv.sign = cmp < 0 ? -1 : (cmp > 0 ? 1 : 0);
  evt->Latest_time = time;
  f->Prev_smp_time = time;
  f->Next_smp_time = time.text();
  add_str_tim(f->Next_smp_time, evt->Samp_rate, dt.nsamp_bcd());
  open_for_appending(conv, f, entry, created);
  evt->First_chan = f;
  if (!evt->rate_known) estimate_rate(evt, f);
  return f;
}

// ---------------------------------------------------------------- freeing

void del_evt_ptr(OpenChannels& open, EventNode* evt) {
  EventNode* before = unlink(evt);
  UnitNode* unit = evt->Unit_pointer;
  if (unit && unit->First_evt == evt) unit->First_evt = before;
  for (ChannelNode* f : ring_nodes(evt->First_chan)) {
    cls_file(open, f);
    delete f;
  }
  delete evt;
}

void sort_chan(EventNode* evt) {
  std::sort(evt->Chan_each.begin(), evt->Chan_each.end());
}

}  // namespace pk
