#include "report/csv_writer.h"

#include <cstdio>
#include <string>

#include "report/civil_time.h"

namespace report {

namespace {

// Quoted when it holds a separator, a quote or a line break; quotes doubled.
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string q = "\"";
  for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

}  // namespace

std::string rate_text(double rate) {
  if (rate <= 0) return "";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", rate);
  return buf;
}

namespace {

// The output fields of an input or file that gave no trace stay empty.
void write_row_without_trace(std::ostream& out, const std::string& file, const std::string& program,
                             const std::string& status) {
  out << csv_field(file) << ',' << csv_field(program) << ",,,,,,,," << csv_field(status) << ",\n";
}

}  // namespace

void write_csv(std::ostream& out, const Report& report) {
  out << "file,program,unit,stream,channel,start,end,samples,rate,status,overlaps\n";
  for (const Trace& t : report.traces) {
    const std::optional<int64_t> end = end_us(t);
    out << csv_field(t.file) << ',' << program_name(t.format) << ',' << csv_field(t.unit) << ','
        << csv_field(t.stream) << ',' << csv_field(t.channel) << ',' << iso_time(t.start_us) << ','
        << (end ? iso_time(*end) : "") << ',' << t.samples << ',' << rate_text(t.rate) << ','
        << (t.status.empty() ? "ok" : csv_field(t.status)) << ',' << t.overlaps << '\n';
  }
  for (const Unreadable& u : report.unreadable) write_row_without_trace(out, u.file, u.program, "unreadable: " + u.reason);
  for (const RunRecord& run : report.runs)
    if (!run.succeeded()) write_row_without_trace(out, run.input, run.program, run.failure());
}

}  // namespace report
