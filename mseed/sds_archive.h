// Day files of an SDS archive: ROOT/YEAR/NET/STA/CHAN.D/NET.STA.LOC.CHAN.D.YEAR.DAY, one
// per channel and UTC day, each holding that day's samples only, in time order. Beside
// each day file an empty hidden ".NAME.lock" stays: the lock every run takes to rewrite it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pk {

struct SdsFailure {
  // What failed, a verb to follow "cannot ": "create directory", "lock", "open", "read",
  // "write", "sync", "close", "rename into", "finish" (stopped), "decode the record at
  // byte N of" (errno EBADMSG) ...
  std::string what;
  std::string path;   // the final path concerned (a day file, directory or input), never a temporary
  int error_number;   // errno; EBADMSG for a damaged record, EINVAL for SEED codes unfit for names
};

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
// keep their new contents.
// Memory: the headers of all input records (under 100 bytes each), then per day file
// its old records' headers and one decoded record at a time - never a day of samples.
// Records copied whole are read back from their files when the day file is written.
std::optional<SdsFailure> merge_into_sds(const std::string& root, const std::vector<std::string>& record_files,
                                         bool durable);

}  // namespace pk
