// The one way a packet program's run ends early: an exit code, its message on the
// console, and an exception that pk_main turns into the exit status after cleaning up.
#pragma once

#include <cstdio>
#include <string>

namespace pk {

enum class ExitCode : int {
  ok = 0,
  aborted = 1,             // CTRL-C or SIGTERM
  nothing_to_convert = 1,  // an empty input, or one without a packet
  usage = 2,
  no_directory = 10,
  open_error = 20,
  read_error = 21,
  write_error = 22,
  no_unique_name = 23,
  unexpected_end = 29,
  no_memory = 40,
  memory_linkage = 41,
  scsi_reset = 130,
  scsi_ready = 131,
  scsi_mode = 132,
  scsi_format = 133,
  scsi_pelkan_format = 134,
  scsi_read = 135,
  scsi_write = 136,
  no_current_directory = 255,
};

// Thrown by shut_down_saying; carries the exit status.
struct Fatal {
  ExitCode code;
};

// The console message of a code, naming `name` where it has a %s.
std::string exit_message(ExitCode code, const std::string& name);

// Ends the run with `code` after printing its message.
[[noreturn]] void shut_down(ExitCode code, const std::string& name = {});
// Ends the run with `code` after printing `message`: the fatal paths with a text of
// their own, and shut_down itself.
[[noreturn]] void shut_down_saying(ExitCode code, const std::string& message);

// Closes a file the run has written, if open. A write that failed on the way (stdio
// keeps the error) or at closing ends the run with code 22 naming `path`.
void close_checked(std::FILE*& file, const std::string& path);

}  // namespace pk
