#include "segy_writer.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "byte_order.h"
#include "output_file.h"
#include "pkfile.h"
#include "setup.h"
#include "shot_points.h"

namespace pk::segy {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

constexpr std::size_t kCopyBlock = 64 * 1024;
// Gather headers carry 1 instead of implausibly short intervals.
constexpr uint32_t kShortestGatherInterval = 30;
constexpr float kDefaultRate = 1000.0f;

void write_at(Run& run, std::FILE* f, const std::string& path, long offset, const uint8_t* data, std::size_t n) {
  if (std::fseek(f, offset, SEEK_SET) != 0 || std::fwrite(data, 1, n, f) != n) shut_down(run, 22, path);
}

void write_all(Run& run, std::FILE* f, const std::string& path, const uint8_t* data, std::size_t n) {
  if (std::fwrite(data, 1, n, f) != n) shut_down(run, 22, path);
}

// A lost write must not pass silently: closing is where buffered data reaches the disk.
void close_written(Run& run, FilePtr& f, const std::string& path) {
  const bool failed = std::ferror(f.get()) != 0;
  const int rc = std::fclose(f.release());
  if (failed || rc != 0) shut_down(run, 22, path);
}

void write_zeros(Run& run, std::FILE* f, const std::string& path, uint64_t n) {
  static const uint8_t zeros[kCopyBlock] = {};
  while (n > 0) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<uint64_t>(n, kCopyBlock));
    write_all(run, f, path, zeros, chunk);
    n -= chunk;
  }
}

// One block's samples (big-endian) widen the trace's range; the first sample of the trace
// starts it. The loop body has no branch on `first` so it stays a plain min/max scan.
void widen_range(TracePass& pass, const uint8_t* bytes, std::size_t n, bool& first) {
  const std::size_t samples = n / kSampleSize;
  if (samples == 0) return;
  auto at = [bytes](std::size_t i) { return be_i32(bytes + i * kSampleSize); };
  int32_t lo = first ? at(0) : pass.min;
  int32_t hi = first ? at(0) : pass.max;
  first = false;
  for (std::size_t i = 0; i < samples; ++i) {
    const int32_t v = at(i);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  pass.min = lo;
  pass.max = hi;
}

// Copies up to `max_bytes` from src to dst; returns how many bytes there were to copy.
// Samples passing through widen `pass`'s range when `pass` is given.
uint64_t copy_block_wise(Run& run, std::FILE* src, const std::string& src_path, std::FILE* dst,
                         const std::string& dst_path, uint64_t max_bytes, TracePass* pass) {
  std::vector<uint8_t> buf(kCopyBlock);
  uint64_t copied = 0;
  bool first_sample = true;
  while (copied < max_bytes) {
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(max_bytes - copied, kCopyBlock));
    const std::size_t got = std::fread(buf.data(), 1, want, src);
    if (got == 0) break;
    if (pass) widen_range(*pass, buf.data(), got, first_sample);
    write_all(run, dst, dst_path, buf.data(), got);
    copied += got;
    if (got < want) break;
  }
  if (std::ferror(src)) shut_down(run, 21, src_path);
  return copied;
}

float event_rate(Evt_list_str& evt) {
  // A rate that is not a positive number cannot give an interval; the recorder's usual
  // 1000 samples per second stands in for it, as for a missing rate.
  if (!(evt.Samp_rate > 0.0f)) evt.Samp_rate = kDefaultRate;
  return evt.Samp_rate;
}

// The event's channels in ascending channel order; equal numbers keep their ring order.
std::vector<File_list_str*> channels_in_order(Evt_list_str& evt, File_list_str* from) {
  std::vector<File_list_str*> out;
  File_list_str* first = from ? from : evt.First_chan;
  for (File_list_str* f = first; f != nullptr;) {
    out.push_back(f);
    f = f->Next_file;
    if (f == first) break;
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const File_list_str* a, const File_list_str* b) { return a->Chan_num < b->Chan_num; });
  return out;
}

