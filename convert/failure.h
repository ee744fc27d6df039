// The one way a packet program's run ends early: an exit code, its message on the
// console, a line saying what failed and why on standard error, and an exception that
// pk_main turns into the exit status after cleaning up.
#pragma once

#include <cstdio>
#include <string>

#include "common/failure.h"

namespace pk {

// Why something failed: the errno of the failing call, or a text where no call failed
// (a file cut short from outside, say).
struct Cause {
  Cause() = default;
  Cause(int error) : error(error) {}  // NOLINT: an errno reads as its cause
  Cause(const char* text) : text(text) {}  // NOLINT
  int error = 0;
  const char* text = nullptr;
};

// The console message of a code, naming `name` where it has a %s.
std::string exit_message(ExitCode code, const std::string& name);
// The line on standard error for a run ending with `code`: "ERROR: <what> <name>: <cause>".
// A temporary's name is given as the final file's.
std::string error_line(ExitCode code, const std::string& name, Cause cause);

// shut_down and shut_down_saying throw the failure (its exit code, what failed, the final
// path and the errno) for pk_main to turn into the exit status.
// Ends the run with `code` after printing its message, and its error line.
[[noreturn]] void shut_down(ExitCode code, const std::string& name = {}, Cause cause = {});
// Ends the run with `code` after printing `message`: the fatal paths with a text of
// their own, and shut_down itself. `name` and `cause` make the error line.
[[noreturn]] void shut_down_saying(ExitCode code, const std::string& message, const std::string& name = {},
                                   Cause cause = {});

// Closes a file the run has written, if open. A write that failed on the way (stdio
// keeps the error) or at flushing or closing ends the run with code 22 naming `path`.
void close_checked(std::FILE*& file, const std::string& path);
// Flushes and closes a written file; 0 when all went well, else the errno of the failure
// (EIO when stdio kept an earlier error without one).
int close_stream_checked(std::FILE*& file);

}  // namespace pk
