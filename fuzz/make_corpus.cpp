// Writes the fuzz targets' seed inputs, built with the project's test encoders:
//   make_corpus DIR  ->  DIR/packets, DIR/hbk, DIR/edf, DIR/ini
// Packet seeds carry the option byte of the packet targets in front of the recording.
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "tests/support/hbk_encoder.h"
#include "fuzz/packet_run.h"
#include "tests/support/pkenc.h"
#include "tests/support/tool_main.h"
#include "common/pkfile.h"

namespace {

namespace fs = std::filesystem;
using namespace pktest;

class SeedDir {
 public:
  SeedDir(const fs::path& root, const char* name) : dir_(root / name) { fs::create_directories(dir_); }

  void add(const std::string& name, const std::string& bytes) {
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + (dir_ / name).string());
    ++count_;
  }
  int count() const { return count_; }

 private:
  fs::path dir_;
  int count_ = 0;
};

// Packets and HBK blocks are both 1024-byte arrays.
std::string bytes_of(const std::vector<Packet>& records) {
  std::string s;
  for (const Packet& r : records) s.append(reinterpret_cast<const char*>(r.data()), r.size());
  return s;
}

std::vector<Packet> operator+(std::vector<Packet> a, const std::vector<Packet>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A smooth trace with occasional jumps, so the compressed format uses all word sizes.
std::vector<int32_t> wave(std::size_t n, double amplitude, int32_t offset = 0) {
  std::vector<int32_t> s(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double v = amplitude * std::sin(2 * std::numbers::pi * static_cast<double>(i) / 37.0);
    s[i] = offset + static_cast<int32_t>(std::lround(v)) + (i % 97 == 50 ? 70000 : 0);
  }
  return s;
}

Recording three_channels(uint8_t format, std::size_t samples) {
  Recording r;
  for (unsigned c = 0; c < 3; ++c)
    r.channels.push_back({.channel = c, .format = format, .samples = wave(samples, 900.0 * (c + 1), 10 * int(c))});
  return r;
}

std::vector<Packet> state_packets(uint16_t unit) {
  const Header h{.unit = unit, .time = "2002365235950000"};
  auto typed = [&](const char* type) { Header x = h; x.type = type; return x; };
  StationConfig sc{.head = typed("SC"), .ex_num = "07", .ex_name = "LINE", .st_num = "0012", .st_name = "HILL",
                   .das_ser = "10876", .timc_typ = "GPS"};
  sc.channels.push_back({.number = "1", .name = "Z", .azimuth = "0", .incline = "-90", .volts = "1.585uV"});
  DataStreams ds{.head = typed("DS")};
  ds.streams.push_back({.number = "1", .name = "EVENT", .ch_nums = "123", .rate = "100", .dat_formt = "C0",
                        .trg_type = "EVT", .trg_fields = {"1  ", "1", "10", "2", "3", "6", "", "0.5", "10"}});
  ds.streams.push_back({.number = "2", .name = "TIMED", .ch_nums = "1", .rate = "10", .dat_formt = "16",
                        .trg_type = "TIM", .trg_fields = {"20030010000", "0060", "0010"}});
  OperatingMode om{.head = typed("OM"), .pwr_stt = "1", .rec_mod = "C"};
  om.wake.push_back({.seq_num = "1", .start_time = "20030010000", .pwr_dur = "0060"});
  Directory dr{.head = typed("DR"), .lst_ent_num = 2};
  dr.entries.push_back({.ent_num = 1, .unit_id = unit, .event_num = 1, .dat_strm_name = "EVENT", .trig_type = "EVT",
                        .trigg_time = packed_time(2003, 60), .data_fmt = 0xC0, .data_length = 4096});
  dr.entries.push_back({.ent_num = 2, .ent_length = 2000});
  NetHeader nh{.head = typed("NH"), .trig_msg = "net", .trig_time = "2003001000000000"};
  NetHeader nt = nh;
  nt.head.type = "NT";
  return {make_sc(sc), make_ds(ds), make_om(om), make_dr(dr),
          make_cd(Calibration{.head = typed("CD"), .start = "20030010000", .length = "0010"}),
          make_ad(AuxData{.head = typed("AD"), .channels = "1", .smp_per = "10", .fmt = "16"}),
          make_sh(typed("SH"), "STATE OF HEALTH\r\nclock locked\r\n"), make_nh_nt(nh), make_nh_nt(nt)};
}

void add_packet_seeds(SeedDir& dir) {
  const auto add = [&](const std::string& name, const std::vector<Packet>& packets) {
    const std::string body = bytes_of(packets);
    dir.add(name + ".pk", std::string(1, static_cast<char>(pkfuzz::kSeedOptions)) + body);
    // Every second option byte once, so each switch is tried from the start.
    dir.add(name + "-alt.pk", std::string(1, static_cast<char>(0xFF ^ (dir.count() * 37 & 0xFF))) + body);
  };

  add("compressed-3ch", three_channels(kFmtC0, 1200).packets());
  add("compressed2-3ch", three_channels(kFmtC2, 2500).packets());
  add("int16-3ch", three_channels(kFmt16, 700).packets());
  add("int32-3ch", three_channels(kFmt32, 400).packets());
  add("unlisted-format", three_channels(0x99, 300).packets());
  add("state-then-event", state_packets(0x1234) + three_channels(kFmtC0, 200).packets());

  Recording mixed;
  mixed.channels = {{.channel = 0, .format = kFmt16, .samples = wave(600, 300)},
                    {.channel = 1, .format = kFmt32, .samples = wave(300, 5e6)},
                    {.channel = 2, .format = kFmtC0, .samples = wave(900, 40)},
                    {.channel = 3, .format = kFmtC2, .samples = wave(1800, 40)},
                    {.channel = 4, .format = 0xC4, .samples = wave(300, 40)}};
  mixed.rate_text = "250";
  add("mixed-formats", mixed.packets());

  // Two units recording at once, the second with a MES-style rate and wrapping sequence numbers.
  Recording a = three_channels(kFmtC0, 500);
  Recording b = three_channels(kFmt16, 500);
  b.unit = 0x2A7C;
  b.start = "2003123045959500";
  b.first_seq = 9995;
  b.rate = 0.5;
  b.rate_text = "1/2";
  add("two-units", interleave({a.packets(), b.packets()}));

  // One event split by a gap: the second half has neither EH nor a fresh start.
  Recording before = three_channels(kFmtC0, 400);
  before.et = false;
  Recording after = before;
  after.eh = false;
  after.et = true;
  after.start = advance_time(before.start, 9000);
  after.first_seq = 40;
  add("gap-in-event", before.packets() + after.packets());

  // Events that never open or never close, and a second event of the same unit.
  Recording no_eh = three_channels(kFmtC0, 300);
  no_eh.eh = false;
  Recording no_et = three_channels(kFmt32, 200);
  no_et.event = 2;
  no_et.et = false;
  no_et.start = "2003001000100000";
  add("unopened-unclosed", no_eh.packets() + no_et.packets());

  // Sixteen channels of two streams, more than the open-file budget.
  Recording wide;
  wide.stream = 1;
  for (unsigned c = 0; c < 16; ++c)
    wide.channels.push_back({.channel = c, .format = c % 2 ? kFmt16 : kFmtC0, .samples = wave(120, 50.0 + c), .per_packet = 60});
  add("sixteen-channels", wide.packets());

  // An event header with a MES block and explicit per-channel weights, then a cut-off packet.
  EventHeader eh{.head = {.type = "EH", .bpp = 416}, .mes_rate = "  40.000", .mes_smpcnt = "12"};
  eh.bit_weights = {"1.5uV", "3.0uV", "6.0uV"};
  eh.gains = {"32", "1", "x8"};
  Recording mes = three_channels(kFmtC0, 200);
  mes.eh = false;
  std::vector<Packet> packets{make_eh_et(eh)};
  packets = packets + mes.packets();
  std::string cut = bytes_of(packets);
  cut.resize(cut.size() - 300);
  dir.add("mes-truncated.pk", std::string(1, '\0') + cut);

  // Compressed packets whose stored first difference and last sample disagree with the data.
  DataHeader dt{.head = {.type = "DT"}};
  const auto samples = wave(300, 2000);
  add("c0-mismatch", {make_dt_c0(dt, samples, {.first_diff = 7, .xn = 12345}).pkt,
                      make_dt_c0(dt, samples, {.prev = 99}).pkt,
                      make_dt_c0(DataHeader{.count = 9999}, samples).pkt});
  // The second compressed format: the same disagreements, word layouts that mean nothing
  // (code 2 with top bits 00, code 3 with 11) and counts beyond the 1561 samples a packet holds.
  Packet invalid = make_dt_c2(dt, samples).pkt;
  put_u32be(invalid, 64, (pk::u32be_at(invalid.data(), 64) & ~0x03C00000u) | 0x02C00000u);  // words 3, 4: codes 2, 3
  put_u32be(invalid, 76, 0x00000123u);
  put_u32be(invalid, 80, 0xC0000123u);
  add("c2-mismatch-invalid", {make_dt_c2(dt, samples, {.first_diff = 7, .xn = 12345}).pkt, invalid,
                              make_dt_c2(DataHeader{.count = 1562}, wave(2000, 3)).pkt,
                              make_dt_c2(DataHeader{.count = 9999}, samples, {.prev = 99}).pkt});
}

std::vector<hbk::Block> hbk_run(unsigned pieces, uint32_t start_second, unsigned compression, int32_t offset) {
  std::vector<hbk::Block> blocks;
  const uint32_t day = hbktest::timecode_for_date(2021, 6, 15, 0) >> 17;
  const unsigned per_block = 250 * compression;
  for (unsigned k = 0; k < pieces; ++k) {
    std::vector<int32_t> s(per_block);
    for (unsigned i = 0; i < per_block; ++i)
      s[i] = offset + static_cast<int32_t>(100 * std::sin(static_cast<double>(k * per_block + i) / 9.0));
    auto fields = hbktest::fields_from_samples(s, compression);
    fields.sysid = hbktest::text_to_id("FUZZ", true);
    fields.streamid = hbktest::text_to_id("HHZ1");
    fields.rate_code = 100;
    fields.timecode = hbktest::make_timecode(day, start_second + k * per_block / 100);
    blocks.push_back(hbktest::encode_block(fields));
  }
  return blocks;
}

void add_hbk_seeds(SeedDir& dir) {
  const auto add = [&](const std::string& name, const std::vector<hbk::Block>& blocks, const std::string& tail = "") {
    dir.add(name + ".hbk", bytes_of(blocks) + tail);
  };
  auto plain = hbk_run(3, 3600, 4, 0);
  add("plain", plain);
  add("16bit", hbk_run(2, 3600, 2, -5000));
  add("32bit", hbk_run(2, 3600, 1, 1 << 30));

  auto gap = hbk_run(2, 3600, 4, 0);
  const auto later = hbk_run(1, 3630, 4, 0);
  gap.insert(gap.end(), later.begin(), later.end());
  add("gap", gap);

  auto old = plain;
  old.push_back(plain[0]);
  add("old-data", old);

  auto bad = plain;
  auto broken = hbktest::fields_from_samples(std::vector<int32_t>(40, 3), 4);
  broken.compression = 3;
  bad.insert(bad.begin() + 1, hbktest::encode_block(broken));
  broken.compression = 4;
  broken.record_count = 251;
  bad.insert(bad.begin() + 2, hbktest::encode_block(broken));
  auto other = broken;
  other.record_count.reset();
  other.streamid = hbktest::text_to_id("HHN1");
  bad.push_back(hbktest::encode_block(other));
  add("bad-blocks", bad, "partial block");

  auto fractions = hbk_run(2, 3600, 4, 0);
  fractions[1][hbk::off::packing] = static_cast<uint8_t>(0x10 | fractions[1][hbk::off::packing]);
  fractions[1][hbk::off::rate_code] = 0xF0;
  add("fraction-rate", fractions);
}

void add_settings_seeds(SeedDir& edf, SeedDir& ini) {
  const auto with_unit = [](uint16_t unit, const std::string& text) {
    return std::string{static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)} + text;
  };
  edf.add("demo.edf", with_unit(0x2A7C,
                                "; shot points: number, unit, line, yyyy:ddd:hh:mm:ss\n"
                                "100 2A7C 1 2003:123:04:58:00\n101 2A7C 1 2003:123:04:59:30\r\n"
                                "102 2a7c 1 2003:123:05:10:00\n"));
  edf.add("framed.edf", with_unit(0x1234,
                                  "0 1234 0 0:0:0:0:0\n5 1234 2 2004:060:23:59:59\n"
                                  "4 1234 2 2004:060:23:59:59\n9999 1234 0 9999:999:99:99:99\n"
                                  "7 9999 1 2004:061:00:00:00\n"));
  edf.add("odd.edf", with_unit(0xFFFF, "65536 FFFF x 2003:1\n1\tffff\t3\t-1:-1:-1:-1:-1\n 2 FFFF 1 2003:001:00:00:00"));

  ini.add("demo.ini", with_unit(0x2A7C,
                                "[2A7C]\nStation=DEMO\nNetwork=DEMO DEPLOYMENT\nCH1Axis=Z\n"
                                "[2A7C]\nCH2Axis=N\n[2A7C]\nCH3Axis=E\n"));
  ini.add("crlf.ini", with_unit(0x1234,
                                "[0001]\r\nStation=OTHER\r\nNetwork=X\r\n"
                                "[1234]\r\nStation=LONGNAME\r\nNetwork=NET\r\nCh@Axis=W\r\n[1234]\r\nCh:Axis=\r\n"));
  ini.add("bare.ini", with_unit(0x00AB, "[00AB]\nStation\nNetwork\nCh1Axis"));
}

}  // namespace

int main(int argc, char** argv) {
  return testkit::tool_main(argc, argv, "make_corpus", "DIR", [](const fs::path& root) {
    SeedDir packets(root, "packets"), hbk(root, "hbk"), edf(root, "edf"), ini(root, "ini");
    add_packet_seeds(packets);
    add_hbk_seeds(hbk);
    add_settings_seeds(edf, ini);
    std::printf("seeds: %d packet files, %d HBK files, %d EDF texts, %d INI texts\n", packets.count(), hbk.count(),
                edf.count(), ini.count());
  });
}
