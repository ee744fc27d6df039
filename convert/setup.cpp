#include "convert/setup.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/failure.h"
#include "convert/helpers.h"
#include "convert/lists.h"
#include "convert/loop.h"
#include "common/pkfile.h"
#include "common/stop_signals.h"
#include "convert/writer.h"

namespace pk {

const char* const kVersion = "03.22A  ";
const char* const kMakerLine = "Copyright (C) 2003 PELKAN";

float parse_rate_text(const std::string& text, std::size_t n) {
  // Texts of any length are parsed whole; no fixed working copy.
  const std::string t = (n == 0 || n >= text.size()) ? text : text.substr(0, n);
  if (t.empty()) return 0.0f;
  const std::size_t slash = t.find('/');
  const float value = std::strtof(t.substr(0, slash).c_str(), nullptr);
  if (slash == std::string::npos) return value;
  const float divisor = std::strtof(t.substr(slash + 1).c_str(), nullptr);
  return divisor != 0.0f ? value / divisor : value;
}

bool yes_no(char c, bool& flag) {
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c == 'Y' || c == '+') { flag = true; return true; }
  if (c == 'N' || c == '-') { flag = false; return true; }
  return false;
}

std::string invalid_switch_value(const std::string& arg) {
  return "Invalid value for switch " + arg.substr(0, 2) + ": " + (arg.size() > 2 ? arg.substr(2) : std::string());
}

namespace {

// strtoul's number forms (base 0: decimal, 0x hex, leading 0 octal; or base 10), as the
// whole text, without blanks or sign, within 32 bits.
std::optional<uint32_t> whole_number(const std::string& text, int base) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(v);
}

bool decimal_text(std::string_view s) {
  const auto digits = [](std::string_view d) {
    return std::all_of(d.begin(), d.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
  };
  const std::size_t dot = s.find('.');
  if (dot == std::string_view::npos) return !s.empty() && digits(s);
  return s.size() > 1 && digits(s.substr(0, dot)) && digits(s.substr(dot + 1));
}

// A decimal number, or "a/b" of two.
bool rate_text(std::string_view s) {
  const std::size_t slash = s.find('/');
  if (slash == std::string_view::npos) return decimal_text(s);
  return decimal_text(s.substr(0, slash)) && decimal_text(s.substr(slash + 1));
}

bool set_number(const std::string& text, int base, uint32_t& setting) {
  const auto n = whole_number(text, base);
  if (n) setting = *n;
  return n.has_value();
}

// Applies one switch argument ("-Xvalue"). Nothing when it is taken; otherwise the line
// naming what is wrong with it.
std::optional<std::string> apply_switch(Options& options, Writer& writer, const std::string& a) {
  const char letter = a.size() > 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(a[1]))) : '\0';
  const char c = a.size() > 2 ? a[2] : '\0';
  const std::string value = a.size() > 2 ? a.substr(2) : std::string();
  const std::string invalid = invalid_switch_value(a);
  uint32_t number = 0;
  if (writer.takes_switch(letter)) return writer.apply_switch(options, a);
  switch (letter) {
    case 'L': return yes_no(c, options.Log_on) ? std::nullopt : std::optional(invalid);
    case 'Q': return yes_no(c, options.Qcc_on) ? std::nullopt : std::optional(invalid);
    case 'V': return yes_no(c, options.Verbose) ? std::nullopt : std::optional(invalid);
    case 'P':
      if (!set_number(value, 10, number)) return invalid;
      // Levels above 4 all mean the deepest layout; a large number must not wrap to 0.
      options.Path_option = static_cast<uint16_t>(std::min<uint32_t>(number, 0xFFFF));
      return std::nullopt;
    case 'R':
      if (!rate_text(value) || !std::isfinite(parse_rate_text(value))) return invalid;
      options.Samp_rate_cmd = parse_rate_text(value);
      return std::nullopt;
    case 'S': return set_number(value, 0, options.sample_limit) ? std::nullopt : std::optional(invalid);
    case 'T': return set_number(value, 0, options.discard_count) ? std::nullopt : std::optional(invalid);
    case 'Y':
      if (value.empty()) options.durable = true;
      else if (!yes_no(c, options.durable)) return invalid;
      return std::nullopt;
    default: return "Unknown switch " + a.substr(0, 2);
  }
}

}  // namespace

