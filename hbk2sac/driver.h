// The program flow of hbk2sac: switches, output directory, file patterns, and
// the block-by-block conversion of one HBK file into one SAC file.
#pragma once

#include "hbk2sac/sac_writer.h"
#include "common/failure.h"
#include "common/stop_signals.h"

#include <cstdint>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

namespace hbk {

// One above the smallest 32-bit integer, so it can never be confused with a
// clipped sample.
constexpr std::int32_t kGapFillValue = -2'147'483'647;

// Exit status of a run that printed an "ERROR: " line.
constexpr int kStatusError = pk::status_of(pk::ExitCode::files_failed);
// Exit status of a run that was stopped by CTRL-C, SIGTERM, SIGPIPE, SIGHUP or SIGQUIT.
constexpr int kStatusInterrupted = pk::status_of(pk::ExitCode::interrupted);
// Exit status of a run that ran out of memory (as the packet converters have it).
constexpr int kStatusNoMemory = pk::status_of(pk::ExitCode::no_memory);

using pk::StopSignals;

struct Context {
  std::ostream& console;
  std::ostream& errors;  // standard error: the causes of failures, arguments that name no file
  const StopSignals& stop;
  std::string& current;  // the argument or file being converted, for an out-of-memory line
  SacWriter writer;
  std::string output_dir;  // absolute and ending in "/", or empty
  bool durable = false;    // -y: each output reaches the device before its rename
  bool error_reported = false;
  bool console_failed = false;
};

void print_usage(std::ostream& out);

bool find_switch(const std::vector<std::string>& args, const std::string& sw);
std::string switch_value(const std::vector<std::string>& args, const std::string& sw,
                         const std::string& fallback);
// Whether `find_switch` or `switch_value` would take the argument for one of the
// program's switches (-l in every accepted form, -o:).
bool is_program_switch(const std::string& arg);

// `cwd` and `home` are passed in so the rule can be tested without touching
// the process state.
std::string expand_output_dir(const std::string& dir, const std::string& cwd,
                              const std::string& home);
std::string output_path_for(const std::string& input, const std::string& output_dir);

// The input files that one command-line argument names: directory part of the
// argument plus every non-directory entry whose name matches its last component.
// A directory that exists but cannot be listed sets `*error` (an errno) and names none.
std::vector<std::string> expand_argument(const std::string& arg, int* error = nullptr);

// Real-number form of a block number in the invalid-block warning.
std::string block_number_real(long number);

// Number of padding samples that fill `gap` microseconds at `rate` Hz up to,
// never past, the next block.
std::uint64_t padding_count(Micros gap, std::uint32_t rate);

// Converts one file into one SAC file, or reports why not with an "ERROR: " line on
// standard output and one with the cause on standard error, and leaves no SAC file
// of its own (an earlier one of that name stays).
void convert_file(Context& ctx, const std::string& path);

// 0 when every file converted, kStatusError after an "ERROR: " line,
// kStatusInterrupted after a stop signal, kStatusNoMemory when memory ran out.
int run(const std::vector<std::string>& args, std::ostream& console,
        std::ostream& errors = std::cerr);

}  // namespace hbk
