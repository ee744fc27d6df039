#include "csv_writer.h"

#include <cstdio>
#include <string>

#include "civil_time.h"

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

void write_csv(std::ostream& out, const Report& report) {
  out << "format,file,input,station,stream,channel,component,start,end,rate,samples\n";
  for (const Trace& t : report.traces) {
    const std::optional<int64_t> end = end_us(t);
    out << format_name(t.format) << ',' << csv_field(t.file) << ',' << csv_field(t.input) << ','
        << csv_field(t.station) << ',' << csv_field(t.stream) << ',' << csv_field(t.channel) << ','
        << csv_field(t.component) << ',' << iso_time(t.start_us) << ',' << (end ? iso_time(*end) : "") << ','
        << rate_text(t.rate) << ',' << t.samples << '\n';
  }
}

}  // namespace report
