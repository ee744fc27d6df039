#include "seisan/seis_writer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <unordered_set>
#include <utility>

#include "convert/failure.h"
#include "convert/helpers.h"
#include "convert/output_file.h"
#include "common/pkfile.h"
#include "convert/raw_file.h"
#include "convert/ring.h"
#include "seisan/seis_block.h"
#include "seisan/seis_header.h"
#include "seisan/seis_settings.h"
#include "convert/setup.h"

namespace pk::seis {

namespace {

// The unit an event belongs to; the settings file's names and letters are the unit's.
const UnitNode& unit_of(const EventNode& evt) {
  static const UnitNode kNone;
  return evt.Unit_pointer ? *evt.Unit_pointer : kNone;
}

std::string padded_time(const std::string& time) {
  std::string t = time;
  if (t.size() < 16) t.resize(16, ' ');
  return t;
}

// Samples the waveform file will carry for a channel: none when it has no data file.
uint32_t stored_samples(const ChannelNode& f) { return own_data_file(f) ? f.stored : 0; }

double sample_interval(float rate) { return rate > 0 ? 1000.0 / rate * 0.001 : 0.0; }

std::optional<double> data_length(uint32_t samples, float rate) {
  if (!(rate > 0)) return std::nullopt;
  return samples / static_cast<double>(rate);
}

struct Channel {
  ChannelNode* node;
  uint32_t samples;
};

// Seconds from the event's first sample to its latest time, less one interval. Without a
// trailer the latest time is the last data packet's first sample, which falls short of
// the samples that packet holds, so each channel's last stored sample bounds it from below.
double total_window(const EventNode& evt, const std::vector<Channel>& chans) {
  double latest = seconds_between(evt.First_smp_time, evt.Latest_time);
  for (const Channel& c : chans) {
    if (c.samples == 0) continue;
    if (const auto span = data_length(c.samples - 1, evt.Samp_rate)) {
      latest = std::max(latest, seconds_between(evt.First_smp_time, c.node->First_smp_time) + *span);
    }
  }
  return latest - sample_interval(evt.Samp_rate);
}

void complete_file_header(std::string& hd, const EventNode& evt, const std::vector<Channel>& chans) {
  if (!set_channel_count(hd, chans.size())) std::fputs(kStationRangeMsg, stdout);
  set_total_time(hd, total_window(evt, chans));
  // One line per three channels beyond the thirty the twelve lines hold.
  widen_file_header(hd, chans.size());
  const std::string station = station_code(unit_of(evt).Station_name, evt.Unit_num);
  const int n = static_cast<int>(chans.size());
  for (int i = 0; i < n; ++i) {
    const ChannelNode& f = *chans[static_cast<std::size_t>(i)].node;
    put_entry(hd, i,
              channel_entry(station, component(f.Strm_num, f.Chan_num, unit_of(evt).Ini_comp),
                            seconds_between(evt.First_smp_time, f.First_smp_time),
                            data_length(chans[static_cast<std::size_t>(i)].samples, evt.Samp_rate)));
  }
}

void write_file_header(RecordWriter& records, const std::string& hd) {
  const int lines = static_cast<int>((hd.size() - 1) / kLineCols);
  for (int line = 1; line <= lines; ++line) {
    records.record(std::string_view(hd).substr(file_col(line, 1), kLineCols));
  }
}

void append_channel_header(RecordWriter& records, const Channel& c, const std::string& rate) {
  std::string ch = seis_ch_hd(*c.node);
  if (!set_rate_and_count(ch, rate, c.samples)) std::fputs(kSampleRangeMsg, stdout);
  records.record(ch);
}

uint64_t sample_bytes(const Channel& c) { return uint64_t{c.samples} * kSampleBytes; }

// A string stream that could not take all it was given (it keeps running out of memory
// to itself) must not pass for complete.
std::ostringstream& complete(std::ostringstream& stream) {
  if (!stream) throw std::bad_alloc();
  return stream;
}

// Bytes in front of the first channel's samples: the file's start, its header lines, the
// channel's header and the start of its sample record. Their sizes do not depend on what
// they hold, so every channel data file reserves this room; the channel that comes first
// in the waveform file becomes the file, completed around its samples.
std::size_t head_room(SeiFraming framing) {
  std::ostringstream head;
  const std::unique_ptr<RecordWriter> records = record_writer(framing, head);
  records->begin_file();
  for (int line = 1; line <= kFileLines; ++line) records->record(std::string(kLineCols, ' '));
  records->record(blank_channel_header());
  records->begin_record(0);
  return complete(head).view().size();
}

// The waveform file being assembled: what the record writer writes gathers in `pending`
// and goes out before each sample record, which is copied in from its data file.
struct Assembly {
  AppendingFile& sei;
  std::ostringstream& pending;
  SampleLayout layout;
  uint64_t room;  // reserved in front of each data file's samples

