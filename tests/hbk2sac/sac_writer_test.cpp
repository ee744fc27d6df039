#include "tests/support/hbk_encoder.h"
#include "hbk2sac/sac_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <span>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using hbk::ByteOrder;
using hbk::SacWriter;
namespace sac = hbk::sac;

std::vector<std::uint8_t> file_bytes(std::FILE* f) {
  std::fflush(f);
  std::fseek(f, 0, SEEK_END);
  std::vector<std::uint8_t> bytes(std::size_t(std::ftell(f)));
  std::fseek(f, 0, SEEK_SET);
  if (!bytes.empty()) {
    EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
  }
  std::fseek(f, 0, SEEK_END);  // lets the writer go on where it was
  return bytes;
}

std::uint32_t be32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
         std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}
std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t(b[at + 3]) << 24 | std::uint32_t(b[at + 2]) << 16 |
         std::uint32_t(b[at + 1]) << 8 | b[at];
}
float be_float(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::bit_cast<float>(be32(b, at));
}
std::int32_t be_int(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::int32_t(be32(b, at));
}

hbk::Block first_block(const std::string& sys, const std::string& stream, std::uint8_t rate,
                       std::uint32_t timecode = 0) {
  hbktest::BlockFields fields;
  fields.sysid = hbktest::text_to_id(sys);
  fields.streamid = hbktest::text_to_id(stream);
  fields.rate_code = rate;
  fields.timecode = timecode;
  fields.diffs = {1, 2, 3, 4};
  hbk::Block b = hbktest::encode_block(fields);
  hbk::swap_block(b);
  return b;
}

struct TempFile {
  std::FILE* f = std::tmpfile();
  ~TempFile() {
    if (f) std::fclose(f);
  }
};

TEST(SacHeader, UndefinedValuesEverywhere) {
  SacWriter w;
  w.sac_init_header();
  for (int word = 0; word < 70; ++word) EXPECT_EQ(w.header_float(word), -12345.0f) << word;
  for (int word = 70; word < 105; ++word) EXPECT_EQ(w.header_int(word), -12345) << word;
  for (int word = 105; word < 110; ++word) EXPECT_EQ(w.header_int(word), 0) << word;
  const auto& h = w.header();
  const std::string chars(h.begin() + 440, h.end());
  EXPECT_EQ(chars.substr(0, 8), "-12345  ");
  EXPECT_EQ(chars.substr(8, 16), "-12345          ");
  for (std::size_t at = 24; at < chars.size(); at += 8) EXPECT_EQ(chars.substr(at, 8), "-12345  ");
}

TEST(SacHeader, FieldsFromTheFirstBlock) {
  SacWriter w;
  w.sac_header_from_block(
      first_block("ABCD", "ABZ2", 100, hbktest::timecode_for_date(2020, 12, 31, 13 * 3600 + 61)));
  EXPECT_EQ(w.header_float(sac::delta), 0.01f);
  EXPECT_EQ(w.header_float(sac::depmin), -8388608.0f);
  EXPECT_EQ(w.header_float(sac::depmax), 8388607.0f);
  EXPECT_EQ(w.header_float(sac::cmpaz), 0.0f);
  EXPECT_EQ(w.header_float(sac::cmpinc), 0.0f);
  EXPECT_EQ(w.header_int(sac::nzyear), 2020);
  EXPECT_EQ(w.header_int(sac::nzjday), 366);
  EXPECT_EQ(w.header_int(sac::nzhour), 13);
  EXPECT_EQ(w.header_int(sac::nzmin), 1);
  EXPECT_EQ(w.header_int(sac::nzsec), 1);
  EXPECT_EQ(w.header_int(sac::nzmsec), 0);
  EXPECT_EQ(w.header_int(sac::nvhdr), 6);
  EXPECT_EQ(w.header_int(sac::iftype), 1);
  EXPECT_EQ(w.header_int(sac::leven), 1);
  EXPECT_EQ(w.header_float(3), -12345.0f);  // scale and everything else stay undefined
  EXPECT_EQ(w.header_float(56), -12345.0f);  // depmen
  const auto& h = w.header();
  // A terminated name keeps the rest of the filler behind its 0 byte.
  EXPECT_EQ(std::string(h.begin() + 440, h.begin() + 448), std::string("ABCD\0" "5  ", 8));
  EXPECT_EQ(std::string(h.begin() + 600, h.begin() + 608), std::string("ABZ2\0" "5  ", 8));
}

