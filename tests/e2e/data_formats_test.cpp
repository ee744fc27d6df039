// What the packet programs make of each data format: both compressed formats decoded
// (the second checked against an independent decoder), every other format announced as
// missing samples, and an input without packets refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>

#include "tests/support/hbk_encoder.h"
#include "tests/support/mseed_record.h"
#include "tests/support/output_readers.h"
#include "tests/e2e/outputs.h"
#include "tests/support/pkenc.h"
#include "common/pkfile.h"
#include "tests/support/testkit.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using testkit::ScratchDir;

const char* const kPrograms[] = {"pk_segy", "pk_seis"};

testkit::RunResult convert(const char* program, const std::string& args, const fs::path& cwd,
                           const std::string& prefix = "") {
  return testkit::run_program(testkit::program_path(program), args, cwd, prefix);
}

// What mseed2sac decodes from the DT packets' frames, joined per channel.
std::vector<Samples> reference_channels(const std::string& packets, const ScratchDir& dir) {
  std::string records;
  std::vector<unsigned> channel_of_record;
  for (std::size_t off = 0; off + 1024 <= packets.size(); off += 1024) {
    const auto* p = reinterpret_cast<const uint8_t*>(packets.data() + off);
    if (pk::code_set(p) != pk::PacketType::dt) continue;
    const testkit::MseedRecord r = testkit::packet_frames_record(p, channel_of_record.size());
    records.append(reinterpret_cast<const char*>(r.data()), r.size());
    channel_of_record.push_back(pk::bcd2i(p + 19, 1));
  }
  const std::vector<Samples> decoded = testkit::mseed2sac_records(records, dir.path());
  EXPECT_EQ(decoded.size(), channel_of_record.size());
  std::map<unsigned, Samples> joined;
  for (std::size_t i = 0; i < decoded.size() && i < channel_of_record.size(); ++i)
    joined[channel_of_record[i]].insert(joined[channel_of_record[i]].end(), decoded[i].begin(), decoded[i].end());
  std::vector<Samples> out;
  for (auto& [channel, samples] : joined) out.push_back(std::move(samples));
  return out;
}

TEST(DataFormats, SecondCompressedFormatRecordingAgreesWithMseed2sac) {
  const fs::path src = fs::path(PK_FIELD_DIR) / "packets-unlisted-format.pk";
  if (!fs::exists(src)) GTEST_SKIP() << "field recording absent";
  if (!testkit::on_path("mseed2sac")) GTEST_SKIP() << "mseed2sac is not installed";
  ScratchDir dir;
  const std::vector<Samples> reference = reference_channels(testkit::read_file(src), dir);
  ASSERT_EQ(reference.size(), 3u);
  for (const Samples& s : reference) EXPECT_EQ(s.size(), 3788u);

  for (const char* program : kPrograms) {
    SCOPED_TRACE(program);
    const std::string out = std::string("out-") + program;
    fs::create_directory(dir / out);
    const auto r = convert(program, "-VN -LY '" + src.string() + "' " + out, dir.path());
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.find("WARNING"), std::string::npos) << r.out;
    const Collected outputs = collect_packet_outputs(dir / out, {"packets-unlisted-format.RSH"});
    EXPECT_EQ(compare_sequences(reference, outputs.sequences), "");
    // The recording starts mid-stream: each channel's first packet (packets 1 to 3) misses
    // the sample before it; every later packet continues its channel.
    const std::string log = testkit::read_file(dir / (out + "/packets-unlisted-format.RSH"));
    std::size_t reports = 0;
    for (std::size_t at = log.find("     Read start"); at != std::string::npos; at = log.find("     Read start", at + 1))
      ++reports;
    EXPECT_EQ(reports, 3u);
    EXPECT_EQ(log.find("     Read start", log.find(" B:0000000004\r\n")), std::string::npos);
  }
}

TEST(DataFormats, BothCompressedFormatsDecodeAndOthersAreAnnounced) {
  ScratchDir dir;
  const Samples c0 = testkit::ramp(2000, -300, 7), c2 = testkit::ramp(4000, 90000, -3);
  // 2600 samples of format 0xC4 fill eleven packets of at most 250.
  const pktest::Recording rec{.channels = {{.channel = 0, .format = pktest::kFmtC0, .samples = c0},
                                           {.channel = 1, .format = pktest::kFmtC2, .samples = c2},
                                           {.channel = 2, .format = 0xC4, .samples = testkit::ramp(2600, 1, 1)}}};
  pktest::write_packets(dir / "mixed.pk", rec.packets());
  const std::string warning = "WARNING: 11 DT packets in data format 0xC4 were not decoded; their samples are missing";

  for (const char* program : kPrograms) {
    SCOPED_TRACE(program);
    const std::string out = std::string("out-") + program;
    fs::create_directory(dir / out);
    const auto r = convert(program, "-VN -LY mixed.pk " + out, dir.path());
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_NE(r.out.find("\n" + warning + "\n"), std::string::npos) << r.out;
    const std::string log = testkit::read_file(dir / (out + "/mixed.RSH"));
    EXPECT_EQ(log.find(warning), log.size() - warning.size() - 2) << "once, as the last line of the log";
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
    EXPECT_EQ(compare_sequences({c0, c2, {}}, collect_packet_outputs(dir / out, {"mixed.RSH"}).sequences), "");
  }
}

TEST(DataFormats, InputWithoutAnyPacketIsRefusedAndLeavesNoFiles) {
  std::mt19937 rng(5);
  std::string noise(8192, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  std::string text;
  while (text.size() < 5000) text += "Station log, day 139: battery 12.6 V, clock locked.\n";
  const pktest::Packet dt = pktest::make_dt16(pktest::DataHeader{}, testkit::ramp(100, 1, 1));
  std::string blocks;
  for (const hbk::Block& b : make_hbk_deployment(3, 4).blocks)
    blocks.append(reinterpret_cast<const char*>(b.data()), b.size());
  struct Input {
    std::string name;
    std::string bytes;
    bool message;
    bool piped = false;  // read through a pipe, which cannot be checked before converting
  };
  const Input inputs[] = {{"notes.txt", text, true},
                          {"noise.bin", noise, true},
                          {"blocks.hbk", blocks, true},
                          {"cut.pk", std::string(reinterpret_cast<const char*>(dt.data()), 1000), true},
                          {"empty.pk", "", true},
                          {"piped.txt", text, true, true}};
  ScratchDir dir;
  fs::create_directory(dir / "out");
  for (const Input& in : inputs) {
    testkit::write_file(dir / in.name, in.bytes);
    const std::string source = in.piped ? "/dev/stdin" : in.name;
    for (const char* program : kPrograms) {
      SCOPED_TRACE(std::string(program) + " " + in.name);
      const std::string pipe = in.piped ? "cat " + in.name + " |" : "";
      const auto r = convert(program, "-VN -LY -QY " + source + " out", dir.path(), pipe);
      EXPECT_EQ(r.code, 1) << r.out;
      const std::string message = "ERROR: no PASSCAL packet found in " + source;
      EXPECT_EQ(r.out.find(message) != std::string::npos, in.message) << r.out;
      EXPECT_EQ(testkit::list_files(dir / "out"), std::vector<std::string>{});
    }
  }
}

}  // namespace
}  // namespace e2e
