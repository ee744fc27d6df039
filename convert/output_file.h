// Every file a run writes and later renames or deletes is first written under a hidden
// temporary name in the directory of its final file, and renamed into place only when
// whole. So a reading tool never meets half a file, a run that fails or is interrupted
// leaves the earlier files of those names as they were, and runs writing into one
// directory at the same time never share a file.
#pragma once

#include <ctime>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/failure.h"
#include "common/temporary_name.h"
#include "convert/write_behind.h"

namespace pk {

// Candidate k (0 to kNameCandidates - 1) of a "YYYY_DDD_..." file name: the name itself,
// then the name with its eighth character (the last digit of the day of year) replaced
// by 'A', 'B', ... 'X'.
inline constexpr int kNameCandidates = 25;
std::string name_candidate(const std::string& name, int k);

// The temporaries of one run, so that whatever it had not finished goes when it ends.
class Temporaries {
 public:
  // Goes into every temporary's name with the process id: "pk_segy" gives "pk_segy-4711".
  void set_program(std::string program) { program_ = std::move(program); }

  struct Created {
    bool ok;
    std::string path;  // the file; for a failure the name that could not be created
    int error = 0;     // for a failure, the errno of the last attempt
    bool unclosed = false;  // for a failure, made but it would not close
  };
  // Creates the temporary of file `described` in `dir` (ending in '/'), empty and
  // exclusively: a name already there - another machine's run with the same process id
  // on a shared directory - moves on to the next counter.
  Created create(const std::string& dir, const std::string& described);
  // Renames the file `from` into the temporary of file `described` in `dir`, chosen as
  // create() chooses it; on failure `error` tells why.
  Created move(const std::string& from, const std::string& dir, const std::string& described);
  // Deletes the file, registered or not.
  void remove(const std::string& path);
  // The temporary has been renamed into its final name.
  void forget(const std::string& path) { paths_.erase(path); }
  void remove_all();
  bool empty() const { return paths_.empty(); }

 private:
  // The first of the temporary names that `take` manages to take (false and errno EEXIST:
  // the name is in use, try the next).
  Created claim(const std::string& dir, const std::string& described,
                const std::function<bool(const std::string&)>& take);

  std::string program_ = "pk";
  std::set<std::string> paths_;
};

// The files a run appends to rather than writes afresh - the log and the per-unit QCC
// files, which runs share by name - and the length each had before the run first opened
// it. When a write to one fails, or the run fails, each is cut back to that length
// (removed when the run made it), so none ends in a fragment.
class AppendedFiles {
 public:
  // Opens `path` for appending (failure ends the run with code 20), noting its length
  // the first time this run opens it.
  std::FILE* open(const std::string& path);
  // Closes it (with -Y after syncing it, and its directory when the run made it); a
  // failed write, flush, sync or close cuts it back and ends the run with code 22.
  void close(std::FILE*& file, const std::string& path);
  // For a run that has failed: closes it unchecked.
  static void close_quietly(std::FILE*& file);
  // A run that failed leaves every such file as it was before the run: cut back, or gone
  // when the run made it.
  void cut_back_all();

 private:
  void cut_back(const std::string& path);
  std::map<std::string, long long> before_;  // -1: not there before the run

 public:
  bool durable = false;  // -Y
};

// Where a run's files go: the output directory and its levels, the temporaries not yet
// published, and the moment that tells files of earlier runs from this run's.
struct Outputs {
  explicit Outputs(std::string program) { temps.set_program(std::move(program)); }
  ~Outputs() {
    writes.stop();
    temps.remove_all();
  }
  Outputs(const Outputs&) = delete;
  Outputs& operator=(const Outputs&) = delete;

  std::string Dir;  // output directory, ending in '/'
  uint16_t Path_option = 0;
  // -Y: each file's data reaches the device before it takes its name, and each directory
  // is synced after a name changed in it, so a power cut leaves no short file under a name.
  bool durable = false;
  Temporaries temps;
  // The run's start on the output file system's clock (see take_run_start); files
  // changed before it may be replaced.
  timespec Run_start{};
  // Writes the channel data files and the assembled outputs behind the engine's back.
  WriteBehind writes;
  AppendedFiles appended;
};

// Directory (relative to the output directory, "" or ending in '/') of the files that
// start at `time` under a path level: "YYYY_DDD/" and, for levels 2 to 4, "HH/",
// "HH_MM/" or "HH_MM_SS/" below it; levels above 4 use the deepest layout.
std::string level_dir(uint16_t path_option, const std::string& time);
// The full path of that directory, created where missing; a level that cannot be
// created ends the run with code 10.
std::string make_output_dir(const Outputs& out, const std::string& time);

// A temporary that could not be made ends the run with code 20; the line says "cannot
// write" when it was made but would not close. `name` is the file shown.
Failure creation_failure(const Temporaries::Created& made, const std::string& name);
// Temporaries::create for files the run cannot do without: failure ends the run with code 20.
std::string create_temporary(Outputs& out, const std::string& dir, const std::string& described);

// Renames the run's temporary `from` into the temporary of file `described` in `dir`, so
// that a file moves on to another final name without being copied: code 20 when that
// temporary cannot be created, 22 when the rename fails.
std::string move_temporary(Outputs& out, const std::string& from, const std::string& dir,
                           const std::string& described);

// Stamps the run's start on the clock of the output directory's file system, so that a
// file's change time tells whether it was there before the run began.
void take_run_start(Outputs& out);

struct Pending {
  std::string temporary;
  std::string name;  // final name within the directory
};
// Writes a file's data, or a directory's entries, out to the device (-Y); a failure ends
// the run naming `shown` or the directory.
void sync_file(const std::string& path, const std::string& shown);
void sync_directory(const std::string& dir);
// Renames a temporary over `final_path` (after syncing it with -Y); code 22 on failure.
void rename_into_place(Outputs& out, const std::string& temporary, const std::string& final_path);

// Renames the temporaries into `dir` (ending in '/'). Each takes its name when that is
// free or holds a file from before the run began (a re-run replaces it); a file made
// since - by this run or another one - is never replaced, and the next lettered
// candidate is tried. Every name is decided before any file is renamed, so when all
// candidates of one are taken none is published and the run ends with code 23.
// Returns the final paths.
std::vector<std::string> publish(Outputs& out, const std::string& dir, const std::vector<Pending>& files);

}  // namespace pk
