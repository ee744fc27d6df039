// Run state of one packet conversion: settings, counters and the lists.
// Everything the engine and the writers share travels in one Run object.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <string>

#include "output_file.h"

namespace pk {

struct Unit_list_str;
struct Evt_list_str;
struct File_list_str;
class Writer;

// Thrown by shut_down and the other fatal paths; main turns it into the exit code.
struct Fatal {
  int code;
};

// Record framing of pk_seis's waveform files (-W): length-byte blocks of 128 bytes
// between 'K' and an end byte, or each record between two 4-byte lengths.
enum class SeiFraming : uint8_t { pc_blocks, length4 };

struct flag_strc {
  int32_t file_header_output = 0;
  int32_t recv_gather = 0;
  int32_t shot_gather = 0;
};

struct Run {
  // ---- settings (command line) ----
  std::string FileIn;
  std::string NewDir;
  uint32_t Samp_cnt = 4294967295u;
  uint32_t Trash_cnt = 0;
  float Samp_rate_cmd = 1000.0f;
  uint16_t Path_option = 0;
  int16_t Log_on = 0;
  int16_t Qcc_on = 0;
  uint8_t Verbose = 1;
  flag_strc Flag_info;
  uint8_t dont_log_dt = 0;
  SeiFraming Sei_framing = SeiFraming::pc_blocks;
  uint8_t dat32_raw = 1;
  std::string Cmd_line;
  std::string OrgDir;
  std::string FileIni;
  std::string FileQcc;
  std::string File_temp;  // input name without directory and extension
  std::time_t Sys_time = 0;

  // ---- conversion state ----
  std::FILE* FdIn = nullptr;
  std::FILE* FdQcc = nullptr;  // run-wide QCC file
  uint32_t Blk_cnt = 0;
  uint16_t N_opn_fls = 0;
  int16_t Eh_blk = 0;
  int sign = 0;                  // continuity mark of the last DT packet
  std::string Bit_weight = std::string(128, ' ');
  std::string Dir;               // output directory with trailing '/'
  std::array<uint32_t, 256> Undecoded_dt{};  // DT packets per data-format byte no decoder reads
  Unit_list_str* start = nullptr;  // current unit, head of the unit ring

  Writer* writer = nullptr;

  // Files written but not yet published; what is left when the run ends is deleted.
  Temporaries temps;
  // The run's start on the output file system's clock (see take_run_start); files
  // changed before it may be replaced.
  timespec Run_start{};

  Run() = default;
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
  ~Run();

  // Closes every file the run holds open (input, QCC, logs, channel data files).
  void close_all_files();
  // Frees every unit, event and channel node.
  void free_lists();
};

// Prints the message of `code` (with `name` where the message has a %s),
// closes all files and ends the run with that code.
[[noreturn]] void shut_down(Run& run, int code, const std::string& name = "");
// For the fatal paths that print their own message: closes all files and ends the run.
[[noreturn]] void exit_run(Run& run, int code);
// Closes a file the run has written, if open; a write that failed on the way (stdio
// keeps the error) or at closing ends the run with code 22 naming `path`.
void close_checked(Run& run, std::FILE*& file, const std::string& path);
// The text shut_down prints for a code.
std::string shut_down_message(int code, const std::string& name);

}  // namespace pk
