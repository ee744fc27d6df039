// How every program of the project ends a failed run: one list of exit codes, and one
// line on standard error saying what failed, on which file, and why.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

namespace pk {

enum class ExitCode : int {
  ok = 0,
  aborted = 1,             // CTRL-C, SIGTERM, SIGHUP, SIGQUIT or a closed output pipe
  nothing_to_convert = 1,  // an empty input, or one without a packet
  files_failed = 1,        // hbk2sac: a file that got no output, after its "ERROR: " line
  usage = 2,
  no_directory = 10,
  open_error = 20,  // pk_report: a report file that cannot be created
  read_error = 21,
  write_error = 22,
  no_unique_name = 23,
  no_memory = 40,
  interrupted = 130,  // hbk2sac: stopped by a signal
  no_current_directory = 255,
};

constexpr int status_of(ExitCode code) { return static_cast<int>(code); }

// What failed, on which file (its final name, or the directory that failed) and why: the
// errno of the failing call, or a text where no call failed (a file cut short from
// outside). A writer returns it, or the packet programs throw it, and the program's edge
// reports it: the packet programs print `message` on the console before the line.
struct Failure {
  Failure() = default;
  Failure(ExitCode code, std::string what, std::string path, int error_number, std::string cause = {})
      : code(code), what(std::move(what)), path(std::move(path)), error_number(error_number), cause(std::move(cause)) {}

  ExitCode code = ExitCode::ok;
  std::string what;
  std::string path;
  int error_number = 0;
  std::string cause;    // empty: the errno's text
  std::string message;  // the console text, exactly as printed
  std::string notice;   // a text of its own on standard error before the console text
  bool failed() const { return code != ExitCode::ok; }
  // The cause as the line gives it.
  const char* cause_text() const;
};

// "ERROR: <what> <path>: <cause>" and a newline; without a path "ERROR: <what>: <cause>".
std::string failure_line(const std::string& what, const std::string& path, const std::string& cause);
// The line of a failure.
std::string failure_line(const Failure& failure);
// Writes the line of a failure to `stream` without allocating: memory may be what ran out.
void put_failure_line(std::FILE* stream, const Failure& failure);

}  // namespace pk
