#include "mseed/mseed_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "convert/failure.h"
#include "convert/helpers.h"
#include "convert/raw_file.h"
#include "mseed/record_packer.h"
#include "convert/ring.h"
#include "mseed/sds_archive.h"
#include "convert/setup.h"
#include "common/stop_signals.h"
#include "common/temporary_name.h"

namespace pk::mseed {

namespace {

// Samples read from a channel data file at a time.
constexpr std::size_t kChunk = 16384;

double rate_of(const EventNode& evt) { return evt.Samp_rate > 0 ? evt.Samp_rate : 1000.0; }

int64_t microseconds(const PacketTime& t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.instant().time_since_epoch()).count();
}

// The channels of each stream, by channel number.
std::map<uint32_t, std::vector<ChannelNode*>> streams_of(const EventNode& evt) {
  std::map<uint32_t, std::vector<ChannelNode*>> streams;
  for (ChannelNode* f : ring_nodes(evt.First_chan)) streams[f->Strm_num].push_back(f);
  for (auto& [strm, chans] : streams)
    std::sort(chans.begin(), chans.end(), [](const ChannelNode* a, const ChannelNode* b) { return a->Chan_num < b->Chan_num; });
  return streams;
}

// The channel's stored samples from its data file (least significant byte first) into the
// packer, a new record at the first and at every time mark.
class ChannelReader {
 public:
  ChannelReader(const ChannelNode& chan, uint64_t count) : chan_(chan), count_(count), data_(chan.Filename, RawFile::Mode::read) {
    if (data_.size() < count * 4) shut_down(ExitCode::read_error, chan.Filename);
  }

  void into(RecordPacker& packer, int64_t first_us) {
    packer.start_run(first_us);
    std::size_t mark = 0;
    for (uint64_t at = 0; at < count_;) {
      const auto& marks = chan_.time_marks;
      if (mark < marks.size() && marks[mark].sample <= at) {
        if (marks[mark].sample == at) packer.start_run(microseconds(marks[mark].time));
        ++mark;
        continue;
      }
      const uint64_t until = mark < marks.size() ? std::min<uint64_t>(count_, marks[mark].sample) : count_;
      const auto n = static_cast<std::size_t>(std::min<uint64_t>(kChunk, until - at));
      packer.add(read(at, n));
      at += n;
    }
  }

 private:
  std::span<const int32_t> read(uint64_t at, std::size_t n) {
    const std::span<uint8_t> bytes(bytes_.data(), n * 4);
    if (data_.read_at(at * 4, bytes) != bytes.size()) shut_down(ExitCode::read_error, chan_.Filename);
    for (std::size_t i = 0; i < n; ++i) {
      const uint8_t* p = bytes.data() + 4 * i;
      samples_[i] = static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    }
    return {samples_.data(), n};
  }

  const ChannelNode& chan_;
  uint64_t count_;
  RawFile data_;
  std::vector<uint8_t> bytes_ = std::vector<uint8_t>(kChunk * 4);
  std::vector<int32_t> samples_ = std::vector<int32_t>(kChunk);
};

// Time of the channel's first stored sample: its first packet's, moved on by the samples -T discarded.
int64_t first_sample_us(const ChannelNode& chan, uint32_t trash, double rate) {
  const uint32_t discarded = trash - std::min(trash, chan.discard_count);
  return microseconds(chan.First_smp_time) + std::llround(discarded * 1e6 / rate);
}

uint64_t stored_samples(const ChannelNode& chan) { return own_data_file(chan) ? chan.stored : 0; }

}  // namespace

std::string stream_file_name(const EventNode& evt, uint32_t strm) {
  // A channel's base name ends in "_C", its channel digit.
  std::string base = channel_base_name(evt.First_smp_time.text(), evt.Unit_num, strm, 0);
  base.resize(base.size() - 2);
  return base + ".mseed";
}

std::optional<std::string> MseedWriter::apply_switch(Options&, const std::string& arg) {
  if (arg.size() <= 2) return invalid_switch_value(arg);
  // The run changes into the output directory; a relative root means where it started.
  const std::string root = arg.substr(2);
  archive_root = root[0] == '/' ? root : current_directory() + "/" + root;
  return std::nullopt;
}

std::string MseedWriter::usage_leading(const Options&) const {
  return format("\r\n   -Ar     %-55s(%s)", "Archive: SDS day files under root r, no event files",
                archive_root.empty() ? "NO" : archive_root.c_str());
}

