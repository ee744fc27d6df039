#include "tests/mseed/sds_mseed_files.h"

#include <algorithm>
#include <cmath>

namespace sdstest {

static int64_t sample_at(const Record& r, std::size_t k) {
  return r.start_us + std::llround(static_cast<double>(k) * 1e6 / r.rate);
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
    if (last.contains(r.id()) && r.start_us < last[r.id()] + std::llround(5e5 / r.rate))
      a.problems.push_back(name + ": record at " + std::to_string(r.start_us) + " overlaps the one before");
    for (std::size_t k = 0; k < r.samples.size(); ++k) {
      int64_t t = sample_at(r, k);
      if (t < from || t >= until) a.problems.push_back(name + ": sample outside its day at " + std::to_string(t));
      if (!a.samples.emplace(std::pair(r.id(), t), r.samples[k]).second)
        a.problems.push_back(name + ": second sample at " + std::to_string(t));
    }
    last[r.id()] = sample_at(r, r.samples.size() - 1);
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
  const Record r{.network = s.network, .station = s.station, .location = s.location, .channel = s.channel,
                 .start_us = start, .rate = s.rate, .samples = {}};
  for (std::size_t k = 0; k < values.size(); ++k) into[{r.id(), sample_at(r, k)}] = values[k];
}

}  // namespace sdstest
