#include "report/runs.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <tuple>

namespace report {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kConsoleLinesKept = 3, kErrorLinesKept = 40;
constexpr std::string_view kUsageStart = "Purpose:", kWarningStart = "WARNING:";

// Progress counters overwrite themselves with carriage returns: what stays on the screen
// is the last piece that is not blank.
std::string shown_part(const std::string& line) {
  std::string shown;
  for (std::size_t from = 0;;) {
    const std::size_t to = line.find('\r', from);
    const std::string piece = line.substr(from, to - from);
    if (piece.find_first_not_of(' ') != std::string::npos) shown = piece;
    if (to == std::string::npos) return shown;
    from = to + 1;
  }
}

void take_field(RunRecord& r, const std::string& key, const std::string& value) {
  if (key == "input") r.input = value;
  else if (key == "program") r.program = value;
  else if (key == "output") r.output = value;
  else if (key == "command") r.command = value;
  else if (key == "status") {
    int v = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (ec == std::errc() && end == value.data() + value.size()) r.status = v;
  }
}

}  // namespace

std::string RunRecord::message() const {
  if (errors.empty() && !usage_error.empty()) return usage_error;
  if (errors.empty()) return console.empty() ? std::string() : console.back();
  std::string text = errors.front();
  for (std::size_t i = 1; i < errors.size(); ++i) text += "\n" + errors[i];
  return text;
}

std::string RunRecord::failure() const {
  std::string text = status ? "exit status " + std::to_string(*status) : std::string("no exit status");
  const std::string shown = message();
  const std::string first_line = shown.substr(0, shown.find('\n'));
  return first_line.empty() ? text : text + ": " + first_line;
}

std::string RunRecord::trace_status() const {
  if (!succeeded()) return failure();
  return warning.empty() ? std::string() : "warning: " + warning;
}

RunRecord parse_run_record(const std::string& text) {
  RunRecord r;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("stderr| ")) {
      const std::string shown = shown_part(line.substr(8));
      if (!shown.empty() && r.errors.size() < kErrorLinesKept) r.errors.push_back(shown);
      if (r.warning.empty() && shown.starts_with(kWarningStart)) r.warning = shown;
    } else if (line.starts_with("stdout| ")) {
      const std::string shown = shown_part(line.substr(8));
      // The packet converters name what is wrong with the command line, then print the usage.
      if (shown == kUsageStart && r.usage_error.empty() && !r.console.empty()) r.usage_error = r.console.back();
      if (!shown.empty()) r.console.push_back(shown);
      if (r.console.size() > kConsoleLinesKept) r.console.erase(r.console.begin());
    } else if (const std::size_t colon = line.find(": "); colon != std::string::npos) {
      take_field(r, line.substr(0, colon), line.substr(colon + 2));
    }
  }
  return r;
}

std::vector<RunRecord> read_run_records(const fs::path& dir) {
  std::vector<RunRecord> runs;
  std::error_code ec;
  fs::recursive_directory_iterator it(dir / "runs", ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file() || it->path().extension() != ".run") continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    RunRecord r = parse_run_record(text.str());
    r.record = it->path().lexically_relative(dir).generic_string();
    runs.push_back(std::move(r));
  }
  std::sort(runs.begin(), runs.end(), [](const RunRecord& a, const RunRecord& b) {
    return std::tie(a.input, a.program) < std::tie(b.input, b.program);
  });
  return runs;
}

}  // namespace report
