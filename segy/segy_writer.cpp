#include "segy/segy_writer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "common/byte_order.h"
#include "convert/failure.h"
#include "convert/helpers.h"
#include "convert/output_file.h"
#include "common/pkfile.h"
#include "convert/raw_file.h"
#include "convert/ring.h"
#include "segy/shot_points.h"
#include "common/temporary_name.h"

namespace pk::segy {

namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;
// Gather headers carry 1 instead of implausibly short intervals.
constexpr uint32_t kShortestGatherInterval = 30;
constexpr float kDefaultRate = 1000.0f;

void write_at(std::FILE* f, const std::string& path, long offset, const uint8_t* data, std::size_t n) {
  if (std::fseek(f, offset, SEEK_SET) != 0 || std::fwrite(data, 1, n, f) != n)
    shut_down(ExitCode::write_error, path, errno);
}

void write_all(std::FILE* f, const std::string& path, const uint8_t* data, std::size_t n) {
  if (std::fwrite(data, 1, n, f) != n) shut_down(ExitCode::write_error, path, errno);
}

void write_zeros(std::FILE* f, const std::string& path, uint64_t n) {
  static const uint8_t zeros[kCopyBlock] = {};
  while (n > 0) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<uint64_t>(n, kCopyBlock));
    write_all(f, path, zeros, chunk);
    n -= chunk;
  }
}

// Copies up to `max_bytes` from src to dst; returns how many bytes there were to copy.
uint64_t copy_block_wise(std::FILE* src, const std::string& src_path, std::FILE* dst,
                         const std::string& dst_path, uint64_t max_bytes) {
  std::vector<uint8_t> buf(kCopyBlock);
  uint64_t copied = 0;
  while (copied < max_bytes) {
    const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(max_bytes - copied, kCopyBlock));
    const std::size_t got = std::fread(buf.data(), 1, want, src);
    if (got == 0) break;
    write_all(dst, dst_path, buf.data(), got);
    copied += got;
    if (got < want) break;
  }
  if (std::ferror(src)) shut_down(ExitCode::read_error, src_path, errno);
  return copied;
}

std::size_t header_room(bool file_header) { return (file_header ? kFileHeaderSize : 0) + kTraceHeaderSize; }

// Writes a trace file's head in place. A data file without all the samples the engine
// appended can only have been cut short from outside: a read error.
void put_head(const std::string& path, const std::vector<uint8_t>& head, uint64_t data_file_size) {
  RawFile f(path, RawFile::Mode::write);
  if (f.size() < data_file_size) shut_down(ExitCode::read_error, path, "shorter than the samples written into it");
  f.write_at(0, head);
  f.close();
}

float event_rate(EventNode& evt) {
  // A rate that is not a positive number cannot give an interval; the recorder's usual
  // 1000 samples per second stands in for it, as for a missing rate.
  if (!(evt.Samp_rate > 0.0f)) evt.Samp_rate = kDefaultRate;
  return evt.Samp_rate;
}

// The event's channels in ascending channel order; equal numbers keep their ring order.
std::vector<ChannelNode*> channels_in_order(const EventNode& evt) {
  std::vector<ChannelNode*> out = ring_nodes(evt.First_chan);
  std::stable_sort(out.begin(), out.end(),
                   [](const ChannelNode* a, const ChannelNode* b) { return a->Chan_num < b->Chan_num; });
  return out;
}

// A gather that cannot be written whole fails the run: the event's other files are not
// published, so neither a short gather nor its traces as loose files stand in for it,
// and an earlier run's whole gather stays.
[[noreturn]] void gather_open_failed(Failure failure) {
  failure.notice = "\r\nCannot open '" + failure.path + "' for output.\n";
  throw failure;
}

}  // namespace

std::string trace_file_name(const std::string& evt_time, uint32_t unit, uint32_t strm, uint32_t chan,
                            bool file_header) {
  const char* t = evt_time.c_str();
  const std::size_t n = evt_time.size();
  // %.Ns never reads past the string's end, so a short time string stays safe.
  auto part = [&](std::size_t off) { return off < n ? t + off : ""; };
  return format("%4.4s_%3.3s_%2.2s_%2.2s_%2.2s_%05hX_%01u_%01u.%3.3s", part(0), part(4), part(7), part(9), part(11),
                static_cast<unsigned short>(unit), strm + 1, chan + 1, file_header ? "SGY" : "RSY");
}

