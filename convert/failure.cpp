#include "failure.h"

namespace pk {

std::string exit_message(ExitCode code, const std::string& name) {
  switch (code) {
    case ExitCode::aborted: return "\nProgram aborted by user";
    case ExitCode::no_directory: return "\nUnable to change to directory " + name;
    case ExitCode::open_error: return "\nFile open error for " + name;
    case ExitCode::read_error: return "\nFile read error for " + name;
    case ExitCode::write_error: return "\nFile write error for " + name;
    case ExitCode::no_unique_name: return "\nERROR: unable to generate a unique filename " + name;
    case ExitCode::unexpected_end: return "\nUnexpected end of file error on input";
    case ExitCode::no_memory: return "\nMemory allocation error for " + name;
    case ExitCode::memory_linkage: return "\nMemory linkage error";
    case ExitCode::scsi_reset: return "\nSCSI RESET error";
    case ExitCode::scsi_ready: return "\nSCSI READY error";
    case ExitCode::scsi_mode: return "\nSCSI MODE error";
    case ExitCode::scsi_format: return "\nSCSI LOW-LEVEL FORMAT error";
    case ExitCode::scsi_pelkan_format: return "\nSCSI PEL-KAN FORMAT error";
    case ExitCode::scsi_read: return "\nSCSI READ error";
    case ExitCode::scsi_write: return "\nSCSI WRITE error";
    default: return "\nUnknown error: processing terminated.";
  }
}

void shut_down(ExitCode code, const std::string& name) { shut_down_saying(code, exit_message(code, name)); }

void shut_down_saying(ExitCode code, const std::string& message) {
  std::fputs(message.c_str(), stdout);
  std::fflush(stdout);
  throw Fatal{code};
}

void close_checked(std::FILE*& file, const std::string& path) {
  if (!file) return;
  const bool failed = std::ferror(file) != 0;
  const int rc = std::fclose(file);
  file = nullptr;
  if (failed || rc != 0) shut_down(ExitCode::write_error, path);
}

}  // namespace pk
