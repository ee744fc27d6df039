#include "hbk2sac/driver.h"

#include "hbk2sac/block_reader.h"
#include "hbk2sac/directories.h"
#include "hbk2sac/pending_output.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <system_error>

namespace hbk {

namespace fs = std::filesystem;

namespace {

bool starts_with_ignoring_case(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(text[i])) !=
        std::toupper(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

bool any_starts_with(const std::vector<std::string>& args, const std::string& sw) {
  for (const std::string& a : args)
    if (starts_with_ignoring_case(a, sw)) return true;
  return false;
}

std::string base_name(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directory_part(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Symbolic links are followed; an entry that cannot be examined is listed, and its
// conversion says what is wrong with it.
bool names_directory(DIR* listing, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) return entry.d_type == DT_DIR;
  struct stat st {};
  return ::fstatat(::dirfd(listing), entry.d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// Empty when it cannot be had.
std::string home_directory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
    return pw->pw_dir;
  return "";
}

// The output directory made absolute. A relative name needs the current directory and
// "~" the home directory; when that cannot be had the run must not guess one (writing
// below "/" instead): returns the errno, 0 when all is well.
int absolute_output_dir(const std::string& dir, std::string& absolute) {
  std::string cwd, home;
  const bool from_home = dir == "~" || dir.starts_with("~/");
  if (from_home && (home = home_directory()).empty()) return ENOENT;
  if (!from_home && !dir.empty() && dir[0] != '/') {
    const std::unique_ptr<char, void (*)(void*)> current(::getcwd(nullptr, 0), std::free);
    if (current == nullptr) return errno;
    cwd = current.get();
  }
  absolute = expand_output_dir(dir, cwd, home);
  return 0;
}

// A file that gets no SAC file: the console's line naming it, and the cause on standard
// error (`error`, or `cause` where no call failed).
pk::Failure file_failure(const std::string& console_what, const std::string& what, const std::string& path,
                         int error, std::string cause = {}) {
  pk::Failure failure(pk::ExitCode::files_failed, what, path, error, std::move(cause));
  failure.message = "ERROR: " + console_what + " \"" + path + "\"\n";
  return failure;
}

// Every failure is told here: its console line, if any, then once more on standard error
// with its cause, for scripts and logs. Standard output goes first, so that on one
// terminal the lines keep their order. After CTRL-C the run ends without reporting
// anything else: a read or open cut short by the signal is no fault of the file.
void report(Context& ctx, const pk::Failure& failure) {
  if (ctx.stop.requested()) return;
  ctx.console << failure.message;
  ctx.console.flush();
  ctx.errors << pk::failure_line(failure);
  ctx.error_reported = true;
}

// A failure beside the file's conversion: no console line.
void report(Context& ctx, const std::string& what, const std::string& path, int error) {
  report(ctx, pk::Failure(pk::ExitCode::files_failed, what, path, error));
}

void warn_invalid_block(std::ostream& out, long number) {
  out << "WARNING: Invalid block " << block_number_real(number) << ", skipping\n";
}

// Walks the blocks of one file and feeds the writer. Kept apart from the
// file handling so that the block rules read as one sequence.
class BlockWalk {
 public:
  BlockWalk(Context& ctx, const Block& first)
      : ctx_(ctx), first_(first), expected_(block_start_time(first)),
        rate_(rate_from_code(block_rate_code(first))) {}

  // False once writing to the output has failed.
  bool handle(const Block& b, long number) {
    std::ostream& out = ctx_.console;
    if (!block_is_valid(b)) {
      warn_invalid_block(out, number);
      return true;
    }
    if (block_sysid(b) != block_sysid(first_)) {
      out << "WARNING: Mismatched SysID found in block " << number << ", skipping.\n";
      return true;
    }
    if (block_streamid(b) != block_streamid(first_)) {
      out << "WARNING: Mismatched StreamID found in block " << number << ", skipping.\n";
      return true;
    }
    if (block_rate_code(b) != block_rate_code(first_)) {
      out << "WARNING: Mismatched Samplerate found in block " << number << ", skipping.\n";
      return true;
    }
    const Micros t = block_start_time(b);
    const std::uint64_t padding = expected_ < t ? padding_count(t - expected_, rate_) : 0;
    if (expected_ <= t && !room_for(padding + block_sample_count(b))) {
      out << "WARNING: Block " << number << " would pass " << max_samples
          << " samples, skipping.\n";
      return true;
    }
    if (expected_ < t) {
      out << "WARNING: Gap in Data detected, padding with " << kGapFillValue << '\n';
      pad(padding);
      expected_ = t;
    }
    if (expected_ == t) {
      expected_ = block_end_time(b);
      const unsigned n = expand_samples(b, samples_);
      ctx_.writer.sac_put_samples({samples_.data(), n});
    } else {
      out << "WARNING: Old Data detected - block skipped\n";
    }
    return !ctx_.writer.failed();
  }

 private:
  // npts is a signed 32-bit header field; a block with a wild time code
  // must not make it wrap.
  static constexpr std::uint64_t max_samples = std::numeric_limits<std::int32_t>::max();

  bool room_for(std::uint64_t samples) const {
    return samples <= max_samples - std::uint64_t(ctx_.writer.sample_count());
  }

  // Once the disk refuses, the rest of a long gap would only be counted, not written;
  // a gap of months must not hold up CTRL-C either.
  void pad(std::uint64_t count) {
    samples_.fill(kGapFillValue);
    SacWriter& w = ctx_.writer;
    while (count > 0 && !w.failed() && !ctx_.stop.requested()) {
      const std::size_t n = std::min<std::uint64_t>(count, samples_.size());
      w.sac_put_samples({samples_.data(), n});
      count -= n;
    }
  }

  Context& ctx_;
  const Block& first_;
  Micros expected_;
  std::uint32_t rate_;
  BlockSamples samples_;
};

// What a block's warning needs: its identifiers, rate and packing, not its samples.
using BlockHead = std::array<std::uint8_t, off::initial>;

Block block_from_head(const BlockHead& head) {
  Block b{};
  std::copy(head.begin(), head.end(), b.begin());
  return b;
}

// The first block that is valid and has a sample rate fixes the file's system, stream,
// rate, header and start time. Blocks before it are damaged or carry no rate; only
// their heads are kept, to be warned of in their turn once the stream is known.
struct FileLead {
  Block reference{};  // host order
  std::vector<BlockHead> before;
};

// Whether the reference was found; false also when the input could not be read or the
// run was stopped.
bool find_reference(Context& ctx, BlockReader& in, FileLead& lead) {
  Block& b = lead.reference;
  for (const Block* stored; !ctx.stop.requested() && (stored = in.next()) != nullptr;) {
    b = *stored;
    swap_block(b);
    if (block_is_valid(b) && block_rate_code(b) != 0) return true;
    BlockHead& head = lead.before.emplace_back();
    std::copy_n(b.begin(), head.size(), head.begin());
  }
  return false;
}

// Not one block could fix the stream: the invalid ones are warned of as usual, and
// the file gets no SAC file.
pk::Failure refuse_file(Context& ctx, const FileLead& lead, const std::string& path) {
  bool any_valid = false;
  long number = 0;
  for (const BlockHead& head : lead.before) {
    ++number;
    if (block_is_valid(block_from_head(head)))
      any_valid = true;
    else
      warn_invalid_block(ctx.console, number);
  }
  const std::string reason = lead.before.empty() ? "no complete block"
                             : any_valid         ? "no block with a sample rate"
                                                 : "no valid block";
  return file_failure(reason + " in file", "cannot convert", path, 0, reason);
}

// Why the SAC file is not whole; none when it is, or when the run was stopped.
pk::Failure write_sac(Context& ctx, BlockReader& in, PendingOutput& out, const FileLead& lead) {
  SacWriter& w = ctx.writer;
  w.attach(out.file());
  w.sac_header_from_block(lead.reference);
  w.sac_write_header();

  BlockWalk walk(ctx, lead.reference);
  long number = 0;
  bool going = !w.failed();
  for (const BlockHead& head : lead.before) going = going && walk.handle(block_from_head(head), ++number);
  going = going && walk.handle(lead.reference, ++number);
  Block* b = nullptr;
  while (going && !ctx.stop.requested() && (b = in.next()) != nullptr) {
    swap_block(*b);
    going = walk.handle(*b, ++number);
  }
  if (going && !ctx.stop.requested() && in.error() == 0 && in.partial_bytes() > 0)
    ctx.console << "WARNING: Partial block of " << in.partial_bytes()
                << " bytes at the end of the file, skipping; any samples in it are missing\n";

  w.sac_write_header();
  w.flush();
  if (ctx.stop.requested()) return {};
  if (w.failed()) return file_failure("cannot write file", "cannot write", out.final_path(), w.error());
  if (in.error() != 0) return file_failure("cannot read file", "cannot read", in.path(), in.error());
  if (w.sample_count() == 0)
    return file_failure("no usable block in file", "cannot convert", in.path(), 0, "no usable block");
  return {};
}

// Renames a whole SAC file to its final name; in every other case the temporary
// goes with `out` and an earlier file of the final name stays as it was.
pk::Failure finish_output(Context& ctx, PendingOutput& out, const FileLead& lead, BlockReader& in) {
  pk::Failure failure = write_sac(ctx, in, out, lead);
  ctx.writer.attach(nullptr);
  if (failure.failed() || ctx.stop.requested()) return failure;
  failure = out.commit(ctx.durable);
  // A directory that could not be synced leaves the file in place under its final name.
  if (failure.failed() && failure.path == out.final_path())
    failure.message = "ERROR: " + failure.what + " file \"" + failure.path + "\"\n";
  return failure;
}

// The directory is made again for every file, as a run may take long; the console
// keeps its line for the file, standard error names the level that failed.
bool make_output_directory(Context& ctx, const std::string& out_path) {
  if (ctx.output_dir.empty()) return true;
  std::string failed;
  const int error = make_directories(ctx.output_dir, ctx.durable, failed);
  if (error == 0) return true;
  pk::Failure failure = file_failure("cannot create file", "cannot create directory", out_path, error);
  failure.path = failed;
  report(ctx, failure);
  return false;
}

// Standard output goes first, so that on one terminal the lines keep their order.
void warn_no_match(Context& ctx, const std::string& arg) {
  ctx.console.flush();
  ctx.errors << "WARNING: no file matches " << arg << '\n';
}

// Standard output is checked after each file, while the cause of a failed write is
// likely still the last one.
void check_console(Context& ctx) {
  if (ctx.console_failed || ctx.console.flush()) return;
  const int error = errno;
  ctx.console_failed = true;
  report(ctx, "cannot write", "standard output", error);
}

void convert_argument(Context& ctx, const std::string& arg) {
  ctx.current = arg;
  int listing_error = 0;
  const std::vector<std::string> files = expand_argument(arg, &listing_error);
  if (listing_error == ENOMEM) throw std::bad_alloc();
  if (listing_error != 0 && !is_program_switch(arg))
    report(ctx, "cannot list directory", directory_of(arg), listing_error);
  else if (files.empty() && !is_program_switch(arg))
    warn_no_match(ctx, arg);
  ctx.writer.sac_init_header();
  for (const std::string& file : files) {
    if (ctx.stop.requested()) return;
    ctx.current = file;
    ctx.console << "Converting " << base_name(file) << '\n';
    convert_file(ctx, file);
    check_console(ctx);
  }
}

}  // namespace

void print_usage(std::ostream& out) {
  out << "\n"
         "HBK2SAC v1.4.1\n"
         "Converter for HBK to SAC format\n"
         "Usage: HBK2SAC hbkfile [-l] [-o:output_dir]\n"
         "  where\n"
         "    -l produces little-endian (intel) byte order (default big-endian)\n"
         "    \"output_dir\" specifies a directory for converted files. If not specified,\n"
         "                 the directory of the input file is used.\n"
         "\n"
         "  An output file of the same name with extension '.sac' is generated.\n"
         "  Any gaps in the time-series will be filled with value "
      << kGapFillValue
      << "\n"
         "  Any blocks with a timestamp going backwards will be ignored.\n"
         "\n"
         "    -y flushes each SAC file to the disk before it takes its name (durable run)\n"
         "\n";
}

bool find_switch(const std::vector<std::string>& args, const std::string& sw) {
  if (any_starts_with(args, sw)) return true;
  if (sw.empty() || (sw[0] != '-' && sw[0] != '/')) return false;
  std::string other = sw;
  other[0] = sw[0] == '-' ? '/' : '-';
  return any_starts_with(args, other);
}

std::string switch_value(const std::vector<std::string>& args, const std::string& sw,
                         const std::string& fallback) {
  for (const std::string& a : args)
    if (starts_with_ignoring_case(a, sw)) return a.substr(sw.size());
  return fallback;
}

bool is_program_switch(const std::string& arg) {
  return starts_with_ignoring_case(arg, "-l") || starts_with_ignoring_case(arg, "/l") ||
         starts_with_ignoring_case(arg, "-o:") || starts_with_ignoring_case(arg, "-y");
}

std::string expand_output_dir(const std::string& dir, const std::string& cwd,
                              const std::string& home) {
  if (dir.empty()) return dir;
  std::string d = dir;
  if (d.back() != '/') d += '/';
  if (d[0] == '~' && d[1] == '/') d = home + d.substr(1);
  if (d[0] != '/') d = cwd + "/" + d;
  std::string normal = fs::path(d).lexically_normal().string();
  if (normal.empty() || normal.back() != '/') normal += '/';
  return normal;
}

std::string output_path_for(const std::string& input, const std::string& output_dir) {
  std::string out = output_dir.empty() ? input : output_dir + base_name(input);
  const auto slash = out.rfind('/');
  const auto dot = out.rfind('.');
  const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  if (has_ext && out.size() - dot == 4 && starts_with_ignoring_case(out.substr(dot), ".HBK"))
    out.replace(dot, 4, ".sac");
  else
    out += ".sac";
  return out;
}

std::vector<std::string> expand_argument(const std::string& arg, int* error) {
  const std::string dir = directory_part(arg);
  const std::string pattern = arg.substr(dir.size());
  std::vector<std::string> files;
  // The listing is taken whole before any conversion, so SAC files created
  // meanwhile in the same directory are never picked up by the same pattern.
  // Nothing was written through the listing, so its close has nothing to lose.
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.empty() ? "." : dir.c_str()), ::closedir);
  int failure = listing ? 0 : errno;
  while (listing) {
    errno = 0;
    const dirent* entry = ::readdir(listing.get());
    if (entry == nullptr) {
      failure = errno;
      break;
    }
    if (fnmatch(pattern.c_str(), entry->d_name, 0) == 0 && !names_directory(listing.get(), *entry))
      files.push_back(dir + entry->d_name);
  }
  // A directory that is not there names no file; one that cannot be read fails.
  if (error != nullptr && failure != ENOENT && failure != ENOTDIR) *error = failure;
  return files;
}

std::string block_number_real(long number) {
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.14E", static_cast<double>(number));
  // The C library prints at least two exponent digits; the message has four.
  std::string text = digits;
  const auto e = text.find('E');
  const std::string mantissa = text.substr(0, e);
  const char exp_sign = text[e + 1];
  std::string exp_digits = text.substr(e + 2);
  while (exp_digits.size() < 4) exp_digits.insert(exp_digits.begin(), '0');
  const std::string sign = mantissa[0] == '-' ? "" : " ";
  return sign + mantissa + "E" + exp_sign + exp_digits;
}

std::uint64_t padding_count(Micros gap, std::uint32_t rate) {
  if (gap <= 0 || rate == 0) return 0;
  // ceil(gap * rate / 1e6), split so the product cannot overflow.
  const std::uint64_t g = static_cast<std::uint64_t>(gap);
  const std::uint64_t us = static_cast<std::uint64_t>(kUsPerSecond);
  const std::uint64_t whole = g / us * rate;
  const std::uint64_t rest = g % us * rate;
  return whole + (rest + us - 1) / us;
}

namespace {

// The file's SAC file, or why it has none.
pk::Failure convert_opened(Context& ctx, BlockReader& in) {
  FileLead lead;
  if (!find_reference(ctx, in, lead)) {
    if (ctx.stop.requested()) return {};
    if (in.error() != 0) return file_failure("cannot read file", "cannot read", in.path(), in.error());
    return refuse_file(ctx, lead, in.path());
  }
  const std::string out_path = output_path_for(in.path(), ctx.output_dir);
  if (!make_output_directory(ctx, out_path)) return {};
  PendingOutput out(out_path);
  // Memory that ran out is told once, for the whole run.
  if (out.file() == nullptr && out.error() == ENOMEM) throw std::bad_alloc();
  if (out.file() == nullptr) return file_failure("cannot create file", "cannot create", out_path, out.error());
  // The writer buffers the samples itself; a second buffer would only copy.
  std::setvbuf(out.file(), nullptr, _IONBF, 0);
  return finish_output(ctx, out, lead, in);
}

}  // namespace

void convert_file(Context& ctx, const std::string& path) {
  BlockReader in(path);
  if (!in.is_open()) return report(ctx, file_failure("cannot open file", "cannot open", path, in.error()));
  const pk::Failure failure = convert_opened(ctx, in);
  if (failure.failed()) report(ctx, failure);
}

namespace {

int convert_all(const std::vector<std::string>& args, std::ostream& console, std::ostream& errors,
                const StopSignals& stop, std::string& current) {
  const ByteOrder order = find_switch(args, "-l") ? ByteOrder::little : ByteOrder::big;
  const std::string dir_switch = switch_value(args, "-o:", "");
  std::string output_dir;
  if (const int error = absolute_output_dir(dir_switch, output_dir); error != 0) {
    if (error == ENOMEM) throw std::bad_alloc();
    errors << pk::failure_line("cannot resolve output directory", dir_switch, std::strerror(error));
    return kStatusError;
  }
  Context ctx{console, errors, stop, current, SacWriter(order), output_dir};
  ctx.durable = any_starts_with(args, "-y");
  for (const std::string& arg : args) {
    if (stop.requested()) break;
    convert_argument(ctx, arg);
  }
  if (stop.requested()) return kStatusInterrupted;
  return ctx.error_reported ? kStatusError : 0;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& console, std::ostream& errors) {
  if (args.empty()) {
    print_usage(console);
    return 0;
  }
  const StopSignals stop;
  std::string current;
  try {
    return convert_all(args, console, errors, stop, current);
  } catch (const std::bad_alloc&) {
    // The unfinished temporary went with the unwinding; this line needs no memory.
    if (console.good()) console.flush();
    errors << "ERROR: cannot convert " << (current.empty() ? "anything" : current.c_str()) << ": "
           << std::strerror(ENOMEM) << '\n';
    return kStatusNoMemory;
  }
}

}  // namespace hbk
