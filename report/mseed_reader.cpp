#include "report/mseed_reader.h"

#include <libmseed.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "report/split.h"

namespace report {

namespace {

// libmseed explains a bad record on standard error; its return code says enough here.
void keep_quiet(char*) {}

struct Reader {
  MSFileParam* file = nullptr;
  MSRecord* record = nullptr;
  Reader() { ms_loginit(keep_quiet, nullptr, keep_quiet, nullptr); }
  ~Reader() { ms_readmsr_r(&file, &record, nullptr, 0, nullptr, nullptr, 0, 0, 0); }  // frees both
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // The next record's header: MS_NOERROR, MS_ENDOFFILE or an error code. A negative length
  // has the length of every record found from its own header.
  int next(const std::filesystem::path& path) {
    return ms_readmsr_r(&file, &record, path.c_str(), -1, nullptr, nullptr, 0, 0, 0);
  }
};

// Where the next record of a trace starts when nothing is missing.
int64_t next_start_us(const Trace& t) {
  return t.start_us + std::llround(static_cast<double>(t.samples) * interval_us(t));
}

bool continues(const Trace& t, const MSRecord& r) {
  return t.rate == r.samprate &&
         std::abs(static_cast<double>(r.starttime - next_start_us(t))) <= interval_us(t) / 2;
}

Trace trace_of(const MSRecord& r) {
  Trace t;
  t.unit = r.station;
  t.stream = r.location;
  t.channel = r.channel;
  t.start_us = r.starttime;  // libmseed's time unit is the microsecond
  t.rate = r.samprate;
  return t;
}

// Records of several SEED ids may alternate in one file: each id continues its own trace.
void add_record(std::vector<Trace>& traces, std::map<std::string, std::size_t>& last_of_id, const MSRecord& r) {
  const std::string id = std::string(r.network) + '.' + r.station + '.' + r.location + '.' + r.channel;
  const auto it = last_of_id.find(id);
  if (it == last_of_id.end() || !continues(traces[it->second], r)) {
    last_of_id[id] = traces.size();
    traces.push_back(trace_of(r));
  }
  traces[last_of_id[id]].samples += static_cast<uint64_t>(std::max<int64_t>(r.samplecnt, 0));
}

// libmseed tells a file it cannot open only as a generic error: asked only once it failed.
bool opens(const std::filesystem::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

}  // namespace

FileTraces read_mseed(const std::filesystem::path& path, Format format) {
  FileTraces out;
  std::map<std::string, std::size_t> last_of_id;
  Reader reader;
  uint64_t at = 0;  // the bytes of the records read
  int code = MS_NOERROR;
  while ((code = reader.next(path)) == MS_NOERROR) {
    add_record(out.traces, last_of_id, *reader.record);
    at += static_cast<uint64_t>(reader.record->reclen);
  }
  std::error_code ec;
  if (code != MS_ENDOFFILE && at == 0 && !opens(path)) out.error = "cannot be opened";
  else if (code != MS_ENDOFFILE) out.error = std::string(ms_errorstr(code)) + " at byte " + std::to_string(at);
  // libmseed ends the file quietly at a record cut short.
  else if (const uint64_t size = std::filesystem::file_size(path, ec); !ec && size > at) out.error = "record at byte " + std::to_string(at) + " cut short";
  if (!out.error.empty()) out.traces.clear();
  for (Trace& t : out.traces) t.format = format;
  return out;
}

bool is_sds_day_file(std::string_view name) {
  const std::vector<std::string_view> parts = split(name, '.');
  const auto digits = [](std::string_view s, std::size_t n) {
    return s.size() == n && s.find_first_not_of("0123456789") == std::string_view::npos;
  };
  return parts.size() == 7 && !parts[1].empty() && !parts[3].empty() && parts[4].size() == 1 &&
         digits(parts[5], 4) && digits(parts[6], 3);
}

}  // namespace report
