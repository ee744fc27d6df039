#include "tests/support/mseed_files.h"

#include <libmseed.h>

#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace mseedtest {

int64_t utc(int year, int month, int day, int hour, int minute, int second) {
  tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  return static_cast<int64_t>(timegm(&t)) * kSecond;
}

namespace {

void keep(char* record, int length, void* out) { static_cast<std::string*>(out)->append(record, static_cast<std::size_t>(length)); }

int32_t word_at(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<int32_t>(uint32_t{u[0]} << 24 | uint32_t{u[1]} << 16 | uint32_t{u[2]} << 8 | u[3]);
}

// A Steim record's first frame carries its first and last sample (X0, Xn).
bool frames_whole(const MSRecord* msr, const std::vector<int32_t>& s) {
  if (msr->samplecnt != static_cast<int64_t>(s.size())) return false;
  if (msr->encoding != DE_STEIM1 && msr->encoding != DE_STEIM2) return true;
  const char* frames = msr->record + msr->fsdh->data_offset;
  return !s.empty() && word_at(frames + 4) == s.front() && word_at(frames + 8) == s.back();
}

Record record_of(const MSRecord* msr) {
  Record r{msr->network, msr->station,   msr->location,  msr->channel, msr->dataquality,
           msr->reclen,  msr->encoding,  msr->starttime, msr->samprate, {}};
  const auto* s = static_cast<const int32_t*>(msr->datasamples);
  if (msr->sampletype == 'i' && s) r.samples.assign(s, s + msr->numsamples);
  r.frames_whole = frames_whole(msr, r.samples);
  return r;
}

}  // namespace

std::string pack_records(const Stream& s, int64_t start, const std::vector<int32_t>& samples) {
  MSRecord* m = msr_init(nullptr);
  std::snprintf(m->network, sizeof m->network, "%s", s.network.c_str());
  std::snprintf(m->station, sizeof m->station, "%s", s.station.c_str());
  std::snprintf(m->location, sizeof m->location, "%s", s.location.c_str());
  std::snprintf(m->channel, sizeof m->channel, "%s", s.channel.c_str());
  m->dataquality = 'D', m->reclen = s.reclen, m->byteorder = 1, m->encoding = s.encoding;
  m->starttime = start, m->samprate = s.rate, m->sampletype = 'i';
  if (start % 100 != 0) {  // microseconds beyond the fixed header's tenths of milliseconds
    blkt_1001_s b{};
    msr_addblockette(m, reinterpret_cast<char*>(&b), sizeof b, 1001, 0);
  }
  std::vector<int32_t> copy = samples;
  m->datasamples = copy.data(), m->numsamples = static_cast<int64_t>(copy.size());
  std::string bytes;
  int64_t packed = 0;
  const int rc = msr_pack(m, keep, &bytes, &packed, 1, 0);
  m->datasamples = nullptr;  // the vector's
  msr_free(&m);
  if (rc < 0 || packed != static_cast<int64_t>(samples.size())) throw std::runtime_error("cannot pack test records");
  return bytes;
}

void append_records(const std::string& path, const Stream& s, int64_t start, const std::vector<int32_t>& samples) {
  const std::string bytes = pack_records(s, start, samples);
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) throw std::runtime_error("cannot open " + path);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !written) throw std::runtime_error("cannot write test records into " + path);
}

std::vector<Record> read_records(const std::string& path) {
  std::vector<Record> out;
  MSFileParam* fp = nullptr;
  MSRecord* msr = nullptr;
  int rc;
  while ((rc = ms_readmsr_r(&fp, &msr, path.c_str(), -1, nullptr, nullptr, 1, 1, 0)) == MS_NOERROR)
    out.push_back(record_of(msr));
  ms_readmsr_r(&fp, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
  if (rc != MS_ENDOFFILE) throw std::runtime_error("libmseed cannot read " + path);
  return out;
}

}  // namespace mseedtest
