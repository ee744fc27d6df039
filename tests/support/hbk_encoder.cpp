#include "tests/support/hbk_encoder.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <stdexcept>

namespace hbktest {

namespace {

void put_be32(hbk::Block& b, std::size_t at, std::uint32_t v) {
  b[at] = std::uint8_t(v >> 24);
  b[at + 1] = std::uint8_t(v >> 16);
  b[at + 2] = std::uint8_t(v >> 8);
  b[at + 3] = std::uint8_t(v);
}

void put_be16(hbk::Block& b, std::size_t at, std::uint16_t v) {
  b[at] = std::uint8_t(v >> 8);
  b[at + 1] = std::uint8_t(v);
}

}  // namespace

std::uint32_t text_to_id(const std::string& text, bool high_bit) {
  std::uint32_t v = 0;
  for (char c : text) {
    const unsigned digit = (c >= '0' && c <= '9') ? unsigned(c - '0') : unsigned(c - 'A' + 10);
    v = v * 36 + digit;
  }
  return high_bit ? (v | 0x80000000u) : v;
}

std::uint32_t make_timecode(std::uint32_t days, std::uint32_t seconds) {
  return days << 17 | (seconds & 0x1FFFFu);
}

std::uint32_t timecode_for_date(int year, int month, int day, std::uint32_t seconds) {
  using namespace std::chrono;
  const sys_days origin{1989y / November / 17};
  const sys_days date{std::chrono::year{year} / month / day};
  return make_timecode(std::uint32_t((date - origin).count()), seconds);
}

hbk::Block encode_block(const BlockFields& fields) {
  hbk::Block b{};
  put_be32(b, hbk::off::sysid, fields.sysid);
  put_be32(b, hbk::off::streamid, fields.streamid);
  put_be32(b, hbk::off::timecode, fields.timecode);
  b[hbk::off::rate_code] = fields.rate_code;
  b[hbk::off::packing] = std::uint8_t((fields.fraction & 0x0Fu) << 4 | (fields.compression & 0x07u));
  put_be32(b, hbk::off::initial, std::uint32_t(fields.initial));

  const unsigned per_record =
      (fields.compression == 1 || fields.compression == 2 || fields.compression == 4) ? fields.compression
                                                                                : 1;
  const std::size_t records = (fields.diffs.size() + per_record - 1) / per_record;
  if (records > hbk::kMaxRecords) throw std::invalid_argument("too many differences");
  for (std::size_t i = 0; i < fields.diffs.size(); ++i) {
    const std::int32_t d = fields.diffs[i];
    switch (per_record) {
      case 1: put_be32(b, hbk::off::records + 4 * i, std::uint32_t(d)); break;
      case 2:
        if (d < -32768 || d > 32767) throw std::invalid_argument("16-bit difference");
        put_be16(b, hbk::off::records + 2 * i, std::uint16_t(d));
        break;
      case 4:
        if (d < -128 || d > 127) throw std::invalid_argument("8-bit difference");
        b[hbk::off::records + i] = std::uint8_t(d);
        break;
    }
  }
  b[hbk::off::record_count] = fields.record_count.value_or(std::uint8_t(records));
  const std::size_t trailing_at = hbk::off::records + 4 * std::min<std::size_t>(
                                                              b[hbk::off::record_count], 250);
  put_be32(b, trailing_at, fields.trailing);
  return b;
}

BlockFields fields_from_samples(const std::vector<std::int32_t>& samples, unsigned compression) {
  BlockFields s;
  s.compression = compression;
  if (samples.empty()) return s;
  s.initial = samples[0];
  std::int32_t prev = samples[0];
  for (std::int32_t v : samples) {
    s.diffs.push_back(std::int32_t(std::uint32_t(v) - std::uint32_t(prev)));
    prev = v;
  }
  return s;
}

void write_blocks(const std::string& path, const std::vector<hbk::Block>& blocks,
                  const std::string& tail) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const hbk::Block& b : blocks)
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  out << tail;
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace hbktest
