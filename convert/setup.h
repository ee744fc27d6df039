// Command line, run setup and the run-wide file headers of the packet programs.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "convert/options.h"
#include "convert/run.h"

namespace pk {

class Writer;

// Entry of every packet program: returns the exit code.
int pk_main(int argc, char** argv, Writer& writer);

// What parsing the command line decided.
// With a usage error, `complaint` receives a line naming the switch at fault, if any.
enum class ParseResult { ok, usage };
ParseResult parse_command_line(Options& options, Writer& writer, const std::vector<std::string>& args,
                               std::string* complaint = nullptr);

// A switch's on/off value: Y or + switches on, N or - off; false for anything else.
bool yes_no(char c, bool& flag);
// "Invalid value for switch -X: value" for the switch argument "-Xvalue".
std::string invalid_switch_value(const std::string& arg);

// The usage text for the current settings.
std::string syntax(const Options& options, const Writer& writer);
// Run summary printed before conversion.
std::string run_summary(const Options& options);

// Decimal number of the first n characters of text (0: all of it); "a/b" divides.
float parse_rate_text(const std::string& text, std::size_t n = 0);

// The whole settings file; nothing when it cannot be read (missing, a directory, no access).
std::optional<std::string> read_settings_text(const std::string& path);

// The run header of every log and QCC file.
void fhdr_log(const RunSetup& run, std::FILE* file);
void fhdr_qcc(const RunSetup& run, std::FILE* file);
// The maker line that follows the version line in the banner and the file headers.
extern const char* const kMakerLine;
extern const char* const kVersion;

}  // namespace pk