std::string shot_gather_name(const std::string& trace_name) { return trace_name.substr(0, 25) + ".EGY"; }

std::string receiver_gather_name(const std::string& trace_name) { return trace_name.substr(0, 23) + ".RGY"; }

uint16_t trace_name_unit(const std::string& trace_name) {
  if (trace_name.size() < 23) return 0;
  const std::string hex = trace_name.substr(18, 5);
  return static_cast<uint16_t>(std::strtoul(hex.c_str(), nullptr, 16));
}

std::vector<uint8_t> SegyWriter::trace_file_head(bool file_header, const EventNode& evt,
                                                 const ChannelNode& chan, const TracePass& pass) {
  std::vector<uint8_t> head;
  if (file_header) {
    FileHeader file_hd{};
    fill_file_header(file_hd);
    set_file_header_pass(file_hd, pass.interval, pass.count);
    head.assign(file_hd.begin(), file_hd.end());
  }
  TraceIdentity id;
  id.chan = chan.Chan_num;
  id.evt_num = evt.Evt_num;
  id.unit = static_cast<uint16_t>(evt.Unit_num);
  id.sp = Sp;
  // After a sequence break each channel begins at whichever of its packets came first:
  // each trace starts at its own first sample.
  id.start = parse_start_time((evt.channels_apart ? chan.First_smp_time : evt.First_smp_time).text());
  id.scale = channel_scale(event_bit_weights(evt), chan.Chan_num);
  TraceHeader trace_hd{};
  fill_trace_header(trace_hd, id);
  set_trace_header_pass(trace_hd, pass);
  head.insert(head.end(), trace_hd.begin(), trace_hd.end());
  return head;
}

std::optional<std::string> SegyWriter::apply_switch(Options&, const std::string& arg) {
  const char c = arg.size() > 2 ? static_cast<char>(std::toupper(static_cast<unsigned char>(arg[2]))) : '\0';
  if (std::toupper(static_cast<unsigned char>(arg[1])) == 'G') {
    flags.recv_gather = c == 'R';
    flags.shot_gather = c == 'S';
  } else if (c == 'Y' || c == '+') {
    flags.file_header_output = true;
  }
  return std::nullopt;
}

std::string SegyWriter::usage_leading(const Options&) const {
  std::string s;
  s += format("\r\n   -Gc     output Gathered file                                   (%c/%c)",
              flags.recv_gather ? 'R' : 'N', flags.shot_gather ? 'S' : 'N');
  s += "\r\n             R       = receiver gather file                                 ";
  s += "\r\n             S       = shot gather file                                     ";
  s += "\r\n             N or -  = do not gather                                        ";
  s += format("\r\n   -Hc     output file Header                                     (%c/%c)",
              flags.file_header_output ? 'Y' : 'N', flags.file_header_output ? '+' : '-');
  s += "\r\n             Y or + = output file header                                    ";
  s += "\r\n             N or - = do not output file header                             ";
  return s;
}

void SegyWriter::closing_at_end_of_input(EventNode& evt) const {
  if (evt.Samp_rate == 0.0f) evt.Samp_rate = 1000.0f;
}

std::size_t SegyWriter::channel_head_room(const Options&) const { return header_room(flags.file_header_output); }

// The settings file was read once; each unit's list is built the first time it is needed.
void SegyWriter::update_shot_point(const SettingsFile& settings, const EventNode& evt) {
  const auto unit = static_cast<uint16_t>(evt.Unit_num);
  auto list = shot_lists_.find(unit);
  if (list == shot_lists_.end())
    list = shot_lists_.emplace(unit, shot_point_list(settings.text.value_or(""), unit)).first;
  // A later segment of an event keeps the shot point of the event's start.
  const PacketTime& start = evt.event_start.text().empty() ? evt.First_smp_time : evt.event_start;
  if (const auto sp = find_shot_point(list->second, shot_time_of(start.text()))) Sp = *sp;
}

