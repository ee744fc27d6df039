#include "tests/mseed/sds_mseed_files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <libmseed.h>
#include <stdexcept>

namespace sdstest {

int64_t utc(int year, int month, int day, int hour, int minute, int second) {
  tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  return static_cast<int64_t>(timegm(&t)) * kSecond;
}

static void to_file(char* record, int length, void* file) {
  if (std::fwrite(record, 1, static_cast<std::size_t>(length), static_cast<std::FILE*>(file)) != static_cast<std::size_t>(length))
    throw std::runtime_error("cannot write a test record");
}

void append_records(const std::string& path, const Stream& s, int64_t start, const std::vector<int32_t>& samples) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) throw std::runtime_error("cannot open " + path);
  MSRecord* m = msr_init(nullptr);
  std::snprintf(m->network, sizeof m->network, "%s", s.network.c_str());
  std::snprintf(m->station, sizeof m->station, "%s", s.station.c_str());
  std::snprintf(m->location, sizeof m->location, "%s", s.location.c_str());
  std::snprintf(m->channel, sizeof m->channel, "%s", s.channel.c_str());
  m->dataquality = 'D', m->reclen = 4096, m->byteorder = 1, m->encoding = s.encoding;
  m->starttime = start, m->samprate = s.rate, m->sampletype = 'i';
  if (start % 100 != 0) {  // microseconds beyond the fixed header's tenths of milliseconds
    blkt_1001_s b{};
    msr_addblockette(m, reinterpret_cast<char*>(&b), sizeof b, 1001, 0);
  }
  std::vector<int32_t> copy = samples;
  m->datasamples = copy.data(), m->numsamples = static_cast<int64_t>(copy.size());
  int64_t packed = 0;
  int rc = msr_pack(m, to_file, f, &packed, 1, 0);
  m->datasamples = nullptr;
  msr_free(&m);
  if (std::fclose(f) != 0 || rc < 0 || packed != static_cast<int64_t>(samples.size()))
    throw std::runtime_error("cannot pack test records into " + path);
}

std::vector<Record> read_records(const std::string& path) {
  std::vector<Record> out;
  MSFileParam* fp = nullptr;
  MSRecord* m = nullptr;
  int rc;
  while ((rc = ms_readmsr_r(&fp, &m, path.c_str(), -1, nullptr, nullptr, 1, 1, 0)) == MS_NOERROR) {
    auto* s = static_cast<int32_t*>(m->datasamples);
    out.push_back({std::string(m->network) + '.' + m->station + '.' + m->location + '.' + m->channel, m->starttime,
                   m->samprate, m->encoding, std::vector<int32_t>(s, s + m->numsamples)});
  }
  ms_readmsr_r(&fp, &m, nullptr, 0, nullptr, nullptr, 0, 0, 0);
  if (rc != MS_ENDOFFILE) throw std::runtime_error("libmseed cannot read " + path);
  return out;
}

static int64_t sample_at(const Record& r, std::size_t k) {
  return r.start + std::llround(static_cast<double>(k) * 1e6 / r.rate);
}

// The first instant of the day a file "NET.STA.LOC.CHAN.D.YEAR.DAY" is named after.
static int64_t day_start(const std::string& name) {
  int year = std::stoi(name.substr(name.size() - 8, 4)), day = std::stoi(name.substr(name.size() - 3));
  return utc(year, 1, 1, 0, 0, 0) + (day - 1) * 86400 * kSecond;
}

static void check_day_file(const std::filesystem::path& file, Archive& a) {
  std::string name = file.filename().string();
  int64_t from = day_start(name), until = from + 86400 * kSecond;
  std::map<std::string, int64_t> last;  // time of each channel's last sample so far
  for (const Record& r : read_records(file.string())) {
    a.encodings[name].push_back(r.encoding);
    if (last.contains(r.id) && r.start < last[r.id] + std::llround(5e5 / r.rate))
      a.problems.push_back(name + ": record at " + std::to_string(r.start) + " overlaps the one before");
    for (std::size_t k = 0; k < r.samples.size(); ++k) {
      int64_t t = sample_at(r, k);
      if (t < from || t >= until) a.problems.push_back(name + ": sample outside its day at " + std::to_string(t));
      if (!a.samples.emplace(std::pair(r.id, t), r.samples[k]).second)
        a.problems.push_back(name + ": second sample at " + std::to_string(t));
    }
    last[r.id] = sample_at(r, r.samples.size() - 1);
  }
}

Archive read_archive(const std::filesystem::path& root) {
  Archive a;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string name = e.path().filename().string();
    if (name.ends_with(".part")) a.problems.push_back("temporary left: " + name);
    if (e.is_regular_file() && name[0] != '.') files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    a.files.push_back(std::filesystem::relative(f, root).string());
    check_day_file(f, a);
  }
  return a;
}

void add_expected(Samples& into, const Stream& s, int64_t start, const std::vector<int32_t>& values) {
  std::string id = s.network + '.' + s.station + '.' + s.location + '.' + s.channel;
  Record r{id, start, s.rate, 0, {}};
  for (std::size_t k = 0; k < values.size(); ++k) into[{id, sample_at(r, k)}] = values[k];
}

}  // namespace sdstest