  void flush() {
    sei.append(complete(pending).view());
    pending.str({});
  }
};

// A PC-block data file ends in a block opened as a full one; its true length goes in front
// and after it. A data file short of the samples the engine appended can only have been
// cut from outside: a read error.
void complete_record(RawFile& data, const Assembly& assembly, uint32_t samples) {
  const SampleLayout& layout = assembly.layout;
  const std::optional<ShortBlock> last = layout.pc_blocks ? short_last_block(samples) : std::nullopt;
  if (data.size() < assembly.room + record_bytes(layout, samples) - (last ? 1 : 0))
    shut_down(ExitCode::read_error, data.path(), "shorter than the samples written into it");
  if (!last) return;
  data.write_at(assembly.room + last->at, {&last->length, 1});
  data.write_at(assembly.room + last->at + 1 + last->length, {&last->length, 1});
}

void append_samples(Outputs& out, RecordWriter& records, Assembly& assembly, const Channel& c) {
  records.begin_record(sample_bytes(c));
  if (c.samples > 0) {
    const bool framing = assembly.layout.pc_blocks;
    RawFile data(c.node->Filename, framing ? RawFile::Mode::write : RawFile::Mode::read);
    complete_record(data, assembly, c.samples);
    assembly.flush();
    assembly.sei.append_from(data, assembly.room, record_bytes(assembly.layout, c.samples));
    // With -WP its last block was corrected in place: that write must have held.
    data.close();
  }
  // An empty record too, so that channel headers and sample records keep alternating.
  records.end_record();
  if (own_data_file(*c.node)) out.temps.remove(c.node->Filename);
}

// Puts the head, which `pending` holds, into the room in front of the first channel's
// samples and completes its record there.
void complete_in_place(Assembly& assembly, const Channel& first) {
  const std::string_view head = complete(assembly.pending).view();
  RawFile data(first.node->Filename, RawFile::Mode::write);
  if (head.size() != assembly.room) shut_down(ExitCode::write_error, data.path(), "the head does not fit its room");
  complete_record(data, assembly, first.samples);
  data.write_at(0, {reinterpret_cast<const uint8_t*>(head.data()), head.size()});
  data.close();
  assembly.pending.str({});
}

// Sample records longer than the framing can carry are refused before anything is written,
// so no .SEI with a wrapped length is ever left behind.
void refuse_unframable(const RecordWriter& records, const std::vector<Channel>& chans,
                       const std::string& sei) {
  for (const Channel& c : chans) {
    if (records.fits(sample_bytes(c))) continue;
    Failure failure = fatal_failure(ExitCode::write_error, sei);
    failure.message = format("\n %lu samples of channel %u are too many for one SEISAN record with 4-byte lengths"
                             " (-WP has no limit)",
                             static_cast<unsigned long>(c.samples), c.node->Chan_num + 1) + failure.message;
    failure.cause = "too many samples for one record with 4-byte lengths";
    throw failure;
  }
}

}  // namespace

std::vector<ChannelNode*> ordered_channels(const EventNode& evt) {
  std::vector<ChannelNode*> out;
  std::unordered_set<const ChannelNode*> taken;
  ChannelNode* next = evt.First_chan;
  for (const uint32_t chan : evt.Chan_each) {
    if (!next) break;
    ChannelNode* f =
        find_in_ring(next, [&](const ChannelNode* n) { return n->Chan_num == chan && !taken.count(n); });
    if (!f) continue;
    out.push_back(f);
    taken.insert(f);
    next = f->Next_file ? f->Next_file : f;
  }
  return out;
}

std::string event_base_name(const EventNode& evt) {
  const std::string t = padded_time(evt.First_smp_time.text());
  return format("%4.4s_%3.3s_%2.2s_%2.2s_%2.2s_%04hX_%1u", t.c_str(), t.c_str() + 4, t.c_str() + 7, t.c_str() + 9,
                t.c_str() + 11, static_cast<unsigned short>(evt.Unit_num), evt.Strm_num + 1);
}


std::string seis_fl_hd(const EventNode& evt) {
  std::string hd = blank_file_header();
  fill_file_line1(hd, network_text(unit_of(evt).Network_name), seis_time(evt.First_smp_time.text()));
  return hd;
}

std::string seis_ch_hd(const ChannelNode& f) {
  static const EventNode kNoEvent;
  const UnitNode& unit = unit_of(f.Evt_pointer ? *f.Evt_pointer : kNoEvent);
  std::string ch = blank_channel_header();
  fill_channel_header(ch, station_code(unit.Station_name, f.Unit_num), component(f.Strm_num, f.Chan_num, unit.Ini_comp),
                      seis_time(f.First_smp_time.text()));
  return ch;
}

void SeisanWriter::unit_created(const RunSetup& run, UnitNode& unit) { load_station_settings(run.settings, unit); }

namespace {

std::vector<Channel> channels_with_samples(const EventNode& evt) {
  std::vector<Channel> chans;
  for (ChannelNode* f : ordered_channels(evt)) chans.push_back({f, stored_samples(*f)});
  return chans;
}

// Writes the event's records; the first channel's samples stay where they are when its
// data file is the waveform file being assembled (`in_place`).
void write_records(Outputs& out, RecordWriter& records, Assembly& assembly, const EventNode& evt,
                   const std::vector<Channel>& chans, bool in_place) {
  std::string hd = seis_fl_hd(evt);
  complete_file_header(hd, evt, chans);
  records.begin_file();
  write_file_header(records, hd);
  const std::string rate = rate_text(evt.Samp_rate);
  for (std::size_t i = 0; i < chans.size(); ++i) {
    append_channel_header(records, chans[i], rate);
    if (i == 0 && in_place) {
      records.begin_record(sample_bytes(chans[0]));
      complete_in_place(assembly, chans[0]);
      records.end_record();
    } else {
      append_samples(out, records, assembly, chans[i]);
    }
  }
  records.end_file();
  assembly.flush();
}

}  // namespace

std::optional<std::string> SeisanWriter::apply_switch(Options& options, const std::string& arg) {
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[1])));
  const std::string value = arg.substr(2);
  if (letter == 'F') {
    if (!options.FileIn.empty()) return "Input file given twice: " + value;
    options.FileIn = value;
    return std::nullopt;
  }
  bool ok = false;
  if (letter == 'D') {
    ok = yes_no(value.empty() ? '\0' : value[0], options.dont_log_dt);
  } else if (value == "4" || value == "P" || value == "p") {
    framing = value == "4" ? SeiFraming::length4 : SeiFraming::pc_blocks;
    ok = true;
  }
  return ok ? std::nullopt : std::optional(invalid_switch_value(arg));
}

