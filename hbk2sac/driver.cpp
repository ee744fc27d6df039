#include "driver.h"

#include "block_reader.h"
#include "pending_output.h"

#include <fnmatch.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
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

std::string home_directory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
    return pw->pw_dir;
  return "/";
}

std::string current_directory() {
  std::error_code ec;
  const fs::path cwd = fs::current_path(ec);
  return ec ? std::string("/") : cwd.string();
}

// After CTRL-C the run ends without finishing or reporting anything else: a read or
// open cut short by the signal is no fault of the file.
void report_error(Context& ctx, const std::string& what, const std::string& path) {
  if (ctx.stop.requested()) return;
  ctx.console << "ERROR: " << what << " \"" << path << "\"\n";
  ctx.error_reported = true;
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
      out << "WARNING: Gap in Data detected, padding with " << gap_fill_value << '\n';
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
    samples_.fill(gap_fill_value);
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

// The first block fixes the stream and the header; a file whose first block
// cannot do that gets no output at all.
bool read_first_block(Context& ctx, BlockReader& in, Block& first, const std::string& path) {
  const Block* stored = in.next();
  if (stored == nullptr) {
    report_error(ctx, "no complete block in file", path);
    return false;
  }
  first = *stored;
  swap_block(first);
  if (!block_is_valid(first)) {
    warn_invalid_block(ctx.console, 1);
    report_error(ctx, "no valid first block in file", path);
    return false;
  }
  if (block_rate_code(first) == 0) {
    report_error(ctx, "no sample rate in the first block of file", path);
    return false;
  }
  return true;
}

enum class WalkEnd { complete, no_samples, write_failed, interrupted };

WalkEnd write_sac(Context& ctx, BlockReader& in, std::FILE* out, const Block& first) {
  SacWriter& w = ctx.writer;
  w.attach(out);
  w.sac_header_from_block(first);
  w.sac_write_header();

  BlockWalk walk(ctx, first);
  long number = 1;
  bool going = !w.failed() && walk.handle(first, number);
  Block* b = nullptr;
  while (going && !ctx.stop.requested() && (b = in.next()) != nullptr) {
    swap_block(*b);
    going = walk.handle(*b, ++number);
  }

  w.sac_write_header();
  w.sac_flush();
  const bool failed = w.failed();
  const bool no_samples = w.sample_count() == 0;
  w.attach(nullptr);
  if (ctx.stop.requested()) return WalkEnd::interrupted;
  if (failed) return WalkEnd::write_failed;
  return no_samples ? WalkEnd::no_samples : WalkEnd::complete;
}

// Renames a whole SAC file to its final name; in every other case the temporary
// goes with `out` and an earlier file of the final name stays as it was.
void finish_output(Context& ctx, PendingOutput& out, WalkEnd end, const std::string& in_path,
                   const std::string& out_path) {
  switch (end) {
    case WalkEnd::interrupted: return;
    case WalkEnd::write_failed: return report_error(ctx, "cannot write file", out_path);
    case WalkEnd::no_samples: return report_error(ctx, "no usable block in file", in_path);
    case WalkEnd::complete: break;
  }
  switch (out.commit()) {
    case PendingOutput::Commit::done: return;
    case PendingOutput::Commit::close_failed: return report_error(ctx, "cannot write file", out_path);
    case PendingOutput::Commit::rename_failed: return report_error(ctx, "cannot create file", out_path);
  }
}

// Standard output goes first, so that on one terminal the lines keep their order.
void warn_no_match(Context& ctx, const std::string& arg) {
  ctx.console.flush();
  ctx.errors << "WARNING: no file matches " << arg << '\n';
}

void convert_argument(Context& ctx, const std::string& arg) {
  const std::vector<std::string> files = expand_argument(arg);
  if (files.empty() && !is_program_switch(arg)) warn_no_match(ctx, arg);
  ctx.writer.sac_init_header();
  for (const std::string& file : files) {
    if (ctx.stop.requested()) return;
    ctx.console << "Converting " << base_name(file) << '\n';
    convert_file(ctx, file);
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
      << gap_fill_value
      << "\n"
         "  Any blocks with a timestamp going backwards will be ignored.\n"
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
         starts_with_ignoring_case(arg, "-o:");
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

std::vector<std::string> expand_argument(const std::string& arg) {
  const std::string dir = directory_part(arg);
  const std::string pattern = arg.substr(dir.size());
  std::vector<std::string> files;
  std::error_code ec;
  // The listing is taken whole before any conversion, so SAC files created
  // meanwhile in the same directory are never picked up by the same pattern.
  fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::path(dir), ec);
  if (ec) return files;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    if (fnmatch(pattern.c_str(), name.c_str(), 0) != 0) continue;
    std::error_code kind_ec;
    if (it->is_directory(kind_ec)) continue;
    files.push_back(dir + name);
  }
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
  const std::uint64_t us = static_cast<std::uint64_t>(us_per_second);
  const std::uint64_t whole = g / us * rate;
  const std::uint64_t rest = g % us * rate;
  return whole + (rest + us - 1) / us;
}

void convert_file(Context& ctx, const std::string& path) {
  BlockReader in(path);
  if (!in.is_open()) {
    report_error(ctx, "cannot open file", path);
    return;
  }
  Block first;
  if (!read_first_block(ctx, in, first, path)) return;

  const std::string out_path = output_path_for(path, ctx.output_dir);
  if (!ctx.output_dir.empty()) {
    std::error_code ec;
    fs::create_directories(ctx.output_dir, ec);
  }
  PendingOutput out(out_path);
  if (out.file() == nullptr) {
    report_error(ctx, "cannot create file", out_path);
    return;
  }
  // The writer buffers the samples itself; a second buffer would only copy.
  std::setvbuf(out.file(), nullptr, _IONBF, 0);
  const WalkEnd end = write_sac(ctx, in, out.file(), first);
  finish_output(ctx, out, end, path, out_path);
}

int run(const std::vector<std::string>& args, std::ostream& console, std::ostream& errors) {
  if (args.empty()) {
    print_usage(console);
    return 0;
  }
  const StopSignals stop;
  const ByteOrder order = find_switch(args, "-l") ? ByteOrder::little : ByteOrder::big;
  Context ctx{console, errors, stop, SacWriter(order),
              expand_output_dir(switch_value(args, "-o:", ""), current_directory(),
                                home_directory())};
  for (const std::string& arg : args) {
    if (stop.requested()) break;
    convert_argument(ctx, arg);
  }
  if (stop.requested()) return status_interrupted;
  return ctx.error_reported ? status_error : 0;
}

}  // namespace hbk
