#include "mseed/sds_archive.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <string_view>
#include <tuple>

#include "mseed/sds_files.h"
#include "mseed/sds_merge.h"
#include "mseed/sds_records.h"
#include "common/stop_signals.h"

namespace pk {

namespace {

using namespace sds;

// A day file the run cannot finish fails it with the write-error code.
Failure cannot(const std::string& what, const std::string& path, int error) {
  return Failure(ExitCode::write_error, "cannot " + what, path, error, error == 0 ? "damaged miniSEED record" : "");
}

// A problem with a file's records: libmseed's explanation is the cause where it gave one.
Failure cannot(const Problem& problem, const std::string& path) {
  Failure failure = cannot(problem.what, path, problem.error_number);
  if (!problem.cause.empty()) failure.cause = problem.cause;
  return failure;
}

// "NET.STA.LOC.CHAN", as day file names and the merge notes give a channel.
std::string id_of(std::string_view network, std::string_view station, std::string_view location,
                  std::string_view channel) {
  std::string id(network);
  id.append(".").append(station).append(".").append(location).append(".").append(channel);
  return id;
}

// One channel's samples of one UTC day from the inputs.
struct Target {
  std::string network, station, location, channel;
  int64_t day = 0;  // days since 1970
  std::vector<Piece> pieces;
  std::string id() const { return id_of(network, station, location, channel); }
};
using TargetKey = std::tuple<std::string, std::string, std::string, std::string, int64_t>;

// SEED codes become directory and file names: letters, digits, '-' and '_' only, so
// that no record can name a path outside the archive.
bool usable_code(const char* code, bool may_be_empty) {
  std::string_view c(code);
  if (c.empty()) return may_be_empty;
  for (char ch : c)
    if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '-' && ch != '_') return false;
  return true;
}

int64_t day_of(Micros t) { return t >= 0 ? t / kMicrosPerDay : -((-t + kMicrosPerDay - 1) / kMicrosPerDay); }

// Files the record under every day its samples fall on.
void add_record(std::map<TargetKey, Target>& targets, const MSRecord& m, Piece piece) {
  Micros last = sample_time(piece, piece.samples > 0 ? piece.samples - 1 : 0);
  for (int64_t day = day_of(piece.start); day <= day_of(last); ++day) {
    TargetKey key{m.network, m.station, m.location, m.channel, day};
    Target& t = targets[key];
    if (t.pieces.empty()) t = {m.network, m.station, m.location, m.channel, day, {}};
    piece.from = day * kMicrosPerDay;
    piece.until = piece.from + kMicrosPerDay;
    t.pieces.push_back(piece);
  }
}

Piece piece_of(const MSRecord& m, unsigned source, off_t offset, int length) {
  return {.start = m.starttime, .rate = m.samprate, .samples = m.samplecnt, .source = source, .offset = offset,
          .length = length};
}

std::optional<Failure> index_input(const std::string& path, unsigned source, std::map<TargetKey, Target>& targets) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return cannot("open", path, errno);
  bool unusable = false;
  auto problem = scan_records(fd.get(), [&](const MSRecord& m, off_t offset, int length) {
    if (!usable_code(m.network, false) || !usable_code(m.station, false) || !usable_code(m.location, true) ||
        !usable_code(m.channel, false))
      unusable = true;
    else
      add_record(targets, m, piece_of(m, source, offset, length));
  });
  if (problem) return cannot(*problem, path);
  if (unusable) return cannot("use the SEED codes (letters, digits, '-', '_') of a record in", path, EINVAL);
  return std::nullopt;
}

struct DayPaths {
  std::string dir, name;
};

DayPaths day_paths(const std::string& root, const Target& t) {
  time_t seconds = static_cast<time_t>(t.day * 86400);
  tm utc{};
  gmtime_r(&seconds, &utc);
  char year[16], day[16];
  std::snprintf(year, sizeof year, "%04d", utc.tm_year + 1900);
  std::snprintf(day, sizeof day, "%03d", utc.tm_yday + 1);
  std::string dir = root.empty() || root.back() == '/' ? root : root + '/';
  dir.append(year).append("/").append(t.network).append("/").append(t.station).append("/");
  dir.append(t.channel).append(".D/");
  std::string name = t.id() + ".D." + year + '.' + day;
  return {dir, name};
}

// The files the pieces come from: the old day file (source 0), then the inputs.
struct Sources {
  std::vector<std::string> paths;
  std::vector<Fd> fds;
};

std::optional<Failure> open_sources(const Target& t, Sources& s) {
  for (const Piece& p : t.pieces) {
    if (s.fds[p.source].ok()) continue;
    s.fds[p.source] = Fd(::open(s.paths[p.source].c_str(), O_RDONLY | O_CLOEXEC));
    if (!s.fds[p.source].ok()) return cannot("open", s.paths[p.source], errno);
  }
  return std::nullopt;
}