TEST(SacHeader, OrientationFromComponentLetter) {
  EXPECT_EQ(hbk::orientation_from_stream("HHE1").cmpaz, 90.0f);
  EXPECT_EQ(hbk::orientation_from_stream("HHE1").cmpinc, 90.0f);
  EXPECT_EQ(hbk::orientation_from_stream("HHN1").cmpaz, 0.0f);
  EXPECT_EQ(hbk::orientation_from_stream("HHN1").cmpinc, 90.0f);
  EXPECT_EQ(hbk::orientation_from_stream("ABCZ").cmpaz, -12345.0f);
  EXPECT_EQ(hbk::orientation_from_stream("ABCZ").cmpinc, -12345.0f);
  EXPECT_EQ(hbk::orientation_from_stream("Z").cmpinc, -12345.0f);

  SacWriter w;
  w.sac_header_from_block(first_block("S", "E0", 100));
  EXPECT_EQ(w.header_float(sac::cmpaz), 90.0f);
  w.sac_header_from_block(first_block("S", "Z", 100));
  EXPECT_EQ(w.header_float(sac::cmpaz), -12345.0f);
}

TEST(SacWriterFile, NoSamplesGiveTheEmptyHeader) {
  TempFile t;
  SacWriter w(ByteOrder::big);
  w.attach(t.f);
  w.sac_header_from_block(first_block("SYS", "HHZ1", 100));
  w.sac_write_header();
  w.sac_write_header();
  w.flush();
  const auto bytes = file_bytes(t.f);
  ASSERT_EQ(bytes.size(), 632u);
  EXPECT_EQ(be32(bytes, 0), 0x3C23D70Au);  // 0.01
  EXPECT_EQ(be_float(bytes, 4 * sac::depmin), 8388607.0f);
  EXPECT_EQ(be_float(bytes, 4 * sac::depmax), -8388608.0f);
  EXPECT_EQ(be_float(bytes, 4 * sac::e), -0.01f);
  EXPECT_EQ(be_float(bytes, 4 * sac::b), 0.0f);
  EXPECT_EQ(be_int(bytes, 4 * sac::npts), 0);
  EXPECT_EQ(be_int(bytes, 4 * sac::nvhdr), 6);
  EXPECT_FALSE(w.failed());
}

TEST(SacWriterFile, LittleEndianSwitchesNumbersButNotCharacters) {
  TempFile t;
  SacWriter w(ByteOrder::little);
  w.attach(t.f);
  w.sac_header_from_block(first_block("SYS", "HHZ1", 100));
  w.sac_write_header();
  w.sac_put_sample(-7);
  w.sac_write_header();
  const auto bytes = file_bytes(t.f);
  ASSERT_EQ(bytes.size(), 636u);
  EXPECT_EQ(bytes[0], 0x0A);
  EXPECT_EQ(bytes[1], 0xD7);
  EXPECT_EQ(bytes[2], 0x23);
  EXPECT_EQ(bytes[3], 0x3C);
  EXPECT_EQ(le32(bytes, 4 * sac::npts), 1u);
  EXPECT_EQ(std::bit_cast<float>(le32(bytes, 632)), -7.0f);
  EXPECT_EQ(std::string(bytes.begin() + 440, bytes.begin() + 443), "SYS");
  // The record in memory is back in host order after each write.
  EXPECT_EQ(w.header_int(sac::npts), 1);
}