// A trace file is its channel's data file with the headers written into the room at its
// head, renamed into the trace's temporary in the event's directory: the samples are
// written once. A channel without a data file gets a trace file of headers only.
TraceFile SegyWriter::write_trace(Outputs& out, const flag_strc& flags, EventNode& evt, ChannelNode& chan,
                                  const std::string& directory) {
  const bool file_header = flags.file_header_output;
  const std::string name =
      trace_file_name(evt.First_smp_time.text(), evt.Unit_num, chan.Strm_num, chan.Chan_num, file_header);
  TracePass pass;
  pass.interval = sample_interval(event_rate(evt));
  // The channel node's own file: a name re-formed from the time could be another event's.
  const bool has_data = own_data_file(chan);
  if (has_data && chan.stored > 0) {
    pass.count = chan.stored;
    pass.min = chan.smallest;
    pass.max = chan.largest;
  }
  if (pass.count > kMaxCount16) ++long_traces_;
  const std::vector<uint8_t> head = trace_file_head(file_header, evt, chan, pass);
  if (!has_data) {
    const std::string path = create_temporary(out, directory, name);
    put_head(path, head, 0);
    return {name, path};
  }
  put_head(chan.Filename, head, head.size() + uint64_t{pass.count} * kSampleSize);
  const std::string path = move_temporary(out, chan.Filename, directory, name);
  chan.Filename.clear();
  return {name, path};
}

// The event's trace files and shot gathers are published together once all are whole.
void SegyWriter::finish_event(const RunSetup& run, Outputs& out, EventNode& evt) {
  update_shot_point(run.settings, evt);
  const std::string directory = make_output_dir(out, evt.First_smp_time.text());
  std::vector<TraceFile> traces;
  for (ChannelNode* chan : channels_in_order(evt)) traces.push_back(write_trace(out, flags, evt, *chan, directory));
  Shot_info.clear();
  if (flags.shot_gather || flags.recv_gather) gathering(out, flags, directory, traces);
  std::vector<Pending> outputs;
  for (const TraceFile& t : traces)
    if (!t.gathered) outputs.push_back({t.path, t.name});
  for (const auto& [name, temporary] : Shot_info) outputs.push_back({temporary, name});
  Shot_info.clear();
  publish(out, directory, outputs);
}

void SegyWriter::finish(Outputs& out) {
  for (const auto& [uid, gather] : Recv_info) publish(out, gather.directory, {{gather.temporary, gather.name}});
  Recv_info.clear();
}

void SegyWriter::write_notes(std::FILE* out) const {
  if (long_traces_ == 0) return;
  std::fprintf(out,
               "NOTE: %lu trace%s more than %u samples; general SEG-Y readers read at most %u samples per trace. "
               "The full count is the 32-bit field at byte %zu of the trace header (counted from 0, in its last 60 "
               "bytes; byte %zu of a .SGY file)\n",
               long_traces_, long_traces_ == 1 ? " holds" : "s hold", kMaxCount16, kMaxCount16, at(kTrSampleCount32),
               kFileHeaderSize + at(kTrSampleCount32));
}

void SegyWriter::gathering(Outputs& out, const flag_strc& flags, const std::string& directory,
                           std::vector<TraceFile>& traces) {
  for (TraceFile& t : traces) {
    const std::string& path = t.path;
    FilePtr trace(std::fopen(path.c_str(), "rb"));
    if (!trace) gather_open_failed(fatal_failure(ExitCode::open_error, path, errno));
    if (flags.file_header_output && std::fseek(trace.get(), kFileHeaderSize, SEEK_SET) != 0)
      shut_down(ExitCode::read_error, path, errno);
    update_file(out, flags.recv_gather, trace.get(), t, directory);
    trace.reset();
    out.temps.remove(path);
    t.gathered = true;
  }
}

