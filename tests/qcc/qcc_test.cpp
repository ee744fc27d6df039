// QC statistics tables: whole unit and run-wide QCC texts for hand-built
// unit, event and channel nodes.
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

#include "convert/lists.h"
#include "tests/common/test_packet.h"
#include "convert/qcc.h"
#include "convert/ring.h"
#include "tests/support/testkit.h"

namespace fs = std::filesystem;
using pktest::Packet;

namespace {

const std::string kHeads = "\r\n                        Min          Max        Range         Mean       St Dev";

// Inserted after the ring's current node and made current, as the list code does.
template <typename Node>
void link_current(Node*& current, Node* n) {
  pk::link_after(current, n);
  current = n;
}

class Qcc : public ::testing::Test {
 protected:
  void SetUp() override {
    units_ = std::make_unique<pk::Units>();
    run_qcc_ = std::fopen((dir_ / "RUN.QCC").c_str(), "wb");
    ASSERT_NE(run_qcc_, nullptr);
  }
  void TearDown() override { finish(); }

  // A unit owned by the ring; `open` leaves its QCC file open as for the current unit.
  pk::UnitNode* add_unit(uint32_t id, bool open) {
    auto* u = new pk::UnitNode;
    u->Unit_num = id;
    char name[16];
    std::snprintf(name, sizeof name, "ID%04X.QCC", static_cast<unsigned>(id));
    u->QccFile = (dir_ / name).string();
    std::fclose(std::fopen(u->QccFile.c_str(), "wb"));
    if (open) u->FdQcc = std::fopen(u->QccFile.c_str(), "ab");
    link_current(units_->start, u);
    return u;
  }

  static pk::EventNode* add_event(pk::UnitNode* u, uint32_t num) {
    auto* e = new pk::EventNode;
    e->Evt_num = num;
    e->Unit_num = u->Unit_num;
    e->Unit_pointer = u;
    link_current(u->First_evt, e);
    return e;
  }

  static pk::ChannelNode* add_channel(pk::EventNode* e, uint32_t chan, std::initializer_list<int32_t> samples) {
    auto* f = new pk::ChannelNode;
    f->Chan_num = chan;
    f->Evt_pointer = e;
    pk::init_qcc(*f);
    for (int32_t x : samples) {
      ++f->stored;
      pk::add_qcc_sample(*f, x);
    }
    link_current(e->First_chan, f);
    return f;
  }

  // Closes every file, so the texts can be read.
  void finish() {
    units_.reset();
    if (run_qcc_) std::fclose(run_qcc_);
    run_qcc_ = nullptr;
  }
  void store(pk::UnitNode* u, pk::EventNode* e, const Packet& pkt) {
    pk::store_qcc(run_qcc_, blk_, *u, *e, pkt.data());
  }
  std::string unit_text(uint32_t id) {
    char name[16];
    std::snprintf(name, sizeof name, "ID%04X.QCC", static_cast<unsigned>(id));
    return testkit::read_file(dir_ / name);
  }
  std::string run_text() { return testkit::read_file(dir_ / "RUN.QCC"); }

  static Packet et_packet() {
    Packet p = test_packet("ET");
    pktest::put_bytes(p, 16, {0x00, 0x12, 0x01, 0x00, 0x00, 0x00, 0x00, 0xC0});
    return p;
  }

