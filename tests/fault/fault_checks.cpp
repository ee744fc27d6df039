// What a run with one failed call must leave:
// - a non-zero status and an ERROR line naming the cause; status 0 only when the run wrote
//   exactly what a clean run writes and the call was none it must have: a failed sync, or
//   the close of a file it had written to, may have lost bytes that no look at the files
//   can see, so those always fail the run;
// - no temporary;
// - under final names only whole files, the earlier run's among them. A failed run's log
//   may record what it did up to its failure after the earlier runs' records; a failed
//   run's archive day file may hold what a clean run's holds after merging the events
//   before the failure, since each event's merge replaces it whole.
#include <cstring>
#include <sstream>

#include "tests/fault/fault_harness.h"

namespace fault {

namespace {

bool is_temporary(const std::string& relative) {
  const std::string name = std::filesystem::path(relative).filename().string();
  return name.starts_with('.') && name.ends_with(".part");
}

std::string first_difference(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return " (" + std::to_string(a.size()) + " bytes, first difference at byte " + std::to_string(i) + ")";
}

// A file each run appends to (the log, a unit's QC file) may keep the record of a run that
// failed: the earlier run's bytes, whole, then the first whole lines a clean run appends.
bool cut_record(const std::string& bytes, const std::string& earlier, const std::string& clean) {
  return clean.size() > earlier.size() && clean.starts_with(earlier) && bytes.size() > earlier.size() &&
         clean.starts_with(bytes) && bytes.ends_with('\n');
}

// Files under final names: each one the earlier run's or a clean run's, none lost, none new.
void check_files(const Outcome& run, const Reference& ref, std::vector<std::string>& found) {
  for (const auto& [name, bytes] : run.files) {
    if (is_temporary(name)) {
      found.push_back("temporary left: " + name);
      continue;
    }
    const auto first = ref.first.find(name), second = ref.second.find(name);
    const auto midway = ref.midway.find(name);
    if (run.status != 0 && midway != ref.midway.end() && midway->second.contains(bytes)) continue;
    if (first == ref.first.end() && second == ref.second.end())
      found.push_back("a file no clean run writes: " + name);
    else if ((first == ref.first.end() || first->second != bytes) &&
             (second == ref.second.end() || second->second != bytes) &&
             (run.status == 0 || first == ref.first.end() || second == ref.second.end() ||
              !cut_record(bytes, first->second, second->second)))
      found.push_back("neither the earlier run's nor a clean run's: " + name +
                      first_difference(bytes, second == ref.second.end() ? first->second : second->second));
  }
  for (const auto& [name, bytes] : ref.first)
    if (!run.files.contains(name)) found.push_back("the earlier run's file is gone: " + name);
}

// A run that says it succeeded has written everything a clean run writes.
void check_success(const Outcome& run, const Reference& ref, std::vector<std::string>& found) {
  for (const auto& [name, bytes] : ref.second) {
    const auto it = run.files.find(name);
    if (it == run.files.end())
      found.push_back("exit 0, but missing: " + name);
    else if (it->second != bytes)
      found.push_back("exit 0, but not what a clean run writes: " + name + first_difference(it->second, bytes));
  }
}

// The line "ERROR: <what> <final path>: <cause>" on standard error; a failed close is no
// failure to open.
void check_error_line(const Fault& fault, const std::string& err, std::vector<std::string>& found) {
  const std::string cause = std::strerror(fault.error);
  std::istringstream lines(err);
  bool named = false;
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("ERROR: ")) continue;
    if (line.find(".part") != std::string::npos) found.push_back("an ERROR line names a temporary: " + line);
    if (fault.call == "close" && line.starts_with("ERROR: cannot open"))
      found.push_back("a close read as an open: " + line);
    named = named || line.find(": " + cause) != std::string::npos;
  }
  if (!named) found.push_back("no ERROR line naming \"" + cause + "\" on standard error");
}

}  // namespace

std::vector<std::string> problems(const Fault& fault, const Outcome& run, const Reference& ref) {
  std::vector<std::string> found;
  if (run.hung) found.push_back("hung: killed after its time");
  if (run.signal != 0) found.push_back("ended by signal " + std::to_string(run.signal) + " (" + strsignal(run.signal) + ")");
  check_files(run, ref, found);
  if (run.status == 0) {
    check_success(run, ref, found);
    if (fault.call == "fsync" || fault.call == "fdatasync")
      found.push_back("exit 0 after a failed " + fault.call + ": the outputs may not be on the device");
    if (run.lost_writes()) found.push_back("exit 0 after a failed close of a file written to: its bytes may be lost");
  } else if (fault.call == "pthread_create") {
    found.push_back("a thread that cannot start ends the run (status " + std::to_string(run.status) +
                    ") instead of its work being done on the engine's thread");
  } else {
    check_error_line(fault, run.err, found);
  }
  return found;
}

std::vector<std::string> clean_run_problems(const Outcome& run, const Reference& ref) {
  std::vector<std::string> found;
  if (run.status != 0) found.push_back("a run without a fault ends with status " + std::to_string(run.status));
  check_files(run, ref, found);
  check_success(run, ref, found);
  return found;
}

}  // namespace fault
