// What start-up settles for a whole run of a packet program (read-only afterwards), and
// the state of one conversion. Facts of one unit, event or channel live in their nodes
// (lists.h); where the files go lives in Outputs (output_file.h).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include "convert/damage_report.h"
#include "convert/lists.h"
#include "convert/options.h"
#include "convert/output_file.h"
#include "convert/sample_layout.h"

namespace pk {

class Writer;

// The settings file (PK_EDF.EDF or PKU.INI) as start-up found it, read once.
struct SettingsFile {
  std::string path;
  bool exists = false;
  std::optional<std::string> text;  // nothing when missing, a directory or unreadable
};

struct RunSetup {
  Options options;
  std::string program = "PK_SEGY";  // banner and file headers
  std::time_t Sys_time = 0;         // start of the run
  std::string OrgDir;               // where the run started
  std::string File_temp;            // input name without directory and extension
  std::string FileQcc;              // the run-wide QCC file
  SettingsFile settings;
};

// What every sample goes through on its way into a channel data file.
struct SampleRules {
  uint32_t sample_limit = 4294967295u;
  bool qcc = false;     // feed the QC sums
  SampleLayout layout;  // of the channel data files
};

// The state of one conversion, from the first packet to the end of the input.
struct Conversion {
  Conversion(const RunSetup& run, Writer& w, Outputs& out);
  // Stops the writes still queued and closes, unchecked, the run-wide QCC file a failed
  // run still holds.
  ~Conversion();
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  const RunSetup& setup;
  const Options& options;
  Writer& writer;
  Outputs& outputs;
  const SampleRules rules;

  std::FILE* FdQcc = nullptr;  // the run-wide QCC file
  std::string QccTemporary;    // where it is written until the run ends
  uint32_t Blk_cnt = 0;        // packets handled
  int sign = 0;                // continuity mark of the latest DT packet for the log
  DamageReport damage;
  Units units;
  OpenChannels open;
};

}  // namespace pk
