#include "lists.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "pkfile.h"
#include "qcc.h"
#include "records.h"
#include "ring.h"
#include "setup.h"
#include "writer.h"

namespace pk {

namespace {

// Channel data files kept open at once. Ten, as on the recorders' original platform,
// makes an event of more than ten interleaved channels reopen a file for nearly every
// packet; 32 covers the widest event with room to spare, far below the descriptor limit,
// and costs 2 MiB of stream buffers.
constexpr uint16_t kOpenBudget = 32;
// Large enough that a channel's samples reach the disk in few, large writes.
constexpr std::size_t kChannelBuffer = 64 * 1024;

std::string current_directory(Run& run) {
  std::vector<char> buf(4096);
  while (!::getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) {
      std::fputs("\nUnable to get current directory!", stdout);
      exit_run(run, 255);
    }
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

// "%Ns" of a fixed-width text field: leading blanks skipped, stops at the next blank.
std::string scan_word(std::string_view field) {
  std::size_t b = field.find_first_not_of(" \t\r\n\v\f");
  if (b == std::string_view::npos) return {};
  std::size_t e = field.find_first_of(" \t\r\n\v\f", b);
  return std::string(field.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b));
}

// The open budget closes the first open channel met walking backwards from `from`.
void close_one_open_channel(Run& run, File_list_str* from, const File_list_str* keep) {
  if (!from) return;
  File_list_str* f = from;
  do {
    if (f != keep && f->Open) {
      cls_file(run, f);
      return;
    }
    f = f->Prev_file;
  } while (f && f != from);
}

void open_channel_file(Run& run, File_list_str* f) {
  f->Fdout = std::fopen(f->Filename.c_str(), "a+b");
  if (!f->Fdout) {
    std::printf("\n\nERROR!!!!\n   unable to open %s for output.", f->Filename.c_str());
    exit_run(run, 20);
  }
  f->Fdout_buffer.resize(kChannelBuffer);
  std::setvbuf(f->Fdout, f->Fdout_buffer.data(), _IOFBF, f->Fdout_buffer.size());
  f->Open = 1;
  ++run.N_opn_fls;
}

}  // namespace

// ---------------------------------------------------------------- names and directories

std::string channel_base_name(const std::string& time, uint32_t unit, uint32_t strm, uint32_t chan) {
  std::string t = time;
  t.resize(std::max<std::size_t>(t.size(), 16), ' ');
  char buf[128];
  std::snprintf(buf, sizeof buf, "%4.4s_%3.3s_%2.2s_%2.2s_%2.2s_%04hX_%01u_%01u", t.c_str(), t.c_str() + 4,
                t.c_str() + 7, t.c_str() + 9, t.c_str() + 11, static_cast<unsigned short>(unit), strm + 1, chan + 1);
  return buf;
}

namespace {
// The one or two directory levels below the base for a path option; options
// above 4 use the deepest layout.
std::vector<std::string> level_names(uint16_t path_option, const std::string& time) {
  std::string t = time;
  t.resize(std::max<std::size_t>(t.size(), 16), ' ');
  std::vector<std::string> levels;
  if (path_option == 0) return levels;
  levels.push_back(t.substr(0, 4) + "_" + t.substr(4, 3));
  if (path_option == 2) levels.push_back(t.substr(7, 2));
  if (path_option == 3) levels.push_back(t.substr(7, 2) + "_" + t.substr(9, 2));
  if (path_option >= 4) levels.push_back(t.substr(7, 2) + "_" + t.substr(9, 2) + "_" + t.substr(11, 2));
  return levels;
}
}  // namespace

std::string level_dir(uint16_t path_option, const std::string& time) {
  std::string dir;
  for (const auto& l : level_names(path_option, time)) dir += l + "/";
  return dir;
}

std::string make_dir(Run& run, const std::string& name) {
  std::string path = current_directory(run) + "/" + name;
  if (!fexist(path)) ::mkdir(path.c_str(), 0777);
  return path;
}

std::string make_level_dir(Run& run, const std::string& time) {
  std::string dir;
  for (const auto& l : level_names(run.Path_option, time)) {
    dir += l + "/";
    const std::string path = run.Dir + dir;
    if (!fexist(path)) ::mkdir(path.c_str(), 0777);
  }
  return dir;
}

File_list_str* find_channel(Evt_list_str* evt, uint32_t chan, File_list_str* from) {
  return find_in_ring(from ? from : evt->First_chan, [chan](const File_list_str* f) { return f->Chan_num == chan; });
}

// ---------------------------------------------------------------- files

std::FILE* open_file(Run& run, const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "a+b");
  if (!f) shut_down(run, 20, name);
  return f;
}

void cls_file(Run& run, File_list_str* file) {
  if (!file || !file->Open) return;
  file->Open = 0;
  if (run.N_opn_fls) --run.N_opn_fls;
  close_checked(run, file->Fdout, file->Filename);
  file->Fdout_buffer = {};
}

