// Run records that scripts/convert-deployment leaves in OUTPUT_DIR/runs: one per input and
// program, lines "key: value", then the run's console output with every line marked
// "stderr| " or "stdout| ".
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace report {

struct RunRecord {
  std::string record;  // the record file, relative to the report's directory
  std::string input, program, output, command;
  std::optional<int> status;  // none when the record holds no exit status
  std::vector<std::string> errors;   // standard error, line by line
  std::vector<std::string> console;  // the last lines of standard output
  std::string usage_error;           // the line a usage text followed on standard output
  std::string warning;               // the first "WARNING:" line of standard error

  bool succeeded() const { return status == 0; }
  // What to show of a run: its standard error, else its usage error, else the last line
  // it printed.
  std::string message() const;
  // A failed run on one line: "exit status 2: Unknown switch -Z".
  std::string failure() const;
  // What the traces a run wrote show of it: empty when it succeeded without a warning.
  std::string trace_status() const;
};

RunRecord parse_run_record(const std::string& text);
// Every "*.run" below `dir`/runs, sorted by input.
std::vector<RunRecord> read_run_records(const std::filesystem::path& dir);

}  // namespace report
