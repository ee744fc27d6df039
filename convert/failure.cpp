#include "convert/failure.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include "common/stop_signals.h"
#include "common/temporary_name.h"

namespace pk {

std::string exit_message(ExitCode code, const std::string& name) {
  switch (code) {
    case ExitCode::aborted: return "\nProgram aborted by user";
    case ExitCode::no_directory: return "\nUnable to change to directory " + name;
    case ExitCode::open_error: return "\nFile open error for " + name;
    case ExitCode::read_error: return "\nFile read error for " + name;
    case ExitCode::write_error: return "\nFile write error for " + name;
    case ExitCode::no_unique_name: return "\nERROR: unable to generate a unique filename " + name;
    case ExitCode::no_memory: return "\nMemory allocation error for " + name;
    default: return "\nUnknown error: processing terminated.";
  }
}

namespace {

const char* what_failed(ExitCode code) {
  switch (code) {
    case ExitCode::aborted: return "conversion stopped";
    case ExitCode::no_directory: return "cannot enter directory";
    case ExitCode::open_error: return "cannot open";
    case ExitCode::read_error: return "cannot read";
    case ExitCode::write_error: return "cannot write";
    case ExitCode::no_unique_name: return "no free file name left for";
    case ExitCode::no_memory: return "out of memory converting";
    case ExitCode::no_current_directory: return "cannot read the current directory";
    default: return "conversion failed";
  }
}

// Why a run ended where no call failed.
const char* implied_cause(ExitCode code) {
  if (code == ExitCode::aborted && stop_signal() != 0) return strsignal(stop_signal());
  if (code == ExitCode::no_unique_name) return "all 25 names are taken";
  return "unknown cause";
}

}  // namespace

Failure fatal_failure(ExitCode code, const std::string& name, int error) {
  const std::string shown = final_name(name);
  Failure failure(code, what_failed(code), shown, error, error == 0 ? implied_cause(code) : "");
  failure.message = exit_message(code, shown);
  return failure;
}

void shut_down(ExitCode code, const std::string& name, int error) { throw fatal_failure(code, name, error); }

void shut_down(ExitCode code, const std::string& name, const char* cause) {
  Failure failure = fatal_failure(code, name);
  failure.cause = cause;
  throw failure;
}

void shut_down_saying(ExitCode code, const std::string& message, const std::string& name, int error) {
  Failure failure = fatal_failure(code, name, error);
  failure.message = message;
  throw failure;
}

void report_failure(const Failure& failure) {
  std::fputs(failure.notice.c_str(), stderr);
  std::fputs(failure.message.c_str(), stdout);
  std::fflush(stdout);
  put_failure_line(stderr, failure);
}

int close_stream_checked(std::FILE*& file) {
  if (!file) return 0;
  const bool failed_before = std::ferror(file) != 0;
  errno = 0;
  int error = std::fflush(file) != 0 ? errno : 0;
  if (std::fclose(file) != 0 && error == 0) error = errno;
  file = nullptr;
  if (error == 0 && failed_before) error = EIO;
  return error;
}

void close_checked(std::FILE*& file, const std::string& path) {
  if (const int error = close_stream_checked(file)) shut_down(ExitCode::write_error, path, error);
}

}  // namespace pk