void report_gather_open_failure(const std::string& path) {
  std::fprintf(stderr, "\r\nCannot open '%s' for output.", path.c_str());
}

}  // namespace

std::string trace_file_name(const std::string& evt_time, uint32_t unit, uint32_t strm, uint32_t chan,
                            bool file_header) {
  const char* t = evt_time.c_str();
  const std::size_t n = evt_time.size();
  // %.Ns never reads past the string's end, so a short time string stays safe.
  auto part = [&](std::size_t off) { return off < n ? t + off : ""; };
  char buf[128];
  std::snprintf(buf, sizeof buf, "%4.4s_%3.3s_%2.2s_%2.2s_%2.2s_%05hX_%01u_%01u.%3.3s", part(0), part(4), part(7),
                part(9), part(11), static_cast<unsigned short>(unit), strm + 1, chan + 1,
                file_header ? "SGY" : "RSY");
  return buf;
}

std::string shot_gather_name(const std::string& trace_name) { return trace_name.substr(0, 25) + ".EGY"; }

std::string receiver_gather_name(const std::string& trace_name) { return trace_name.substr(0, 23) + ".RGY"; }

uint16_t trace_name_unit(const std::string& trace_name) {
  if (trace_name.size() < 23) return 0;
  const std::string hex = trace_name.substr(18, 5);
  return static_cast<uint16_t>(std::strtoul(hex.c_str(), nullptr, 16));
}

void SegyWriter::tfhdr_prg(Run& run, std::FILE* f, const std::string& path) {
  fill_file_header(Theader);
  write_all(run, f, path, Theader.data(), Theader.size());
}

void SegyWriter::hfhdr_prg(Run& run, std::FILE* f, const std::string& path, Evt_list_str& evt,
                           const File_list_str& chan) {
  TraceIdentity id;
  id.chan = chan.Chan_num;
  id.evt_num = evt.Evt_num;
  id.unit = static_cast<uint16_t>(evt.Unit_num);
  id.sp = Sp;
  id.start = parse_start_time(evt.First_smp_time.text());
  id.scale = channel_scale(run.Bit_weight, chan.Chan_num);
  fill_trace_header(Hheader, id);
  write_all(run, f, path, Hheader.data(), Hheader.size());
}

void SegyWriter::proc_search_f(Run& run, std::FILE* f, const std::string& path, const TracePass& pass) {
  set_file_header_pass(Theader, pass.interval, pass.count);
  write_at(run, f, path, fh::smp_invl_reel, &Theader[fh::smp_invl_reel], fh::data_smp - fh::smp_invl_reel);
  write_at(run, f, path, fh::smp_invl_reel32, &Theader[fh::smp_invl_reel32],
           fh::smp_num_recd32 + 4 - fh::smp_invl_reel32);
}

void SegyWriter::proc_search_t(Run& run, std::FILE* f, const std::string& path, const TracePass& pass) {
  set_trace_header_pass(Hheader, pass);
  const long base = static_cast<long>(Segy_file_len);
  write_at(run, f, path, base + th::num_smp, &Hheader[th::num_smp], 4);
  write_at(run, f, path, base + th::smp_intvl32, &Hheader[th::smp_intvl32], 4);
  write_at(run, f, path, base + th::num_smp32, &Hheader[th::num_smp32], kTraceHeaderSize - th::num_smp32);
}

void SegyWriter::update_shot_point(const Run& run, const Evt_list_str& evt) {
  const auto list =
      shot_point_list(read_settings_text(run.FileIni).value_or(""), static_cast<uint16_t>(evt.Unit_num));
  if (const auto sp = find_shot_point(list, shot_time_of(evt.First_smp_time.text()))) Sp = *sp;
}

