// Day files of an SDS archive: ROOT/YEAR/NET/STA/CHAN.D/NET.STA.LOC.CHAN.D.YEAR.DAY, one
// per channel and UTC day, each holding that day's samples only, in time order.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pk {

struct SdsFailure {
  std::string what;   // what failed, e.g. "write", "rename", "read records of"
  std::string path;   // the final path concerned (a day file, directory or input), never a temporary
  int error_number;   // errno, or 0 where the cause is the data (a damaged record)
};

// Merges the miniSEED records of `record_files` (any record length, encoding and SEED
// ids) into the day files under `root`. Each day file touched is rewritten whole under
// a lock: records of the same channel whose time span the new data covers are replaced
// (a record only partly covered keeps exactly its samples outside the new data), so
// merging the same data twice leaves each sample once, and runs merging at the same
// time never lose each other's records. Among the inputs, later files (and later records
// of one file) win where they overlap. `durable`: each day file reaches the disk before
// it replaces the old one, and its directory entry after. On failure the day file
// concerned keeps its old contents and no temporary is left; day files finished before
// keep their new contents.
std::optional<SdsFailure> merge_into_sds(const std::string& root, const std::vector<std::string>& record_files,
                                         bool durable);

}  // namespace pk