TEST(SacWriterFile, SamplesBufferMinMaxAndRounding) {
  TempFile t;
  SacWriter w(ByteOrder::big);
  w.attach(t.f);
  w.sac_header_from_block(first_block("SYS", "HHZ1", 100));
  w.sac_write_header();
  for (int i = 0; i < 16384; ++i) w.sac_put_sample(9'000'000);
  EXPECT_EQ(file_bytes(t.f).size(), 632u) << "a full buffer waits for the next sample";
  w.sac_put_sample(16'777'217);
  EXPECT_EQ(file_bytes(t.f).size(), 632u + 65536u);
  w.sac_write_header();
  const auto bytes = file_bytes(t.f);
  ASSERT_EQ(bytes.size(), 632u + 4 * 16385u);
  EXPECT_EQ(be_float(bytes, 632 + 4 * 16384), 16'777'216.0f);
  EXPECT_EQ(be_int(bytes, 4 * sac::npts), 16385);
  // Every sample above the initial bound: depmin stays at it.
  EXPECT_EQ(be_float(bytes, 4 * sac::depmin), 8388607.0f);
  EXPECT_EQ(be_float(bytes, 4 * sac::depmax), 16'777'217.0f);
  EXPECT_EQ(be_float(bytes, 4 * sac::e), static_cast<float>(16384 * 0.01f));
}

// Runs of samples cross the buffer's end as single samples do: the same bytes, and
// the full buffer written only when the next sample comes.
TEST(SacWriterFile, RunsOfSamplesWriteWhatSingleSamplesWrite) {
  std::vector<std::int32_t> samples(40'000);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = std::int32_t(i * 2654435761u) >> (i % 9);  // both signs, every magnitude
  for (const ByteOrder order : {ByteOrder::big, ByteOrder::little}) {
    TempFile single, runs;
    SacWriter one(order), many(order);
    one.attach(single.f);
    many.attach(runs.f);
    for (SacWriter* w : {&one, &many}) {
      w->sac_header_from_block(first_block("SYS", "HHZ1", 100));
      w->sac_write_header();
    }
    for (const std::int32_t v : samples) one.sac_put_sample(v);
    const std::span<const std::int32_t> all(samples);
    many.sac_put_samples(all.first(16'384));
    EXPECT_EQ(file_bytes(runs.f).size(), 632u);
    many.sac_put_samples(all.subspan(16'384, 1));
    EXPECT_EQ(file_bytes(runs.f).size(), 632u + 65536u);
    many.sac_put_samples(all.subspan(16'385));
    for (SacWriter* w : {&one, &many}) w->sac_write_header();
    EXPECT_EQ(file_bytes(runs.f), file_bytes(single.f));
    EXPECT_EQ(many.header_float(sac::depmin), float(*std::min_element(samples.begin(), samples.end())));
    EXPECT_EQ(many.header_float(sac::depmax), float(*std::max_element(samples.begin(), samples.end())));
  }
}

TEST(SacWriterFile, GapValueAndLowSamples) {
  TempFile t;
  SacWriter w(ByteOrder::big);
  w.attach(t.f);
  w.sac_header_from_block(first_block("SYS", "HHZ1", 100));
  w.sac_write_header();
  w.sac_put_sample(-2'147'483'647);
  w.sac_put_sample(-9'000'000);
  w.sac_write_header();
  const auto bytes = file_bytes(t.f);
  EXPECT_EQ(be_float(bytes, 632), -2147483648.0f);
  EXPECT_EQ(be_float(bytes, 4 * sac::depmin), -2147483648.0f);
  EXPECT_EQ(be_float(bytes, 4 * sac::depmax), -8388608.0f);
}

TEST(SacWriterFile, FailedWritesAreNoticed) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  if (full == nullptr) GTEST_SKIP() << "/dev/full is not available";
  std::setvbuf(full, nullptr, _IONBF, 0);
  SacWriter w;
  w.attach(full);
  w.sac_header_from_block(first_block("SYS", "HHZ1", 100));
  w.sac_write_header();
  EXPECT_TRUE(w.failed());
  std::fclose(full);
  w.attach(nullptr);
  EXPECT_FALSE(w.failed()) << "a new file starts clean";
}

}  // namespace