TraceFile SegyWriter::write_trace(Run& run, Evt_list_str& evt, File_list_str& chan, const std::string& directory) {
  const bool file_header = run.Flag_info.file_header_output != 0;
  const std::string name =
      trace_file_name(evt.First_smp_time.text(), evt.Unit_num, chan.Strm_num, chan.Chan_num, file_header);
  const std::string path = create_temporary(run, directory, name);
  FilePtr out(std::fopen(path.c_str(), "w+b"));
  if (!out) shut_down(run, 20, path);
  if (file_header) tfhdr_prg(run, out.get(), path);
  hfhdr_prg(run, out.get(), path, evt, chan);

  TracePass pass;
  pass.interval = sample_interval(event_rate(evt));
  // The channel node's own file: a name re-formed from the time could be another event's.
  if (own_data_file(chan)) {
    cls_file(run, &chan);
    FilePtr in(std::fopen(chan.Filename.c_str(), "rb"));
    if (!in) shut_down(run, 20, chan.Filename);
    const uint64_t bytes = copy_block_wise(run, in.get(), chan.Filename, out.get(), path,
                                           uint64_t{chan.Sam_cnt} * kSampleSize, &pass);
    // Counts describe what the trace really holds, even if the data file came up short.
    pass.count = static_cast<uint32_t>(bytes / kSampleSize);
    in.reset();
    run.temps.remove(chan.Filename);
  }

  if (file_header) {
    proc_search_f(run, out.get(), path, pass);
    Segy_file_len = kFileHeaderSize;
  }
  proc_search_t(run, out.get(), path, pass);
  close_written(run, out, path);
  return {name, path};
}

// The event's trace files and shot gathers are published together once all are whole.
void SegyWriter::merge_file_pc(Run& run, Evt_list_str& evt, File_list_str* file) {
  update_shot_point(run, evt);
  const std::string directory = run.Dir + make_level_dir(run, evt.First_smp_time.text());
  std::vector<TraceFile> traces;
  for (File_list_str* chan : channels_in_order(evt, file)) traces.push_back(write_trace(run, evt, *chan, directory));
  Shot_info.clear();
  if (run.Flag_info.shot_gather || run.Flag_info.recv_gather) gathering(run, directory, traces);
  std::vector<Pending> outputs;
  for (const TraceFile& t : traces)
    if (!t.gathered) outputs.push_back({t.path, t.name});
  for (const auto& [name, temporary] : Shot_info) outputs.push_back({temporary, name});
  Shot_info.clear();
  publish(run, directory, outputs);
}

void SegyWriter::finish(Run& run) {
  for (const auto& [uid, gather] : Recv_info) publish(run, gather.directory, {{gather.temporary, gather.name}});
  Recv_info.clear();
}

void SegyWriter::gathering(Run& run, const std::string& directory, std::vector<TraceFile>& traces) {
  for (TraceFile& t : traces) {
    const std::string& path = t.path;
    FilePtr trace(std::fopen(path.c_str(), "rb"));
    if (!trace) {
      report_gather_open_failure(path);
      return;
    }
    if (run.Flag_info.file_header_output && std::fseek(trace.get(), kFileHeaderSize, SEEK_SET) != 0)
      shut_down(run, 21, path);
    const bool gathered = update_file(run, trace.get(), t, directory);
    trace.reset();
    // A trace whose gather could not be opened stays as it is rather than being lost.
    if (gathered) run.temps.remove(path);
    t.gathered = gathered;
  }
}