std::string SeisanWriter::usage_trailing(const Options&) const {
  std::string s;
  s += format("\r\n   -Wc     SEISAN record framing                                  (%c)",
              framing == SeiFraming::length4 ? '4' : 'P');
  s += "\r\n             P = PC blocks of 128 bytes                                     ";
  s += "\r\n             4 = SEISAN 7+ records with 4-byte lengths                      ";
  s += "\r\n";
  return s;
}

SampleLayout SeisanWriter::sample_layout(const Options&) const {
  return {info().samples_big_endian, framing != SeiFraming::length4};
}

std::size_t SeisanWriter::channel_head_room(const Options&) const { return head_room(framing); }

std::uint64_t SeisanWriter::max_samples_per_file(const Options&) const { return kMaxChannelSamples; }

// The first channel's data file, when it has one, becomes the waveform file: its samples
// are not copied again.
void SeisanWriter::finish_event(const RunSetup& run, Outputs& out, EventNode& evt) {
  const std::vector<Channel> chans = channels_with_samples(evt);
  const std::string dir = make_output_dir(out, evt.First_smp_time.text());
  const std::string name = event_base_name(evt) + ".SEI";
  std::ostringstream pending;
  const std::unique_ptr<RecordWriter> records = record_writer(framing, pending);
  refuse_unframable(*records, chans, dir + name);
  // The room in front of each data file's samples fits the twelve lines of up to 30 channels.
  const bool in_place = !chans.empty() && chans.size() <= kMaxEntries && own_data_file(*chans[0].node);
  std::string sei_path = in_place ? chans[0].node->Filename : create_temporary(out, dir, name);
  AppendingFile sei;
  Assembly assembly{sei, pending, sample_layout(run.options), channel_head_room(run.options)};
  // In place, nothing is appended before the head has been written.
  if (!sei.open(sei_path, out.writes)) shut_down(ExitCode::open_error, sei_path, errno);
  write_records(out, *records, assembly, evt, chans, in_place);
  sei.close();
  if (in_place) sei_path = move_temporary(out, sei_path, dir, name);
  publish(out, dir, {{sei_path, name}});
}

}  // namespace pk::seis