std::string SegyWriter::gather_file(Outputs& out, bool receiver, const std::string& directory,
                                                   const std::string& trace_name) {
  const uint16_t uid = trace_name_unit(trace_name);
  const std::string name = receiver ? receiver_gather_name(trace_name) : shot_gather_name(trace_name);
  if (receiver) {
    if (const auto held = Recv_info.find(uid); held != Recv_info.end()) return held->second.temporary;
  } else if (const auto held = Shot_info.find(name); held != Shot_info.end()) {
    return held->second;
  }

  // Created empty: the first trace appended writes the file header.
  const Temporaries::Created temporary = out.temps.create(directory, name);
  if (!temporary.ok) gather_open_failed(creation_failure(temporary, temporary.path));
  if (receiver) Recv_info[uid] = {temporary.path, directory, name};
  else Shot_info[name] = temporary.path;
  return temporary.path;
}

namespace {

// The trace's interval and count go into the gather's file header; a shot gather keeps
// its first trace's count, and the trace header takes it too. Returns the gather count.
uint32_t update_gather_headers(FileHeader& g, TraceHeader& t, bool receiver, bool is_new) {
  const uint32_t interval = be_u32(&t[at(kTrSampleInterval32)]);
  const uint32_t count = be_u32(&t[at(kTrSampleCount32)]);
  if (receiver && !is_new) put_be16(&g[at(kBinTracesPerEnsemble)], be_u16(&g[at(kBinTracesPerEnsemble)]) + 1);
  uint32_t gather_count = be_u32(&g[at(kBinSamplesPerTrace32)]);
  if (gather_count == 0) gather_count = count;
  set_file_header_pass(g, interval, gather_count);
  const uint16_t gather_interval16 = interval < kShortestGatherInterval ? 1 : interval16(interval);
  put_be16(&g[at(kBinSampleInterval)], gather_interval16);
  put_be16(&g[at(kBinSampleIntervalOriginal)], gather_interval16);
  if (!receiver) {
    put_be16(&t[at(kTrSampleCount)], count16(gather_count));
    put_be32(&t[at(kTrSampleCount32)], gather_count);
  }
  return gather_count;
}

// A shot gather holds every trace at the gather's length: longer ones are cut, shorter
// ones padded with zero samples.
void append_samples(std::FILE* trace, const std::string& trace_path, std::FILE* gather, const std::string& path,
                    uint32_t count, uint32_t gather_count, bool receiver) {
  const uint64_t wanted = uint64_t{receiver ? count : std::min(gather_count, count)} * kSampleSize;
  const uint64_t copied = copy_block_wise(trace, trace_path, gather, path, wanted);
  uint64_t padding = wanted - copied;
  if (!receiver && gather_count > count) padding += uint64_t{gather_count - count} * kSampleSize;
  write_zeros(gather, path, padding);
}

}  // namespace

void SegyWriter::update_file(Outputs& out, bool receiver, std::FILE* trace, const TraceFile& trace_file,
                             const std::string& directory) {
  const std::string& trace_path = trace_file.path;
  TraceHeader t{};
  const std::size_t got = std::fread(t.data(), 1, t.size(), trace);
  if (got == 0) return;  // an empty trace file has nothing to add
  if (got != t.size() && std::ferror(trace)) shut_down(ExitCode::read_error, trace_path, errno);
  if (got != t.size()) shut_down(ExitCode::read_error, trace_path, "cut short");

  const std::string path = gather_file(out, receiver, directory, trace_file.name);
  FilePtr gather(std::fopen(path.c_str(), "r+b"));
  if (!gather) gather_open_failed(fatal_failure(ExitCode::open_error, path, errno));
  FileHeader g{};
  const std::size_t head = std::fread(g.data(), 1, g.size(), gather.get());
  if (head != 0 && head != g.size()) shut_down(ExitCode::read_error, path, "cut short");
  const bool is_new = head == 0;
  if (is_new) fill_file_header(g);
  const uint32_t count = be_u32(&t[at(kTrSampleCount32)]);
  const uint32_t gather_count = update_gather_headers(g, t, receiver, is_new);
  write_at(gather.get(), path, 0, g.data(), g.size());
  if (std::fseek(gather.get(), 0, SEEK_END) != 0) shut_down(ExitCode::write_error, path, errno);
  write_all(gather.get(), path, t.data(), t.size());
  append_samples(trace, trace_path, gather.get(), path, count, gather_count, receiver);
  std::FILE* written = gather.release();
  close_checked(written, path);
}

}  // namespace pk::segy