ParseResult parse_command_line(Options& options, Writer& writer, const std::vector<std::string>& args,
                               std::string* complaint) {
  options.Cmd_line = args.empty() ? std::string() : args[0];
  int plain = 0;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!a.empty() && a[0] == '?') return ParseResult::usage;
    // A leading '/' starts a path on this platform, so only '-' introduces a switch.
    if (a.size() >= 1 && a[0] == '-') {
      options.Cmd_line += " " + a;
      if (auto why = apply_switch(options, writer, a)) {
        if (complaint) *complaint = std::move(*why);
        return ParseResult::usage;
      }
      continue;
    }
    if (options.FileIn.empty() && plain == 0) {
      options.FileIn = a;
    } else if (plain <= 1 && options.NewDir.empty()) {
      options.NewDir = a;
    } else {
      return ParseResult::usage;
    }
    ++plain;
  }
  if (options.FileIn.empty()) return ParseResult::usage;
  options.Cmd_line += " " + options.FileIn + " " + options.NewDir;
  return ParseResult::ok;
}

std::string syntax(const Options& options, const Writer& writer) {
  std::string s;
  s += "\r\n\nPurpose:";
  s += "\r\n   Reads a file containing PASSCAL data packets and converts";
  s += std::string("\r\n   ") + writer.info().format_purpose;
  s += "\r\n\nUsage:";
  s += format("\r\n   %s [switches] sourceFile [output_path][switches]", writer.info().name);
  s += "\r\n\nSwitches:";
  s += "\r\n Switches               Description                               Default    ";
  s += "\r\n ----------------------------------------------------------------------------";
  s += writer.usage_leading(options);
  s += format("\r\n   -Lc     LOG File output: Y, +, N or -                          (%s)", "NO");
  s += format("\r\n   -Pn     output Path levels                                     (%d)", options.Path_option);
  s += "\r\n             0 = no additional subdirectories                               ";
  s += "\r\n             1 = one subdirectory level:  YYYY_DDD                          ";
  s += "\r\n             2 = two subdirectory levels: YYYY_DDD, then HH                 ";
  s += "\r\n             3 = two subdirectory levels: YYYY_DDD, then HH_MM              ";
  s += "\r\n             4 = two subdirectory levels: YYYY_DDD, then HH_MM_SS           ";
  s += format("\r\n   -Qc     QCC File output: Y, +, N or -                          (%s)", "NO");
  s += format("\r\n   -Rn     Sample Rate                                            (%u)", 1000u);
  s += format("\r\n   -Sn     sample Count per channel per event                     (%lu)", 4294967295ul);
  s += format("\r\n   -Tn     Trash n samples from each event                        (%lu)",
              static_cast<unsigned long>(options.discard_count));
  s += format("\r\n   -Vc     Verbose message output: Y, +, N or -                   (%s)", "ENABLED");
  s += "\r\n\n[] = Optional    () = default";
  s += "\r\nSwitches may appear anywhere on the command line.";
  s += "\r\nArguments and switches are not case sensitive.";
  s += "\r\n";
  s += writer.usage_trailing(options);
  s += format("\r\n   -Y      durable outputs: synced to the device before named     (%s)", options.durable ? "YES" : "NO");
  s += "\r\n";
  return s;
}

std::string run_summary(const Options& options) {
  std::string s;
  s += "\n\n     Input File : " + options.FileIn;
  s += "\n    Output Path : " + options.NewDir;
  s += format("\n    Sample Rate : %.4f", static_cast<double>(options.Samp_rate_cmd));
  s += format("\n    Max Samples : %lu", static_cast<unsigned long>(options.sample_limit));
  s += format("\n   Skip Samples : %lu", static_cast<unsigned long>(options.discard_count));
  s += std::string("\n     Output QCC : ") + (options.Qcc_on ? "YES" : "NO");
  s += std::string("\n    Log DT Blks : ") + (options.dont_log_dt ? "NO" : "YES");
  s += "\n\nPress CTRL-BRK or CTRL-C to abort.\n";
  return s;
}