void cls_evt_files(Run& run, Evt_list_str* evt) {
  if (!evt) return;
  for (File_list_str* f : ring_nodes(evt->First_chan)) cls_file(run, f);
}

void create_unit_file(Run& run, Unit_list_str* unit, const uint8_t* /*pkt*/, int kind) {
  if (kind == 0) {
    unit->LogFile = run.Dir + run.File_temp + ".RSH";
    unit->FdLog = open_file(run, unit->LogFile);
    unit->LogOpen = 1;
    fhdr_log(run, unit->FdLog);
  } else {
    char name[32];
    std::snprintf(name, sizeof name, "ID%04hX.QCC", static_cast<unsigned short>(unit->Unit_num));
    unit->QccFile = run.Dir + name;
    unit->FdQcc = open_file(run, unit->QccFile);
    unit->QccOpen = 1;
    fhdr_qcc(run, unit->FdQcc);
  }
}

void close_unit_file(Run& run, Unit_list_str* unit, int kind) {
  if (!unit) return;
  if (kind == 0) {
    unit->LogOpen = 0;
    close_checked(run, unit->FdLog, unit->LogFile);
    cls_evt_files(run, unit->First_evt);
  } else {
    unit->QccOpen = 0;
    close_checked(run, unit->FdQcc, unit->QccFile);
  }
}

// ---------------------------------------------------------------- units

namespace {
void reopen_unit_files(Run& run, Unit_list_str* u) {
  if (run.Log_on && !u->LogOpen) {
    u->FdLog = open_file(run, u->LogFile);
    u->LogOpen = 1;
  }
  if (run.Qcc_on && !u->QccOpen) {
    u->FdQcc = open_file(run, u->QccFile);
    u->QccOpen = 1;
  }
}
}  // namespace

void make_unit_current(Run& run, Unit_list_str* u) {
  if (u == run.start) return;
  close_unit_file(run, run.start, 0);
  if (run.Qcc_on) close_unit_file(run, run.start, 1);
  reopen_unit_files(run, u);
  run.start = u;
}

Unit_list_str* find_unit(Run& run, const uint8_t* pkt) {
  uint32_t id = header_unit_id(pkt);
  if (id == 0) id = 0xFFFF;

  if (Unit_list_str* u = find_in_ring(run.start, [id](const Unit_list_str* n) { return n->Unit_num == id; })) {
    if (u == run.start) return u;
    make_unit_current(run, u);
    if (run.writer) run.writer->unit_selected(run, *u);
    return u;
  }

  auto* u = new Unit_list_str;
  u->Unit_num = id;
  run.Dir = current_directory(run) + "/";
  Unit_list_str* prev = run.start;
  // The previous unit's files go first: all units append to one log file.
  if (prev) {
    if (run.Log_on) close_unit_file(run, prev, 0);
    if (run.Qcc_on) close_unit_file(run, prev, 1);
  }
  link_after(prev, u);
  run.start = u;
  if (run.Log_on) create_unit_file(run, u, pkt, 0);
  if (run.Qcc_on) create_unit_file(run, u, pkt, 1);
  if (run.writer) run.writer->unit_selected(run, *u);
  return u;
}

// ---------------------------------------------------------------- events

Evt_list_str* find_event(Run& run, Unit_list_str* unit, const uint8_t* pkt) {
  const ehet_pkt eh{pkt};
  const uint32_t evt_num = eh.evt_num();
  const uint32_t seq = header_seq_num(pkt);
  const long rate = scan_int(eh.smp_rate(), 0, 4);
  // Only EH and ET packets carry these times; in a DT packet the same bytes are samples.
  const bool carries_times = code_set(pkt) != kDT;
  const PacketTime fst(carries_times ? scan_word(eh.fst_smp_tim()) : std::string());
  const PacketTime lst(carries_times ? scan_word(eh.lst_smp_tim()) : std::string());

  Evt_list_str* cur = unit->First_evt;
  Evt_list_str* evt = nullptr;
  if (cur && cur->Evt_num != evt_num) cls_evt_files(run, cur);
  if (cur && cur->Evt_num == evt_num) {
    evt = cur;
    if (is_later(lst, cur->Latest_time)) cur->Latest_time = lst;
  } else {
    evt = find_in_ring(cur, [evt_num](const Evt_list_str* e) { return e->Evt_num == evt_num; });
  }
  if (!evt) {
    evt = new Evt_list_str;
    link_after(cur, evt);
    evt->Unit_num = unit->Unit_num;
    evt->Evt_num = evt_num;
    evt->Samp_rate = static_cast<float>(rate);
    evt->First_smp_time = fst;
  }

  evt->Unit_pointer = unit;
  if (evt->Seq_num + 1 != seq && evt->Seq_num != 0 && evt->Seq_num != 9999) {
    evt->Out_of_seq = 1;
    if (run.Log_on && unit->FdLog)
      std::fprintf(unit->FdLog, "\nBlock sequence # %d is out of sequence in Event #%d\n\n", static_cast<int>(seq),
                   static_cast<int>(evt_num));
  }
  unit->First_evt = evt;
  evt->Seq_num = seq;
  evt->Station_name = unit->Station_name;
  evt->Network_name = unit->Network_name;
  return evt;
}