void MseedWriter::unit_created(const RunSetup& run, UnitNode& unit) {
  UnitCodes codes = parse_seed_settings(run.settings.text.value_or(""), unit.Unit_num);
  // A code no record can hold would name records, and -A's directories, wrongly: the run
  // stops before any of its samples is written.
  if (const auto bad = unusable_code(codes)) {
    Failure failure(ExitCode::usage, "cannot take a SEED code from", run.settings.path, 0,
                    format("unit %04hX: %s: SEED codes are letters and digits, a network 1 or 2, a station 1 to "
                           "5, a location up to 2, a channel 3 of them",
                           static_cast<unsigned short>(unit.Unit_num), bad->c_str()));
    failure.message = "\nInvalid SEED code in " + run.settings.path;
    throw failure;
  }
  units_[unit.Unit_num] = std::move(codes);
}

void MseedWriter::closing_at_end_of_input(EventNode& evt) const {
  if (evt.Samp_rate == 0.0f) evt.Samp_rate = 1000.0f;
}

std::optional<Pending> MseedWriter::write_stream(Outputs& out, const EventNode& evt,
                                                 const std::vector<ChannelNode*>& chans, const std::string& dir,
                                                 uint32_t trash) {
  // A stream without samples has no records: no file rather than an empty one.
  if (std::none_of(chans.begin(), chans.end(), [](const ChannelNode* c) { return stored_samples(*c) > 0; })) {
    for (ChannelNode* chan : chans)
      if (own_data_file(*chan)) out.temps.remove(chan->Filename);
    return std::nullopt;
  }
  const std::string name = stream_file_name(evt, chans.front()->Strm_num);
  const std::string path = create_temporary(out, dir, name);
  AppendingFile file;
  if (!file.open(path, out.writes)) shut_down(ExitCode::open_error, path, errno);
  const double rate = rate_of(evt);
  for (ChannelNode* chan : chans) {
    const uint64_t count = stored_samples(*chan);
    if (count > 0) {
      const SeedId id = seed_id(units_[evt.Unit_num], evt.Unit_num, chan->Strm_num, chan->Chan_num, rate);
      RecordPacker packer(id, rate, [&file](std::string_view record) { file.append(record); });
      ChannelReader(*chan, count).into(packer, first_sample_us(*chan, trash, rate));
      packer.finish();
    }
    if (own_data_file(*chan)) out.temps.remove(chan->Filename);
  }
  file.close();
  return Pending{path, name};
}

void MseedWriter::archive(Outputs& out, const EventNode& evt, const std::vector<Pending>& files, bool durable) {
  std::vector<std::string> paths;
  for (const Pending& f : files) paths.push_back(f.temporary);
  merged_.channels.clear();
  std::optional<Failure> failure = merge_into_sds(archive_root, paths, durable, &merged_);
  for (const std::string& p : paths) out.temps.remove(p);
  for (const auto& [id, note] : merged_.channels) {
    Lost& lost = lost_[{evt.Unit_num, evt.Evt_num, id}];
    lost.left_out += note.left_out;
    lost.replaced += note.replaced;
    if (note.first <= note.last) merged_.earlier[id].emplace_back(note.first, note.last);
  }
  if (!failure) return;
  // CTRL-C or SIGTERM while a day file was merged: the run stops as it would elsewhere.
  if (failure->error_number == EINTR && stop_requested()) shut_down(ExitCode::aborted);
  // The archive says what it could not do ("create directory", "write"), so the line
  // names that rather than the generic write error.
  failure->message = exit_message(ExitCode::write_error, failure->path);
  failure->path = final_name(failure->path);
  throw *failure;
}

void MseedWriter::finish_event(const RunSetup& run, Outputs& out, EventNode& evt) {
  const std::string dir = make_output_dir(out, evt.First_smp_time.text());
  std::vector<Pending> files;
  for (const auto& [strm, chans] : streams_of(evt))
    if (auto file = write_stream(out, evt, chans, dir, run.options.discard_count)) files.push_back(std::move(*file));
  if (files.empty()) return;
  if (archive_root.empty()) publish(out, dir, files);
  else archive(out, evt, files, run.options.durable);
}

void MseedWriter::write_notes(std::FILE* out) const {
  for (const auto& [key, lost] : lost_) {
    const auto& [unit, evt, id] = key;
    const long long n = lost.left_out, r = lost.replaced;
    if (n > 0)
      std::fprintf(out,
                   "WARNING: unit %04X event %u: %lld sample%s of %s %s not in the archive: the packet times went "
                   "back and later samples of the event took their times\n",
                   unit, evt, n, n == 1 ? "" : "s", id.c_str(), n == 1 ? "is" : "are");
    if (r > 0)
      std::fprintf(out,
                   "WARNING: unit %04X event %u: its samples of %s replaced %lld sample%s that the run had put in "
                   "the archive at the same times\n",
                   unit, evt, id.c_str(), r, r == 1 ? "" : "s");
  }
}

}  // namespace pk::mseed
