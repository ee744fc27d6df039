#include "mseed/sds_records.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <unistd.h>

#include "mseed/libmseed_calls.h"

namespace pk::sds {

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr std::size_t kLookAhead = 1 << 16;  // the longest record length read
constexpr int kPackedLength = 4096;

struct FreeRecord {
  void operator()(MSRecord* m) const {
    MSRecord* p = m;
    msr_free(&p);
  }
};
using RecordPtr = std::unique_ptr<MSRecord, FreeRecord>;

Problem damaged(off_t at) {
  return {"decode the record at byte " + std::to_string(at) + " of", EBADMSG, libmseed_error("")};
}

// Moves the unread bytes to the front and reads on until the buffer is full or the file
// ends. Returns an errno, 0 on success.
int refill(int fd, std::vector<char>& buf, std::size_t& have, std::size_t& pos, off_t& base, bool& eof) {
  std::memmove(buf.data(), buf.data() + pos, have - pos);
  have -= pos;
  base += static_cast<off_t>(pos);
  pos = 0;
  while (have < buf.size() && !eof) {
    ssize_t n = ::read(fd, buf.data() + have, buf.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) eof = true;
    have += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

std::optional<Problem> scan_records(int fd, const std::function<void(const MSRecord&, off_t, int)>& each) {
  std::vector<char> buf(kChunk);
  std::size_t have = 0, pos = 0;
  off_t base = 0;
  bool eof = false;
  RecordPtr header;
  for (;;) {
    if (have - pos < kLookAhead && !eof) {
      if (int e = refill(fd, buf, have, pos, base, eof)) return Problem{"read", e};
    }
    if (pos == have) break;
    off_t at = base + static_cast<off_t>(pos);
    int len = detect_record(buf.data() + pos, static_cast<int>(have - pos));
    if (len <= 0 || static_cast<std::size_t>(len) > have - pos) return damaged(at);
    MSRecord* raw = header.release();
    int rc = unpack_record(buf.data() + pos, len, &raw, false);
    header.reset(raw);
    if (rc != MS_NOERROR) return damaged(at);
    each(*header, at, len);
    pos += static_cast<std::size_t>(len);
  }
  return std::nullopt;
}

std::optional<Problem> read_at(int fd, off_t offset, std::size_t length, char* into) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, into + done, length - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Problem{"read", errno};
    if (n == 0) return Problem{"read", EIO};  // the file shrank under us
    done += static_cast<std::size_t>(n);
  }
  return std::nullopt;
}

namespace {

// Whether libmseed can pack the samples in `encoding` without losing any (it reports
// an error for a difference Steim cannot hold; the check spares the message).
bool representable(int8_t encoding, const MSRecord& m) {
  const std::span<const int32_t> s(static_cast<const int32_t*>(m.datasamples), static_cast<std::size_t>(m.numsamples));
  const auto differences_held = [&s](bool (*holds)(int32_t, int32_t)) {
    return std::adjacent_find(s.begin(), s.end(), std::not_fn(holds)) == s.end();
  };
  switch (encoding) {
    case DE_INT16: return std::all_of(s.begin(), s.end(), [](int32_t v) { return v >= INT16_MIN && v <= INT16_MAX; });
    case DE_STEIM2: return differences_held(steim2_holds);
    case DE_STEIM1: return differences_held(steim1_holds);
    default: return true;
  }
}

std::vector<int8_t> candidates(const MSRecord& original) {
  switch (original.sampletype) {
    case 'a': return {DE_ASCII};
    case 'f': return {DE_FLOAT32};
    case 'd': return {DE_FLOAT64};
  }
  std::vector<int8_t> order;
  int8_t own = original.encoding;
  if (own == DE_INT16 || own == DE_INT32 || own == DE_STEIM1 || own == DE_STEIM2) order.push_back(own);
  for (int8_t e : {DE_STEIM2, DE_STEIM1, DE_INT32})
    if (e != own) order.push_back(e);
  return order;
}

// The packed records decode to exactly the template's samples, first one at its start.
bool gives_back(const std::vector<char>& packed, const MSRecord& tmpl, Micros start) {
  std::size_t size = static_cast<std::size_t>(ms_samplesize(tmpl.sampletype));
  auto* want = static_cast<const char*>(tmpl.datasamples);
  int64_t seen = 0;
  MSRecord* raw = nullptr;
  bool same = true;
  char copy[kPackedLength];  // decoding may swap bytes in place; the packed records stay as they are
  for (std::size_t at = 0; same && at < packed.size(); at += kPackedLength) {
    std::memcpy(copy, packed.data() + at, kPackedLength);
    same = unpack_record(copy, kPackedLength, &raw, true) == MS_NOERROR &&
           raw->sampletype == tmpl.sampletype && seen + raw->numsamples <= tmpl.numsamples &&
           (at > 0 || raw->starttime == start) &&
           std::memcmp(raw->datasamples, want + seen * size, raw->numsamples * size) == 0;
    if (same) seen += raw->numsamples;
  }
  if (raw) msr_free(&raw);
  return same && seen == tmpl.numsamples;
}

// A header template like the decoded record's, for samples from `start` on; null when
// libmseed refuses the blockette that holds the start's microseconds.
TemplatePtr make_template(const MSRecord& like, Micros start) {
  TemplatePtr t(new_record());
  std::memcpy(t->network, like.network, sizeof t->network);
  std::memcpy(t->station, like.station, sizeof t->station);
  std::memcpy(t->location, like.location, sizeof t->location);
  std::memcpy(t->channel, like.channel, sizeof t->channel);
  t->dataquality = like.dataquality ? like.dataquality : 'D';
  t->samprate = like.samprate;
  t->reclen = kPackedLength;
  t->byteorder = 1;
  t->sampletype = like.sampletype;
  t->starttime = start;
  // The fixed header holds tenths of milliseconds; the rest goes to blockette 1001.
  if (like.Blkt1001 || start % 100 != 0) {
    blkt_1001_s b{};
    if (like.Blkt1001) b.timing_qual = like.Blkt1001->timing_qual;
    if (!add_blockette(t.get(), reinterpret_cast<char*>(&b), sizeof b, 1001)) return nullptr;
  }
  return t;
}

bool pack_exactly(const MSRecord& decoded, int64_t first, int64_t count, Micros start, std::vector<char>& out) {
  TemplatePtr t = make_template(decoded, start);
  if (!t) return false;
  t->datasamples = static_cast<char*>(decoded.datasamples) + first * ms_samplesize(decoded.sampletype);
  t->numsamples = count;
  bool done = false;
  for (int8_t encoding : candidates(decoded)) {
    if (!representable(encoding, *t)) continue;
    std::vector<char> packed;
    t->encoding = encoding;
    t->starttime = start;
    t->sequence_number = 1;
    int64_t n = 0;
    const auto append = [&packed](std::string_view record) { packed.insert(packed.end(), record.begin(), record.end()); };
    if (pack_records(t.get(), append, &n, true) >= 0 && n == count && gives_back(packed, *t, start)) {
      out.insert(out.end(), packed.begin(), packed.end());
      done = true;
      break;
    }
  }
  return done;
}

}  // namespace

std::optional<Problem> cut_record(int fd, const Piece& p, int64_t first, int64_t count, Micros start,
                                  std::vector<char>& out) {
  std::vector<char> bytes(static_cast<std::size_t>(p.length));
  if (auto problem = read_at(fd, p.offset, bytes.size(), bytes.data())) return problem;
  MSRecord* raw = nullptr;
  int rc = unpack_record(bytes.data(), p.length, &raw, true);
  RecordPtr decoded(raw);
  if (rc != MS_NOERROR || decoded->numsamples != p.samples || first + count > decoded->numsamples)
    return damaged(p.offset);
  if (!pack_exactly(*decoded, first, count, start, out)) return damaged(p.offset);
  return std::nullopt;
}

}  // namespace pk::sds
