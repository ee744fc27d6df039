// The one way a packet program's run ends early: the failure site throws the failure (its
// exit code, console message, what failed, the final path and the cause), and pk_main
// prints it and turns it into the exit status after cleaning up.
#pragma once

#include <cstdio>
#include <string>

#include "common/failure.h"

namespace pk {

// The console message of a code, naming `name` where it has a %s.
std::string exit_message(ExitCode code, const std::string& name);
// The failure of a run ending with `code` on `name` (a temporary is named as its final
// file): its console message and what failed; the cause is `error`, or where that is 0
// what the code implies.
Failure fatal_failure(ExitCode code, const std::string& name = {}, int error = 0);

// Ends the run with `code`: throws its failure.
[[noreturn]] void shut_down(ExitCode code, const std::string& name = {}, int error = 0);
// The same where no call failed: `cause` says why.
[[noreturn]] void shut_down(ExitCode code, const std::string& name, const char* cause);
// Ends the run with `code` and a console message of its own instead of the code's.
[[noreturn]] void shut_down_saying(ExitCode code, const std::string& message, const std::string& name = {},
                                   int error = 0);

// What pk_main prints of a failed run: the console message, then the line on standard
// error. Allocates nothing.
void report_failure(const Failure& failure);

// Closes a file the run has written, if open. A write that failed on the way (stdio
// keeps the error) or at flushing or closing ends the run with code 22 naming `path`.
void close_checked(std::FILE*& file, const std::string& path);
// Flushes and closes a written file; 0 when all went well, else the errno of the failure
// (EIO when stdio kept an earlier error without one).
int close_stream_checked(std::FILE*& file);

}  // namespace pk
