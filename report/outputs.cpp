#include "report/outputs.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "report/input_file.h"
#include "report/mseed_reader.h"
#include "report/sac_reader.h"
#include "report/seisan_reader.h"
#include "report/segy_reader.h"

namespace report {

namespace fs = std::filesystem;

namespace {

enum class Layout { segy_trace, segy_with_file_header, seisan, sac, mseed };

struct OutputKind {
  std::string_view extension;  // upper case; names match in any case
  Layout layout;
  Format format;
};

constexpr OutputKind kKinds[] = {
    {".RSY", Layout::segy_trace, Format::segy},             // trace file
    {".SGY", Layout::segy_with_file_header, Format::segy},  // trace file with the file header
    {".EGY", Layout::segy_with_file_header, Format::segy},  // shot gather
    {".RGY", Layout::segy_with_file_header, Format::segy},  // receiver gather
    {".SEI", Layout::seisan, Format::seisan},
    {".SAC", Layout::sac, Format::sac},
    {".MSEED", Layout::mseed, Format::mseed},
};
// SDS day files carry the day of the year where others have an extension.
constexpr OutputKind kSdsDayFile{"", Layout::mseed, Format::sds};

const OutputKind* kind_of(const std::string& name) {
  std::string ext = fs::path(name).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
  for (const OutputKind& k : kKinds)
    if (k.extension == ext) return &k;
  return is_sds_day_file(fs::path(name).filename().string()) ? &kSdsDayFile : nullptr;
}

bool hidden(const fs::path& p) { return p.filename().string().starts_with('.'); }

FileTraces named(FileTraces got, const std::string& file) {
  for (Trace& t : got.traces) t.file = file;
  return got;
}

}  // namespace

bool is_output_name(const std::string& name) { return !name.starts_with('.') && kind_of(name) != nullptr; }

std::string output_program(const std::string& name) {
  const OutputKind* kind = kind_of(name);
  return kind ? std::string(program_name(kind->format)) : std::string();
}

FoundOutputs find_outputs(const fs::path& dir) {
  FoundOutputs found;
  std::error_code ec;
  fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (hidden(it->path())) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file() && is_output_name(it->path().filename().string()))
      found.files.push_back(it->path().lexically_relative(dir).generic_string());
  }
  if (ec) found.errors.push_back(dir.string() + ": " + ec.message());
  std::sort(found.files.begin(), found.files.end());
  return found;
}

FileTraces read_output(const fs::path& dir, const std::string& file) {
  const OutputKind* kind = kind_of(file);
  if (kind->layout == Layout::mseed) return named(read_mseed(dir / file, kind->format), file);
  InputFile in(dir / file);
  FileTraces got;
  if (!in.ok()) got.error = "cannot be opened";
  else if (kind->layout == Layout::segy_trace) got = read_segy(in, fs::path(file).filename().string(), false);
  else if (kind->layout == Layout::segy_with_file_header) got = read_segy(in, fs::path(file).filename().string(), true);
  else if (kind->layout == Layout::seisan) got = read_seisan(in);
  else got = read_sac(in);
  return named(std::move(got), file);
}

}  // namespace report