void fhdr_log(const RunSetup& run, std::FILE* file) {
  const Options& o = run.options;
  char when[32] = "";
  std::time_t t = run.Sys_time;
  if (const char* c = std::ctime(&t)) std::snprintf(when, sizeof when, "%.24s", c);
  std::fprintf(file, "%s - Version PKU%s", run.program.c_str(), kVersion);
  std::fprintf(file, "\r\n%s", kMakerLine);
  std::fprintf(file, "\r\nSystem time: %.24s", when);
  std::fprintf(file, "\r\n\r\n     Input File : %s", o.FileIn.c_str());
  std::fprintf(file, "\r\n    Output Path : %s", o.NewDir.c_str());
  std::fprintf(file, "\r\n   Command Line : %s", o.Cmd_line.c_str());
  std::fprintf(file, "\r\n    Sample Rate : %.4f", static_cast<double>(o.Samp_rate_cmd));
  std::fprintf(file, "\r\n    Max Samples : %lu", static_cast<unsigned long>(o.sample_limit));
  std::fprintf(file, "\r\n   Skip Samples : %lu", static_cast<unsigned long>(o.discard_count));
  // 32-bit samples are always stored as read.
  std::fprintf(file, "\r\n    Data Output : RAW");
  std::fprintf(file, "\r\n     Output QCC : %s", o.Qcc_on ? "YES" : "NO");
  std::fprintf(file, "\r\n    Log DT Blks : %s", o.dont_log_dt ? "NO" : "YES");
  std::fprintf(file, "\r\n\r\n");
}

void fhdr_qcc(const RunSetup& run, std::FILE* file) {
  fhdr_log(run, file);
  std::fprintf(file, "\r\n\r\n");
}

std::optional<std::string> read_settings_text(const std::string& path) {
  const FilePtr f(std::fopen(path.c_str(), "rb"));
  if (!f) return std::nullopt;
  struct stat st {};
  std::string text;
  bool ok = ::fstat(::fileno(f.get()), &st) == 0 && !S_ISDIR(st.st_mode);
  char buf[4096];
  for (std::size_t n; ok && (n = std::fread(buf, 1, sizeof buf, f.get())) > 0;) text.append(buf, n);
  if (!ok || std::ferror(f.get())) return std::nullopt;
  return text;
}

