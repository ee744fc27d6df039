// The shared test encoder is what every other suite trusts to build its input; faults here
// would make other tests agree with wrong behaviour, so its trickier parts are checked
// against the packet library's own readers.
#include "pkenc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "decode.h"
#include "pkfile.h"
#include "testkit.h"

namespace {

using namespace pktest;

std::string text(const Packet& p, std::size_t off, std::size_t width) {
  return std::string(pk::text_at(p.data(), off, width));
}

TEST(EncoderFields, BcdAndBinaryRoundTrip) {
  Packet p{};
  for (unsigned v : {0u, 7u, 10u, 99u, 1234u, 9999u}) {
    put_bcd(p, 20, v, 2);
    EXPECT_EQ(pk::bcd2i(p.data() + 20, 2), v);
  }
  put_bcd(p, 20, 1234, 2);
  EXPECT_EQ(p[20], 0x12);
  EXPECT_EQ(p[21], 0x34);
  put_bcd(p, 19, 5, 1);
  EXPECT_EQ(p[19], 0x05);

  put_bcd_digits(p, 20, "FF99");
  EXPECT_EQ(p[20], 0xFF);
  EXPECT_EQ(pk::bcd2i(p.data() + 20, 2), 16599u);
  put_bcd_digits(p, 20, "1:?0");
  EXPECT_EQ(p[20], 0x1A);
  EXPECT_EQ(p[21], 0xF0);
  EXPECT_THROW(put_bcd_digits(p, 20, "123"), std::invalid_argument);
  EXPECT_THROW(put_bcd_digits(p, 20, "1G"), std::invalid_argument);

  put_u16be(p, 4, 0xABCD);
  EXPECT_EQ(pk::u16be_at(p.data(), 4), 0xABCDu);
  put_i32be(p, 8, -2);
  EXPECT_EQ(pk::be_i32(p.data() + 8), -2);
  EXPECT_THROW(put_u32be(p, 1021, 1), std::out_of_range);

  put_text(p, 30, "ABCDEFG", 4);
  EXPECT_EQ(text(p, 30, 4), "ABCD");
  EXPECT_EQ(p[34], 0);
  put_text(p, 30, "AB", 4);
  EXPECT_EQ(text(p, 30, 4), "AB  ");
}

TEST(EncoderTimes, CarryAcrossMidnightAndYears) {
  EXPECT_EQ(advance_time("2003001235959990", 20), "2003002000000010");
  EXPECT_EQ(advance_time("2003365235959900", 100), "2004001000000000");
  EXPECT_EQ(advance_time("2004365235959999", 1), "2004366000000000");
  EXPECT_EQ(advance_time("2004366235959999", 1), "2005001000000000");
  EXPECT_EQ(advance_time("2000365120000000", 86'400'000), "2000366120000000");  // 400-year rule
  EXPECT_EQ(advance_time("2100365120000000", 86'400'000), "2101001120000000");  // century rule
  EXPECT_EQ(advance_time("2004001000000000", -1), "2003365235959999");
  EXPECT_EQ(advance_time("1999365235959999", 1), "2000001000000000");
  EXPECT_EQ(time_diff_ms("2003365235959900", "2004001000000010"), 110);
  EXPECT_THROW(advance_time("2003 01000000000", 1), std::invalid_argument);

  EXPECT_EQ(advance_header_time("365235959999", 2003, 1), "001000000000");
  EXPECT_EQ(advance_header_time("365235959999", 2004, 1), "366000000000");
  EXPECT_EQ(advance_header_time("100120000000", 2004, 3'600'000), "100130000000");
}

TEST(EncoderTimes, AgreesWithThePacketTimeAdder) {
  const std::string starts[] = {"2003365235959900", "2003100120000000", "2004366235959000"};
  for (const std::string& start : starts) {
    for (unsigned n : {1u, 20u, 250u, 892u}) {
      std::string t = start;
      uint8_t bcd[2] = {static_cast<uint8_t>((n / 1000) << 4 | (n / 100) % 10),
                        static_cast<uint8_t>((n / 10) % 10 << 4 | n % 10)};
      pk::add_str_tim(t, 100.0f, bcd);
      EXPECT_EQ(t, advance_time(start, n * 10)) << start << " + " << n;
    }
  }
}

TEST(EncoderHeader, ReadsBackThroughThePacketLibrary) {
  const Header h{.type = "DT", .exper = 12, .unit = 0x0ABC, .time = "1985123013059007", .bpp = 1024, .seq = 9998};
  const Packet p = make_packet(h, 0);
  EXPECT_EQ(pk::code_set(p.data()), pk::kDT);
  EXPECT_EQ(pk::header_time_string(p.data()), h.time);
  EXPECT_EQ(pk::header_unit_id(p.data()), 0x0ABC);
  EXPECT_EQ(pk::header_seq_num(p.data()), 9998u);
  EXPECT_EQ(pk::header_bpp(p.data()), 1024u);
  EXPECT_EQ(p[2], 0x12);
  EXPECT_EQ(p[1023], 0);

  const Packet q = make_packet(Header{.type = "SH", .time = "2084366235959999"}, ' ');
  EXPECT_EQ(pk::header_time_string(q.data()), "2084366235959999");
  EXPECT_EQ(q[3], 0x84);
  EXPECT_EQ(q[16], ' ');
}

TEST(EncoderEventHeader, FieldsAtTheirOffsets) {
  EventHeader e{.head = {.type = "EH", .time = "2003001000000000"}, .event = 1234, .stream = 3, .dat_fmt = 0x16,
                .rate = "250", .trig_type = "EVT", .trig_time = "2003001000000000",
                .first_time = "2003001000000100", .detrig_time = "2003001000100000",
                .last_time = "2003001000200000", .bit_weights = {"1.5 uV", "", "2.0 uV"}, .gains = {"x32"}};
  Packet p = make_eh_et(e);
  EXPECT_EQ(pk::bcd2i(p.data() + 16, 2), 1234u);
  EXPECT_EQ(pk::bcd2i(p.data() + 18, 1), 3u);
  EXPECT_EQ(p[23], 0x16);
  EXPECT_EQ(text(p, 88, 4), "250 ");
  EXPECT_EQ(text(p, 92, 4), "EVT ");
  EXPECT_EQ(text(p, 112, 16), "2003001000000100");
  EXPECT_EQ(text(p, 144, 16), "2003001000200000");
  EXPECT_EQ(text(p, 160, 8), "1.5 uV  ");
  EXPECT_EQ(p[168], ' ');  // absent channel 2 starts with a space
  EXPECT_EQ(text(p, 176, 8), "2.0 uV  ");
  EXPECT_EQ(text(p, 288, 4), "x32 ");
  EXPECT_TRUE(pk::is_blank(pk::text_at(p.data(), 1016, 6)));

  e.mes_rate = "125.0000";
  p = make_eh_et(e);
  EXPECT_EQ(text(p, 88, 8), "125.0000");
  EXPECT_EQ(text(p, 1016, 6), "010001");

  e.head.bpp = 57;
  e.trig_msg = "Trigger Time = 2003001000000000";
  p = make_eh_et(e);
  EXPECT_EQ(text(p, 24, 31), e.trig_msg);
  EXPECT_TRUE(pk::is_blank(pk::text_at(p.data(), 57, 1024 - 57)));
}

TEST(EncoderStatePackets, RepeatedEntriesAndTriggerRecords) {
  DataStreams ds{.head = {.type = "DS"}};
  ds.streams.push_back({.number = "1", .trg_type = " EVT",
                        .trg_fields = {"123", "2", "10", "1", "2", "5", "", "0.5", "10", "", "4", "2", "Y"}});
  DsStream tml{.number = "2", .trg_type = "TML"};
  for (int i = 0; i < 11; ++i) tml.trg_fields.push_back("2003001000" + std::to_string(1000 + i));
  tml.trg_fields.push_back("60");
  ds.streams.push_back(tml);
  const Packet p = make_ds(ds);
  EXPECT_EQ(text(p, 16 + 64, 4), " EVT");
  EXPECT_EQ(text(p, 16 + 68 + 16, 2), "2 ");        // min_chan after the 16 trigger channels
  EXPECT_EQ(text(p, 16 + 68 + 98, 4), "Y   ");      // lta_hold
  EXPECT_EQ(text(p, 246 + 68 + 140, 14), "20030010001010");
  EXPECT_EQ(text(p, 246 + 68 + 154, 8), "60      ");
  EXPECT_TRUE(pk::is_blank(pk::text_at(p.data(), 476, 1024 - 476)));

  Directory dr{.head = {.type = "DR"}, .prev_dk_ptr = 200, .sector = 1};
  dr.entries.push_back({.ent_num = 1, .ent_length = 100, .first_samp_time = packed_time(2005, 3600)});
  dr.entries.push_back({.ent_num = 2, .evt_pntr = 5});
  const Packet d = make_dr(dr);
  EXPECT_EQ(pk::u16be_at(d.data(), 26), 2u);
  EXPECT_EQ(d[32 + 32], 0x2A);
  EXPECT_EQ(pk::u32be_at(d.data(), 32 + 32), 0x2A000E10u);
  EXPECT_EQ(pk::secs_split(d.data() + 32 + 32), "2005001010000");
  EXPECT_EQ(pk::u32be_at(d.data(), 132), 2u);  // second entry 100 bytes on
  EXPECT_EQ(pk::u32be_at(d.data(), 132 + 60), 5u);

  const Packet sh = make_sh(Header{.type = "SH"}, "BATTERY OK\r\n");
  EXPECT_EQ(pk::header_bpp(sh.data()), 36u);
  EXPECT_EQ(text(sh, 24, 12), "BATTERY OK\r\n");
}

TEST(EncoderRecording, InterleavesByTimeAndCountsSequenceNumbers) {
  std::vector<int32_t> a(1200), b(1200), c(1200);
  for (int i = 0; i < 1200; ++i) {
    a[i] = i - 600;
    b[i] = (i % 7) * 100000 - 300000;
    c[i] = i * i % 5003;
  }
  const Recording rec{.unit = 0x00F1, .event = 17, .start = "2003365235958000", .rate = 200,
                      .channels = {{.channel = 0, .format = kFmt16, .samples = a},
                                   {.channel = 1, .format = kFmt32, .samples = b},
                                   {.channel = 2, .format = kFmtC0, .samples = c, .per_packet = 300}},
                      .first_seq = 9997};
  const auto packets = rec.packets();
  ASSERT_GE(packets.size(), 2u);
  EXPECT_EQ(pk::code_set(packets.front().data()), pk::kEH);
  EXPECT_EQ(pk::code_set(packets.back().data()), pk::kET);
  EXPECT_EQ(text(packets.front(), 88, 4), "200 ");
  EXPECT_EQ(text(packets.back(), 144, 16), "2004001000003995");
  EXPECT_EQ(text(packets.back(), 144, 16), rec.sample_time(1199));

  std::map<unsigned, std::vector<int32_t>> decoded;
  std::map<unsigned, int32_t> last;
  std::string prev_time;
  unsigned expect_seq = 9997;
  for (const Packet& p : packets) {
    EXPECT_EQ(pk::header_seq_num(p.data()), expect_seq);
    expect_seq = (expect_seq + 1) % 10000;
    EXPECT_EQ(pk::header_unit_id(p.data()), 0x00F1);
    if (pk::code_set(p.data()) != pk::kDT) continue;
    const std::string t = pk::header_time_string(p.data());
    EXPECT_LE(prev_time, t);
    prev_time = t;
    const unsigned ch = pk::bcd2i(p.data() + 19, 1);
    EXPECT_EQ(pk::bcd2i(p.data() + 16, 2), 17u);
    EXPECT_EQ(t, rec.sample_time(decoded[ch].size()));
    std::vector<int32_t> out(pk::kMaxC0Samples);
    std::size_t n = 0;
    switch (pk::dt_sample_format(p[23])) {
      case pk::SampleFormat::kInt16: n = pk::decode_16(p.data(), out.data()); break;
      case pk::SampleFormat::kInt32: n = pk::decode_32(p.data(), out.data()); break;
      case pk::SampleFormat::kCompressed: {
        const auto r = pk::decode_c0(p.data(), last[ch], out.data());
        EXPECT_FALSE(r.needs_report());
        EXPECT_LE(r.count, 300u);
        last[ch] = r.xn;
        n = r.count;
        break;
      }
      default: ADD_FAILURE() << "unexpected format";
    }
    decoded[ch].insert(decoded[ch].end(), out.begin(), out.begin() + static_cast<long>(n));
  }
  EXPECT_EQ(expect_seq, (9997 + packets.size()) % 10000);
  EXPECT_EQ(decoded[0], a);
  EXPECT_EQ(decoded[1], b);
  EXPECT_EQ(decoded[2], c);
}

TEST(EncoderRecording, FormatAliasesPickTheirSampleWidth) {
  const std::vector<int32_t> s = {-2, 70000, 3};
  const Recording rec{.channels = {{.channel = 0, .format = 0x01, .samples = s},
                                   {.channel = 1, .format = 0x00, .samples = s},
                                   {.channel = 2, .format = 0x40, .samples = s},
                                   {.channel = 3, .format = 0x03, .samples = s}},
                      .eh = false, .et = false};
  const auto packets = rec.packets();
  ASSERT_EQ(packets.size(), 4u);
  std::vector<int32_t> out(pk::kMaxC0Samples);
  EXPECT_EQ(packets[0][23], 0x01);
  ASSERT_EQ(pk::decode_16(packets[0].data(), out.data()), 3u);
  EXPECT_EQ(out[1], static_cast<int16_t>(70000));  // 16-bit samples keep the low half
  EXPECT_EQ(packets[1][23], 0x00);
  ASSERT_EQ(pk::decode_32(packets[1].data(), out.data()), 3u);
  EXPECT_EQ(out[1], 70000);
  EXPECT_EQ(packets[2][23], 0x40);
  ASSERT_EQ(pk::decode_32(packets[2].data(), out.data()), 3u);
  EXPECT_EQ(out[1], 70000);
  EXPECT_EQ(packets[3][23], 0x03);
  const auto r = pk::decode_c0(packets[3].data(), 0, out.data());
  EXPECT_FALSE(r.needs_report());
  EXPECT_EQ(std::vector<int32_t>(out.begin(), out.begin() + 3), s);
}

TEST(EncoderRecording, InterleaveAndWrite) {
  Recording one{.unit = 1, .channels = {{.format = kFmt16, .samples = {1, 2, 3}}}, .eh = false};
  Recording two = one;
  two.unit = 2;
  two.et = false;
  const auto mixed = interleave({one.packets(), two.packets()});
  ASSERT_EQ(mixed.size(), 3u);  // DT of both units, then the first unit's ET
  EXPECT_EQ(pk::header_unit_id(mixed[0].data()), 1);
  EXPECT_EQ(pk::header_unit_id(mixed[1].data()), 2);
  EXPECT_EQ(pk::code_set(mixed[2].data()), pk::kET);

  const testkit::ScratchDir dir;
  const std::string path = dir / "two.pk";
  write_packets(path, mixed);
  EXPECT_EQ(std::filesystem::file_size(path), 3u * 1024);
  std::ifstream in(path, std::ios::binary);
  Packet back{};
  in.seekg(1024);
  in.read(reinterpret_cast<char*>(back.data()), 1024);
  EXPECT_EQ(back, mixed[1]);
  EXPECT_THROW(write_packets(dir / "missing/x.pk", mixed), std::runtime_error);
}

}  // namespace
