// The common switches of a packet program's run as its command line gave them; read-only
// once the command line is parsed. A program's own switches live in its writer.
#pragma once

#include <cstdint>
#include <string>

namespace pk {

struct Options {
  std::string FileIn;
  std::string NewDir;    // output directory; empty: the current one
  std::string Cmd_line;  // program path and every argument, for the file headers
  uint32_t sample_limit = 4294967295u;  // -S: samples a channel stores at most
  uint32_t discard_count = 0;               // -T: samples discarded at the start of each channel
  float Samp_rate_cmd = 1000.0f;        // -R: only shown
  uint16_t Path_option = 0;
  bool Log_on = false;
  bool Qcc_on = false;
  bool Verbose = true;
  bool dont_log_dt = false;  // DT packets left out of the log (pk_seis -D)
  bool durable = false;   // -Y: outputs synced to the device before they are named
};

}  // namespace pk