namespace {

std::string base_name_without_extension(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

bool is_directory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Environment variable PKU, else the current (output) directory, else the program's directory.
std::string locate_settings_file(const RunSetup& run, const Writer& writer, const std::string& program) {
  const std::string name = writer.info().settings_file;
  if (const char* env = std::getenv("PKU"); env && *env) return env;
  if (fexist(name) && !is_directory(name)) return name;
  const std::size_t slash = program.find_last_of('/');
  std::string dir = slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
  // A relative program directory was relative to where we started, not to the output directory.
  if (!run.options.NewDir.empty() && (dir.empty() || dir[0] != '/')) dir = run.OrgDir + "/" + dir;
  return dir + name;
}

// The settings file is read once; the writer decides what counts as missing.
void read_settings(RunSetup& run, const Writer& writer, const std::string& program) {
  SettingsFile& s = run.settings;
  s.path = locate_settings_file(run, writer, program);
  s.exists = fexist(s.path) != 0;
  s.text = read_settings_text(s.path);
  if (!writer.settings_usable(s)) std::fputs(writer.info().missing_settings, stdout);
}

void report_no_packet(const std::string& input, const char* why = nullptr) {
  std::fflush(stdout);
  std::fprintf(stderr, "ERROR: no PASSCAL packet found in %s%s%s\n", input.c_str(), why ? ": " : "", why ? why : "");
}

// Whether any whole 1024-byte block of the input has a known packet type. Reads up to the
// first one and goes back to the start.
bool input_has_packet(PacketInput& in) {
  uint8_t packet[kPacketSize];
  bool found = false;
  while (!found && read_block(in, packet)) found = code_set(packet) != PacketType::unknown;
  if (std::fseek(in.file.get(), 0, SEEK_SET) != 0) shut_down(ExitCode::read_error, in.name, errno);
  return found;
}

// Few, large reads of the input.
constexpr std::size_t kInputBuffer = 256 * 1024;

// Opens the input; false when it holds nothing to convert: when it is empty (silently),
// or when not one block is a known packet. Checked before anything is created, so that
// a wrong file leaves no outputs behind.
bool open_input(PacketInput& in) {
  in.file.reset(fopen_pk(in.name, "rb"));
  if (!in.file) shut_down(ExitCode::open_error, in.name, errno);
  // glibc takes a size only with a buffer; without one it reads 4 KiB at a time.
  in.buffer.resize(kInputBuffer);
  std::setvbuf(in.file.get(), in.buffer.data(), _IOFBF, in.buffer.size());
  const bool seekable = std::fseek(in.file.get(), 0, SEEK_END) == 0;
  if (seekable && std::ftell(in.file.get()) == 0) {
    report_no_packet(in.name, "the file is empty");
    return false;
  }
  std::rewind(in.file.get());
  if (seekable && !input_has_packet(in)) {
    report_no_packet(in.name);
    return false;
  }
  return true;
}

void enter_output_directory(RunSetup& run, Outputs& out) {
  run.OrgDir = current_directory();
  const std::string& dir = run.options.NewDir;
  if (!dir.empty() && ::chdir(dir.c_str()) != 0) shut_down(ExitCode::no_directory, dir, errno);
  const std::string here = current_directory();
  if (here.empty()) shut_down_saying(ExitCode::no_current_directory, "\nUnable to get current directory!", {}, errno);
  out.Dir = here + "/";
  out.Path_option = run.options.Path_option;
  out.durable = run.options.durable;
  out.appended.durable = run.options.durable;
}

// The run-wide QCC file is written afresh by every run: under a temporary name, so that
// an earlier run's stays whole until this one's is.
void open_run_qcc(Conversion& conv) {
  conv.QccTemporary = create_temporary(conv.outputs, conv.outputs.Dir, conv.setup.FileQcc);
  conv.FdQcc = fopen_pk(conv.QccTemporary, "wb");
  if (!conv.FdQcc) shut_down(ExitCode::open_error, conv.QccTemporary, errno);
  fhdr_qcc(conv.setup, conv.FdQcc);
}

// The files open to the end, closed with their errors checked: a full disk fails the run.
void close_run_files(Conversion& conv) {
  close_unit_log(conv, conv.units.start);
  close_unit_qcc(conv, conv.units.start);
  close_checked(conv.FdQcc, conv.QccTemporary);
}

int convert(const RunSetup& run, Outputs& out, Writer& writer, PacketInput& in) {
  Conversion conv(run, writer, out);
  if (run.options.Qcc_on) open_run_qcc(conv);
  pk_cvt(conv, in);
  if (stop_requested()) shut_down(ExitCode::aborted);
  close_run_files(conv);
  writer.finish(out);
  std::fputs("\r\n", stdout);
  // A pipe cannot be checked beforehand: a unit comes with the first known packet.
  if (!conv.units.start) {
    report_no_packet(run.options.FileIn);
    return static_cast<int>(ExitCode::nothing_to_convert);
  }
  if (run.options.Qcc_on) {
    rename_into_place(out, conv.QccTemporary, out.Dir + run.FileQcc);
    if (out.durable) sync_directory(out.Dir);
  }
  std::fflush(stdout);
  conv.damage.write(stderr, "\n");
  writer.write_notes(stderr);
  return static_cast<int>(ExitCode::ok);
}

bool parse_or_explain(RunSetup& run, Writer& writer, const std::vector<std::string>& args) {
  std::string complaint;
  if (parse_command_line(run.options, writer, args, &complaint) == ParseResult::ok) return true;
  if (!complaint.empty()) std::printf("\n%s", complaint.c_str());
  std::fputs(syntax(run.options, writer).c_str(), stdout);
  std::fflush(stdout);
  const bool asked = std::any_of(args.begin() + (args.empty() ? 0 : 1), args.end(),
                                 [](const std::string& a) { return a.starts_with("?"); });
  if (complaint.empty()) complaint = asked ? "Usage text asked for" : run.options.FileIn.empty() ? "No input file given"
                                                                                               : "Too many file names";
  std::fprintf(stderr, "ERROR: %s\n", complaint.c_str());
  return false;
}

int run_program(RunSetup& run, Outputs& out, Writer& writer, const std::vector<std::string>& args,
                std::optional<StopSignals>& interrupts) {
  std::printf("\n%s - Version %s", run.program.c_str(), kVersion);
  std::printf("\n%s", kMakerLine);
  run.Sys_time = std::time(nullptr);
  if (!parse_or_explain(run, writer, args)) return static_cast<int>(ExitCode::usage);
  std::fputs(run_summary(run.options).c_str(), stdout);

  PacketInput in{{}, nullptr, run.options.FileIn};
  if (!open_input(in)) return static_cast<int>(ExitCode::nothing_to_convert);
  enter_output_directory(run, out);
  // From here on CTRL-C ends the run with code 1; what it had not finished goes with it.
  interrupts.emplace();
  take_run_start(out);
  read_settings(run, writer, args.empty() ? std::string() : args[0]);
  run.File_temp = base_name_without_extension(run.options.FileIn);
  run.FileQcc = run.File_temp + ".QCC";
  return convert(run, out, writer, in);
}

std::string lower_case(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Out of memory: the message of code 40 and the error line, put together without
// allocating.
int out_of_memory(const std::string& name) {
  std::fputs("\nMemory allocation error for ", stdout);
  std::fputs(name.c_str(), stdout);
  std::fflush(stdout);
  std::fputs("ERROR: out of memory converting ", stderr);
  std::fputs(name.c_str(), stderr);
  std::fputs(": ", stderr);
  std::fputs(std::strerror(ENOMEM), stderr);
  std::fputs("\n", stderr);
  return static_cast<int>(ExitCode::no_memory);
}

// The run's exit code, a fatal one included. Running out of memory anywhere ends the run
// as a fatal error does, with code 40. A run that fails leaves the logs and QCC files it
// appended to as they were before it; its temporaries go with `out`.
// The stop signals stay caught while a failure is told and the appended files are cut
// back, so that neither a closed pipe nor a second CTRL-C cuts that short.
int run_or_fail(RunSetup& run, Outputs& out, Writer& writer, const std::vector<std::string>& args) {
  int code = static_cast<int>(ExitCode::ok);
  std::optional<StopSignals> interrupts;
  try {
    code = run_program(run, out, writer, args, interrupts);
  } catch (const Failure& f) {
    report_failure(f);
    code = static_cast<int>(f.code);
  } catch (const std::bad_alloc&) {
    code = out_of_memory(run.options.FileIn);
  }
  if (code != static_cast<int>(ExitCode::ok)) out.appended.cut_back_all();
  return code;
}

int run_in(Writer& writer, const std::vector<std::string>& args, RunSetup& run) {
  int code;
  {
    // Whatever the run had not published goes when `out` does; finished outputs stay.
    Outputs out(lower_case(run.program));
    code = run_or_fail(run, out, writer, args);
  }
  std::fflush(stdout);
  // Back where we started, after a fatal error too. Should that fail, nothing is left to
  // do there and the run's result stands; it is said all the same.
  if (!run.OrgDir.empty() && ::chdir(run.OrgDir.c_str()) != 0)
    std::fprintf(stderr, "WARNING: cannot return to directory %s: %s\n", run.OrgDir.c_str(), std::strerror(errno));
  return code;
}

}  // namespace

int pk_main(int argc, char** argv, Writer& writer) {
  // Memory that runs out before the run has begun or after it has ended.
  try {
    const std::vector<std::string> args(argv, argv + argc);
    RunSetup run;
    run.program = writer.info().name;
    return run_in(writer, args, run);
  } catch (const std::bad_alloc&) {
    return out_of_memory("the run");
  }
}

}  // namespace pk
