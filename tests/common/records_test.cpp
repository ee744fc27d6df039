// Field positions and the choices the packet views make.
#include <gtest/gtest.h>

#include "tests/common/test_packet.h"
#include "common/records.h"

using namespace pktest;
using pk::trigger_kind;

TEST(TriggerChoice, LeadingSpaceAndCase) {
  EXPECT_EQ(pk::select_trigger("EVT "), trigger_kind::evt);
  EXPECT_EQ(pk::select_trigger(" EVT"), trigger_kind::evt);
  EXPECT_EQ(pk::select_trigger("evt "), trigger_kind::evt);
  EXPECT_EQ(pk::select_trigger("Evt "), trigger_kind::none);
  EXPECT_EQ(pk::select_trigger("  EVT"), trigger_kind::none);
  EXPECT_EQ(pk::select_trigger("EXT "), trigger_kind::rx);
  EXPECT_EQ(pk::select_trigger(" rad"), trigger_kind::rx);
  EXPECT_EQ(pk::select_trigger("TIM "), trigger_kind::tim);
  EXPECT_EQ(pk::select_trigger("LEV "), trigger_kind::lev);
  EXPECT_EQ(pk::select_trigger("CON "), trigger_kind::con);
  EXPECT_EQ(pk::select_trigger("crs "), trigger_kind::crs);
  EXPECT_EQ(pk::select_trigger("TML "), trigger_kind::tml);
  EXPECT_EQ(pk::select_trigger("    "), trigger_kind::none);
  EXPECT_EQ(pk::select_trigger("VOL "), trigger_kind::none);
}

TEST(DataStreams, EntriesAndTheirTriggerRecords) {
  Packet p = test_packet("DS");
  put_text(p, 16 + 230 * 2, "03");
  put_text(p, 16 + 230 * 2 + 64, "TML ");
  put_text(p, 16 + 230 * 2 + 68 + 14 * 10, "20031231200000");
  put_text(p, 16 + 230 * 2 + 68 + 154, "00000600");
  const pk::ds_pkt ds{p.data()};
  EXPECT_FALSE(ds.stream(0).used());
  EXPECT_FALSE(ds.stream(3).used());
  const pk::dstrm_def s = ds.stream(2);
  ASSERT_TRUE(s.used());
  EXPECT_EQ(pk::text_of(s.p, pk::kStream[0]), "03");
  EXPECT_EQ(s.trigger(), trigger_kind::tml);
  const pk::tml_def t{s.trg_info()};
  EXPECT_EQ(t.start_time(10), "20031231200000");
  EXPECT_EQ(pk::text_of(t.p, pk::tml_def::kRecordLength), "00000600");
}

TEST(Calibration, StepSwitch) {
  Packet p = test_packet("CD");
  const pk::cd_pkt cd{p.data()};
  for (const char* on : {"ON  ", "on  ", "ONCE"}) {
    put_text(p, 50, on);
    EXPECT_TRUE(cd.step_on()) << on;
  }
  for (const char* off : {"On  ", "OFF ", " ON ", "    "}) {
    put_text(p, 50, off);
    EXPECT_FALSE(cd.step_on()) << off;
  }
}

TEST(Directory, SectorShiftAndDataLocation) {
  Packet p = test_packet("DR", 0);
  put_u32be(p, 16, 200);
  put_u32be(p, 20, 7);
  p[25] = 1;
  put_u16be(p, 26, 1);
  put_u32be(p, 32 + 60, 5);
  const pk::dr_pkt dr{p.data()};
  EXPECT_EQ(dr.prev_dir_block(), 100u);
  EXPECT_EQ(dr.next_dir_block(), 3u);
  ASSERT_EQ(dr.entries().size(), 1u);
  EXPECT_EQ(dr.data_block(dr.entries()[0]), 105u);
  p[25] = 0;
  EXPECT_EQ(dr.prev_dir_block(), 200u);
  EXPECT_EQ(dr.data_block(dr.entries()[0]), 205u);
}

TEST(Directory, WalkIsBoundedByThePacket) {
  Packet p = test_packet("DR", 0);
  const pk::dr_pkt dr{p.data()};
  put_u16be(p, 26, 40);
  for (std::size_t e = 32; e + 80 <= 1024; e += 80) put_u16be(p, e + 6, 80);
  const auto entries = dr.entries();
  ASSERT_EQ(entries.size(), 12u);
  EXPECT_EQ(entries.back().p, p.data() + 32 + 11 * 80);

  // a zero length visits the same entry again
  put_u16be(p, 26, 3);
  put_u16be(p, 32 + 6, 0);
  const auto same = dr.entries();
  ASSERT_EQ(same.size(), 3u);
  EXPECT_EQ(same[2].p, p.data() + 32);

  // a huge length jumps out of the packet and ends the walk
  put_u16be(p, 32 + 6, 0xFFFF);
  EXPECT_EQ(dr.entries().size(), 1u);

  // the last entry may end exactly at byte 1023
  put_u16be(p, 26, 2);
  put_u16be(p, 32 + 6, 1024 - 80 - 32);
  EXPECT_EQ(dr.entries().size(), 2u);
  put_u16be(p, 32 + 6, 1024 - 80 - 32 + 1);
  EXPECT_EQ(dr.entries().size(), 1u);
}

TEST(Directory, PackedTimes) {
  const uint8_t zero[] = {0, 0, 0, 0}, hour[] = {0x2A, 0x00, 0x0E, 0x10}, year_only[] = {0x2A, 0, 0, 0};
  EXPECT_FALSE(pk::packed_time(zero).has_value());
  EXPECT_EQ(pk::packed_time(hour).value(), "2005001010000");
  EXPECT_EQ(pk::packed_time(year_only).value(), "2005001000000");
}

TEST(Views, FieldPositions) {
  Packet p = test_packet("SC");
  put_text(p, 202 + 146 * 4 + 138, "VOLTS-04");
  put_text(p, 192, "CLOCK-SN-1");
  const pk::sc_pkt sc{p.data()};
  EXPECT_EQ(pk::text_of(sc.chan(4), pk::kChannelEntry[13]), "VOLTS-04");
  EXPECT_EQ(pk::text_of(p.data(), pk::kStation[10]), "CLOCK-SN-1");
  EXPECT_FALSE(pk::entry_used(sc.chan(4)));

  Packet o = test_packet("OM");
  put_text(o, 48 + 64 * 7, "08");
  put_text(o, 48 + 64 * 7 + 26, "99");
  const pk::om_pkt om{o.data()};
  EXPECT_TRUE(om.wake(7).used());
  EXPECT_EQ(om.wake(7).num_int(), "99");

  Packet n = test_packet("NH");
  EXPECT_FALSE(pk::nhnt_pkt{n.data()}.has_mes_block());
  put_text(n, 1021, "0");
  EXPECT_TRUE(pk::nhnt_pkt{n.data()}.has_mes_block());

  Packet d;
  d.fill(0);
  put_u32be(d, 60, 8001);
  put_u32be(d, 52, 77);
  const pk::t_fmt_disk fmt{d.data()};
  EXPECT_EQ(fmt.at(pk::t_fmt_disk::peod), 8001u);
  EXPECT_EQ(fmt.block_at(pk::t_fmt_disk::peod), 4000u);
  EXPECT_EQ(fmt.at(pk::t_fmt_disk::dir_ent), 77u);
}
