#include "tests/mseed/mseed_records.h"

#include <cstring>

namespace mseedtest {

namespace {

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

}  // namespace

std::vector<Record> read_records(const std::string& path) {
  std::vector<Record> out;
  MSFileParam* fp = nullptr;
  MSRecord* msr = nullptr;
  while (ms_readmsr_r(&fp, &msr, path.c_str(), 0, nullptr, nullptr, 1, 1, 0) == MS_NOERROR) {
    Record r{msr->network, msr->station, msr->location, msr->channel};
    r.quality = msr->dataquality;
    r.reclen = msr->reclen;
    r.encoding = msr->encoding;
    r.start_us = msr->starttime;
    r.rate = msr->samprate;
    const auto* s = static_cast<const int32_t*>(msr->datasamples);
    if (msr->sampletype == 'i' && s) r.samples.assign(s, s + msr->numsamples);
    r.frames_whole = frames_whole(msr, r.samples);
    out.push_back(std::move(r));
  }
  ms_readmsr_r(&fp, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
  return out;
}

}  // namespace mseedtest
