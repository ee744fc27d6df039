// Day files of an SDS archive: ROOT/YEAR/NET/STA/CHAN.D/NET.STA.LOC.CHAN.D.YEAR.DAY, one
// per channel and UTC day, each holding that day's samples only, in time order. Beside
// each day file an empty hidden ".NAME.lock" stays: the lock every run takes to rewrite it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/failure.h"

namespace pk {

// Merges the miniSEED records of `record_files` (any record length, encoding and SEED
// ids) into the day files under `root`. Each day file touched is rewritten whole under
// a lock: records of the same channel whose time span the new data covers are replaced
// (a record only partly covered keeps exactly its samples outside the new data), so
// merging the same data twice leaves each sample once, and runs merging at the same
// time never lose each other's records. Among the inputs, later files (and later records
// of one file) win where they overlap. `durable`: each day file reaches the disk before
// it replaces the old one, and its directory entry after. CTRL-C or SIGTERM caught by a
// StopSignals ends the merge as a failure with EINTR. On failure the day file
// concerned keeps its old contents and no temporary is left; day files finished before
// keep their new contents. The failure (code 22) says what could not be done ("cannot
// create directory", "cannot lock", "cannot write", "cannot finish" when stopped, "cannot
// decode the record at byte N of" with EBADMSG, ...) on which final path (a day file,
// directory or input, never a temporary), and the errno (EINVAL for SEED codes unfit
// for names).
// `notes`, when given, tells per SEED id what the merge did beside adding the inputs, and
// takes the spans of day file data worth counting when replaced (a run's earlier merges).
// Memory: the headers of all input records (under 100 bytes each), then per day file
// its old records' headers and one decoded record at a time - never a day of samples.
// Records copied whole are read back from their files when the day file is written.
struct MergeNotes {
  struct Channel {
    int64_t first = INT64_MAX, last = INT64_MIN;  // times (us) of the inputs' first and last sample
    int64_t left_out = 0;  // input samples that later input samples have the times of
    int64_t replaced = 0;  // samples within `earlier` that the inputs replaced
  };
  std::map<std::string, std::vector<std::pair<int64_t, int64_t>>> earlier;  // closed spans (us), by id
  std::map<std::string, Channel> channels;                                  // by id ("NET.STA.LOC.CHAN")
};
std::optional<Failure> merge_into_sds(const std::string& root, const std::vector<std::string>& record_files,
                                         bool durable, MergeNotes* notes = nullptr);

}  // namespace pk
