// Making what a run wrote reach the device (-Y, -y), shared by every program.
#pragma once

#include <string>

namespace pk {

// The outcome of a sync: 0 or the errno of the failing call, and whether the open
// succeeded, so that a caller can tell a missing file from a failing device.
struct Synced {
  int error = 0;
  bool opened = true;
};

// A file's data (fdatasync).
Synced sync_data(const std::string& path);
// A directory's entries (fsync), so that a name made or renamed in it stays.
Synced sync_entries(const std::string& dir);

}  // namespace pk
