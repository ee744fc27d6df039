// The switches of a packet program's run as its command line gave them; read-only once
// the command line is parsed.
#pragma once

#include <cstdint>
#include <string>

namespace pk {

// Record framing of pk_seis's waveform files (-W): length-byte blocks of 128 bytes
// between 'K' and an end byte, or each record between two 4-byte lengths.
enum class SeiFraming : uint8_t { pc_blocks, length4 };

// pk_segy's -H and -G.
struct flag_strc {
  bool file_header_output = false;
  bool recv_gather = false;
  bool shot_gather = false;
};

struct Options {
  std::string FileIn;
  std::string NewDir;    // output directory; empty: the current one
  std::string Cmd_line;  // program path and every argument, for the file headers
  uint32_t sample_limit = 4294967295u;  // -S: samples a channel stores at most
  uint32_t Trash_cnt = 0;               // -T: samples discarded at the start of each channel
  float Samp_rate_cmd = 1000.0f;        // -R: only shown
  uint16_t Path_option = 0;
  bool Log_on = false;
  bool Qcc_on = false;
  bool Verbose = true;
  bool dont_log_dt = false;  // pk_seis -D
  flag_strc Flag_info;
  SeiFraming Sei_framing = SeiFraming::pc_blocks;
  bool dat32_raw = true;  // 32-bit samples stored as read; no switch changes it
  bool durable = false;   // -Y: outputs synced to the device before they are named
};

}  // namespace pk