std::optional<std::string> SegyWriter::gather_file(Run& run, const std::string& directory,
                                                   const std::string& trace_name, bool& is_new) {
  const bool receiver = run.Flag_info.recv_gather != 0;
  const uint16_t uid = trace_name_unit(trace_name);
  const std::string name = receiver ? receiver_gather_name(trace_name) : shot_gather_name(trace_name);
  if (receiver) {
    if (const auto held = Recv_info.find(uid); held != Recv_info.end()) return held->second.temporary;
  } else if (const auto held = Shot_info.find(name); held != Shot_info.end()) {
    return held->second;
  }

  const Temporaries::Created temporary = run.temps.create(directory, name);
  FilePtr created(temporary.ok ? std::fopen(temporary.path.c_str(), "wb") : nullptr);
  if (!created) {
    report_gather_open_failure(temporary.path);
    return std::nullopt;
  }
  proc_clean();
  tfhdr_prg(run, created.get(), temporary.path);
  close_written(run, created, temporary.path);
  is_new = true;
  if (receiver) Recv_info[uid] = {temporary.path, directory, name};
  else Shot_info[name] = temporary.path;
  return temporary.path;
}

bool SegyWriter::update_file(Run& run, std::FILE* trace, const TraceFile& trace_file, const std::string& directory) {
  const std::string& trace_path = trace_file.path;
  title_header_info t{};
  const std::size_t got = std::fread(t.data(), 1, t.size(), trace);
  if (got == 0) return true;  // an empty trace file has nothing to add
  if (got != t.size()) shut_down(run, 20, trace_path);
  const uint32_t interval = be_u32(&t[th::smp_intvl32]);
  const uint32_t count = be_u32(&t[th::num_smp32]);

  const bool receiver = run.Flag_info.recv_gather != 0;
  bool is_new = false;
  const std::optional<std::string> gather_path = gather_file(run, directory, trace_file.name, is_new);
  if (!gather_path) return false;
  const std::string& path = *gather_path;

  FilePtr gather(std::fopen(path.c_str(), "r+b"));
  if (!gather) {
    report_gather_open_failure(path);
    return false;
  }
  file_header_info g{};
  const std::size_t head = std::fread(g.data(), 1, g.size(), gather.get());
  if (head != 0 && head != g.size()) shut_down(run, 20, path);
  if (head == 0) {
    fill_file_header(g);
    is_new = true;
  }

  if (receiver && !is_new) put_be16(&g[fh::data_Tra_evtnum], be_u16(&g[fh::data_Tra_evtnum]) + 1);
  uint32_t gather_count = be_u32(&g[fh::smp_num_data32]);
  if (gather_count == 0) gather_count = count;
  const uint16_t gather_interval16 = interval < kShortestGatherInterval ? 1 : interval16(interval);
  put_be16(&g[fh::smp_invl_reel], gather_interval16);
  put_be16(&g[fh::smp_invl_org], gather_interval16);
  put_be32(&g[fh::smp_invl_reel32], interval);
  put_be32(&g[fh::smp_invl_org32], interval);
  put_be16(&g[fh::smp_num_date], count16(gather_count));
  put_be16(&g[fh::smp_num_recd], count16(gather_count));
  put_be32(&g[fh::smp_num_data32], gather_count);
  put_be32(&g[fh::smp_num_recd32], gather_count);
  if (!receiver) {
    put_be16(&t[th::num_smp], count16(gather_count));
    put_be32(&t[th::num_smp32], gather_count);
  }

  write_at(run, gather.get(), path, 0, g.data(), g.size());
  if (std::fseek(gather.get(), 0, SEEK_END) != 0) shut_down(run, 22, path);
  write_all(run, gather.get(), path, t.data(), t.size());

  // A shot gather holds every trace at the gather's length: cut longer ones, pad shorter
  // ones with zero samples.
  const uint64_t wanted = uint64_t{receiver ? count : std::min(gather_count, count)} * kSampleSize;
  const uint64_t copied = copy_block_wise(run, trace, trace_path, gather.get(), path, wanted, nullptr);
  uint64_t padding = wanted - copied;
  if (!receiver && gather_count > count) padding += uint64_t{gather_count - count} * kSampleSize;
  write_zeros(run, gather.get(), path, padding);
  close_written(run, gather, path);
  return true;
}

}  // namespace pk::segy