// ---------------------------------------------------------------- channel files


File_list_str* create_file(Run& run, Evt_list_str* evt, uint32_t chan, uint32_t /*evt_num*/, uint32_t strm,
                           const std::string& time) {
  const std::string base = channel_base_name(time, evt->Unit_num, strm, chan);
  const std::string dir = run.Dir + make_level_dir(run, time);
  std::string path;
  // With a sample limit of 0 nothing is ever stored, so no data file is made.
  if (run.Samp_cnt != 0) {
    const Temporaries::Created created = run.temps.create(dir, base + ".STD");
    if (!created.ok) {
      std::printf("\n\nERROR!!!!\n   unable to open %s for output.", created.path.c_str());
      exit_run(run, 20);
    }
    path = created.path;
  }
  auto* f = new File_list_str;
  f->Filename = path;
  f->Trash_cnt = run.Trash_cnt;
  return f;
}

File_list_str* find_file(Run& run, Evt_list_str* evt, const uint8_t* pkt) {
  const dt_pkt dt{pkt};
  const uint32_t evt_num = dt.evt_num(), seq = header_seq_num(pkt);
  const uint32_t strm = dt.strm_num(), chan = dt.chan_num();
  if (chan > evt->Chan_last) evt->Chan_last = chan;
  if (evt->Chan_first == 99 || evt->Chan_first > chan) evt->Chan_first = chan;

  const PacketTime time(header_time_string(pkt));
  File_list_str* entry = evt->First_chan;
  File_list_str* f = find_in_ring(entry, [&](const File_list_str* n) {
    return n->Evt_num == evt_num && n->Strm_num == strm && n->Chan_num == chan;
  });
  const bool created = f == nullptr;
  if (created) {
    f = create_file(run, evt, chan, evt_num, strm, time.text());
    link_after(entry, f);
    evt->First_chan = f;
    ++evt->Chan_total;
    evt->Strm_num = strm;
    f->First_smp_time = time;
    f->Next_smp_time = time.text();
    f->Evt_pointer = evt;
    f->Chan_num = chan;
    f->Strm_num = strm;
    f->Evt_num = evt_num;
    evt->Latest_time = time;
    if (!evt->First_smp_time.complete() || !is_later(time, evt->First_smp_time)) evt->First_smp_time = time;
  }

  const int cmp = time.text().compare(f->Next_smp_time);
  run.sign = cmp < 0 ? -1 : (cmp > 0 ? 1 : 0);
  evt->Latest_time = time;
  f->Prev_smp_time = time;
  f->Next_smp_time = time.text();
  add_str_tim(f->Next_smp_time, evt->Samp_rate, dt.nsamp_bcd());
  f->Unit_num = evt->Unit_num;
  f->Evt_num = evt_num;
  f->Seq_num = seq;
  f->Strm_num = strm;
  f->Chan_num = chan;
  f->Station_name = evt->Station_name;
  f->Network_name = evt->Network_name;

  if (!f->Open) {
    if (created) {
      // A new channel always makes room by closing another one of its event.
      if (run.Samp_cnt != 0) {
        close_one_open_channel(run, entry, f);
        open_channel_file(run, f);
      }
      if (run.Qcc_on) init_qcc(*f);
    } else if (fexist(f->Filename)) {
      if (run.N_opn_fls > kOpenBudget) close_one_open_channel(run, entry, f);
      open_channel_file(run, f);
    }
  }

  evt->First_chan = f;

  if (run.Eh_blk == 0) {
    const double secs = seconds_between(f->First_smp_time, f->Prev_smp_time);
    float rate = 0.0f;
    // Packets stamped with the same time give no estimate rather than an infinite rate.
    if (f->Sam_cnt != 0 && secs > 0)
      rate = 1000.0f / static_cast<float>((secs * 1000.0) / static_cast<double>(f->Sam_cnt));
    evt->Samp_rate = rate;
    if (rate != 0.0f) run.Eh_blk = 1;
  }
  return f;
}

// ---------------------------------------------------------------- freeing

void del_evt_ptr(Run& run, Evt_list_str* evt) {
  Unit_list_str* unit = evt->Unit_pointer;
  if (evt->Next_evt == evt || !evt->Next_evt) {
    if (unit && unit->First_evt == evt) unit->First_evt = nullptr;
  } else {
    evt->Prev_evt->Next_evt = evt->Next_evt;
    evt->Next_evt->Prev_evt = evt->Prev_evt;
    if (unit && unit->First_evt == evt) unit->First_evt = evt->Prev_evt;
  }
  for (File_list_str* f : ring_nodes(evt->First_chan)) {
    cls_file(run, f);
    delete f;
  }
  delete evt;
}

void sort_chan(Evt_list_str* evt) {
  const std::size_t n = std::min<std::size_t>(evt->Chan_total, evt->Chan_each.size());
  std::sort(evt->Chan_each.begin(), evt->Chan_each.begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace pk