// Writes the cuts into the replacement, a megabyte at a time.
std::optional<Failure> write_cuts(const std::vector<Piece>& ranked, const std::vector<Cut>& cuts,
                                     const Sources& s, Replacement& out, const std::string& file) {
  std::vector<char> pending;
  for (std::size_t k = 0; k <= cuts.size(); ++k) {
    if (stop_requested()) return cannot("finish", file, EINTR);
    if (k < cuts.size()) {
      const Piece& p = ranked[cuts[k].piece];
      int fd = s.fds[p.source].get();
      std::optional<Problem> problem;
      if (cuts[k].whole) {
        pending.resize(pending.size() + static_cast<std::size_t>(p.length));
        problem = read_at(fd, p.offset, static_cast<std::size_t>(p.length), pending.data() + pending.size() - p.length);
      } else {
        problem = cut_record(fd, p, cuts[k].first, cuts[k].count, cuts[k].start, pending);
      }
      if (problem) return cannot(*problem, s.paths[p.source]);
    }
    if (pending.size() < (1u << 20) && k < cuts.size()) continue;
    if (int e = out.write(pending.data(), pending.size())) return cannot("write", file, e);
    pending.clear();
  }
  return std::nullopt;
}

// The old day file's records, ranked below everything new. Only new data takes their
// samples away: records of another channel, or overlapping each other (a day file some
// other tool wrote), stay as they are.
std::optional<Failure> read_old(const std::string& file, const Target& t, Sources& s, std::vector<Piece>& ranked) {
  s.fds[0] = Fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!s.fds[0].ok()) return errno == ENOENT ? std::nullopt : std::optional(cannot("open", file, errno));
  std::map<std::string, unsigned> channels{{t.id(), 0}};
  auto problem = scan_records(s.fds[0].get(), [&](const MSRecord& m, off_t offset, int length) {
    std::string id = id_of(m.network, m.station, m.location, m.channel);
    Piece p = piece_of(m, 0, offset, length);
    p.channel = channels.emplace(id, static_cast<unsigned>(channels.size())).first->second;
    p.covers = false;
    ranked.push_back(p);
  });
  if (problem) return cannot(*problem, file);
  return std::nullopt;
}

std::optional<Failure> merge_day(const std::string& root, const Target& t, const std::vector<std::string>& inputs,
                                    bool durable, const Spans& earlier, MergeNotes::Channel& note) {
  DayPaths at = day_paths(root, t);
  std::string file = at.dir + at.name, failed;
  if (int e = make_directories(at.dir, durable, failed)) return cannot("create directory", failed, e);
  // A lock file that is never renamed or removed: every run locks the same inode. The
  // day file itself would not do, since a run waiting on it would hold the inode that
  // the run before it has just renamed away.
  Fd lock;
  if (int e = take_lock(at.dir + "." + at.name + ".lock", lock)) return cannot("lock", file, e);
  remove_stale_temporaries(at.dir, at.name);
  Sources s{{file}, {}};
  s.paths.insert(s.paths.end(), inputs.begin(), inputs.end());
  s.fds.resize(s.paths.size());
  std::vector<Piece> ranked;
  if (auto f = read_old(file, t, s, ranked)) return f;
  if (auto f = open_sources(t, s)) return f;
  ranked.insert(ranked.end(), t.pieces.begin(), t.pieces.end());
  Replacement out(at.dir, at.name);
  if (int e = out.create()) return cannot("create a temporary beside", file, e);
  const std::vector<Cut> cuts = resolve(ranked);
  if (auto f = write_cuts(ranked, cuts, s, out, file)) return f;
  note.left_out += covering_samples_left_out(ranked, cuts);
  if (!earlier.empty()) note.replaced += old_samples_replaced_within(ranked, cuts, earlier);
  std::string step;
  if (int e = out.publish(durable, step)) return cannot(step, file, e);
  return std::nullopt;
}

// The first and last sample time of a day's pieces join the channel's note.
void note_extent(const Target& t, MergeNotes::Channel& note) {
  for (const Piece& p : t.pieces) {
    note.first = std::max(std::min(note.first, p.start), p.from);
    note.last = std::min(std::max(note.last, sample_time(p, p.samples > 0 ? p.samples - 1 : 0)), p.until - 1);
  }
}

}  // namespace

std::optional<Failure> merge_into_sds(const std::string& root, const std::vector<std::string>& record_files,
                                         bool durable, MergeNotes* notes) {
  std::map<TargetKey, Target> targets;
  for (std::size_t i = 0; i < record_files.size(); ++i)
    if (auto f = index_input(record_files[i], static_cast<unsigned>(i + 1), targets)) return f;
  MergeNotes unused;
  MergeNotes& n = notes ? *notes : unused;
  for (const auto& [key, target] : targets) {
    const std::string id = target.id();
    MergeNotes::Channel& note = n.channels[id];
    if (auto f = merge_day(root, target, record_files, durable, n.earlier[id], note)) return f;
    note_extent(target, note);
  }
  return std::nullopt;
}

}  // namespace pk