  testkit::ScratchDir scratch_;
  const fs::path dir_ = scratch_.path();
  std::unique_ptr<pk::Units> units_;
  std::FILE* run_qcc_ = nullptr;
  uint32_t blk_ = 0;
};

TEST_F(Qcc, StatisticsPerChannelFromTheLowestChannel) {
  pk::UnitNode* u = add_unit(0x1234, true);
  pk::EventNode* e = add_event(u, 12);
  pk::ChannelNode* constant = add_channel(e, 0, {7, 7, 7, 7, 7});
  add_channel(e, 1, {-3});
  add_channel(e, 2, {1, 2, 3, 4});
  add_channel(e, 10, {});
  ASSERT_EQ(e->First_chan->Chan_num, 10u);  // the ring wraps after the current channel
  blk_ = 99;
  const Packet et = et_packet();

  store(u, e, et);

  EXPECT_EQ(e->First_chan, constant);
  EXPECT_EQ(constant->Qcc_sum, 0.0);
  EXPECT_EQ(constant->Qcc_min, 1.797693e308);
  EXPECT_EQ(constant->Qcc_max, -1.797693e308);
  finish();
  EXPECT_EQ(unit_text(0x1234),
            "ET 03:365:23:59:59.900 X:01 U:1234 N:0007 E:0012 D:1           F:C0 B:0000000099\r\n" + kHeads +
                "\r\n   Channel  0:       7.0000       7.0000       0.0000       7.0000       0.0000"
                "\r\n   Channel  1: 00000000.0000 00000000.0000 00000000.0000 00000000.0000 00000000.0000"
                "\r\n   Channel  2:       1.0000       4.0000       3.0000       2.5000       1.2910"
                "\r\n   Channel 10: 00000000.0000 00000000.0000 00000000.0000 00000000.0000 00000000.0000"
                "\r\n\r\n");
  EXPECT_EQ(run_text(),
            "\r\n   1234     0:       7.0000       7.0000       0.0000       7.0000       0.0000"
            "\r\n   1234     1: 00000000.0000 00000000.0000 00000000.0000 00000000.0000 00000000.0000"
            "\r\n   1234     2:       1.0000       4.0000       3.0000       2.5000       1.2910"
            "\r\n   1234    10: 00000000.0000 00000000.0000 00000000.0000 00000000.0000 00000000.0000");
}

TEST_F(Qcc, RingOrderIsKeptWhenItDoesNotWrapAfterTheCurrentChannel) {
  pk::UnitNode* u = add_unit(0x0001, true);
  pk::EventNode* e = add_event(u, 3);
  add_channel(e, 2, {5, 5});
  add_channel(e, 0, {-1, 1});
  pk::ChannelNode* current = add_channel(e, 1, {10, 20});  // ring: 1 -> 2 -> 0
  const Packet et = et_packet();
  store(u, e, et);
  EXPECT_EQ(e->First_chan, current);
  finish();
  EXPECT_EQ(run_text(),
            "\r\n   0001     1:      10.0000      20.0000      10.0000      15.0000       7.0711"
            "\r\n   0001     2:       5.0000       5.0000       0.0000       5.0000       0.0000"
            "\r\n   0001     0:      -1.0000       1.0000       2.0000       0.0000       1.4142");
}

TEST_F(Qcc, RoundingNeverGivesANegativeVariance) {
  pk::UnitNode* u = add_unit(0x0002, true);
  pk::EventNode* e = add_event(u, 1);
  // the sum of squares of these loses digits: sq_sum - sum*sum/n comes out below 0
  add_channel(e, 0, {99999999, 99999999, 99999999});
  const Packet et = et_packet();
  store(u, e, et);
  finish();
  EXPECT_EQ(run_text(), "\r\n   0002     0: 99999999.0000 99999999.0000       0.0000 99999999.0000       0.0000");
}

TEST_F(Qcc, EventWithoutUsableChannelsGetsTheDashLine) {
  pk::UnitNode* u = add_unit(0x1234, true);
  pk::EventNode* out_of_seq = add_event(u, 12);
  add_channel(out_of_seq, 0, {1, 2, 3});
  out_of_seq->Out_of_seq = 1;
  pk::EventNode* empty = add_event(u, 13);
  const Packet et = et_packet();
  store(u, out_of_seq, et);
  testing::internal::CaptureStdout();
  store(u, empty, et);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  finish();
  const std::string dash =
      kHeads + "\r\n   Channel --- 0000000.0000 0000000.0000 0000000.0000 0000000.0000 0000000.0000\r\n\r\n";
  const std::string et_line =
      "ET 03:365:23:59:59.900 X:01 U:1234 N:0007 E:0012 D:1           F:C0 B:0000000000\r\n";
  EXPECT_EQ(unit_text(0x1234), et_line + dash + et_line + dash);
  EXPECT_EQ(run_text(),
            "\r\n   1234    --- 0000000.0000 0000000.0000 0000000.0000 0000000.0000 0000000.0000"
            "\r\n   1234    --- 0000000.0000 0000000.0000 0000000.0000 0000000.0000 0000000.0000");
}

TEST_F(Qcc, EventsLeftAtEndOfInputReportTheMissingTrailer) {
  pk::UnitNode* a = add_unit(0x1234, true);
  pk::UnitNode* b = add_unit(0x00AB, false);  // not the current unit: its file is closed
  pk::EventNode* ea = add_event(a, 12);
  add_channel(ea, 0, {1, 3});
  pk::EventNode* eb = add_event(b, 7);
  add_channel(eb, 1, {4, 4, 4});
  Packet buffer = test_packet("DT");
  buffer[0] = buffer[1] = 'X';

  testing::internal::CaptureStdout();
  store(a, ea, buffer);
  store(b, eb, buffer);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nNo ET block for U:1234 E:0012\nNo ET block for U:00AB E:0007");
  EXPECT_EQ(b->FdQcc, nullptr);
  finish();
  EXPECT_EQ(unit_text(0x1234), "No ET block for U:1234 E:0012\r\n" + kHeads +
                                   "\r\n   Channel  0:       1.0000       3.0000       2.0000       2.0000       1.4142"
                                   "\r\n\r\n");
  EXPECT_EQ(unit_text(0x00AB), "No ET block for U:00AB E:0007\r\n" + kHeads +
                                   "\r\n   Channel  1:       4.0000       4.0000       0.0000       4.0000       0.0000"
                                   "\r\n\r\n");
  EXPECT_EQ(run_text(),
            "\r\n   1234     0:       1.0000       3.0000       2.0000       2.0000       1.4142"
            "\r\n   00AB     1:       4.0000       4.0000       0.0000       4.0000       0.0000");
}

TEST_F(Qcc, NhPacketOpensASectionOfTheRunWideFile) {
  Packet nh = test_packet("NH");
  pktest::put_bytes(nh, 16, {0x00, 0x12, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00});
  blk_ = 5;
  pk::qcc_nh_heads(run_qcc_, blk_, nh.data());
  finish();
  EXPECT_EQ(run_text(), "\r\n\r\nNH 03:365:23:59:59.900 X:01 U:1234 N:0007 E:0012 D:1           F:00 B:0000000005\r\n" +
                            kHeads);
}

TEST_F(Qcc, WithoutRunWideFileOnlyTheUnitFileIsWritten) {
  std::fclose(run_qcc_);
  run_qcc_ = nullptr;
  pk::UnitNode* u = add_unit(0x0003, true);
  add_channel(add_event(u, 1), 0, {2, 4});
  const Packet et = et_packet();
  store(u, u->First_evt, et);
  pk::qcc_nh_heads(run_qcc_, blk_, et.data());
  finish();
  EXPECT_NE(unit_text(0x0003).find("\r\n   Channel  0:       2.0000       4.0000"), std::string::npos);
  EXPECT_EQ(run_text(), "");
}

}  // namespace
