#include "convert/qcc.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>

#include "convert/failure.h"
#include "convert/helpers.h"
#include "common/log.h"
#include "common/pkfile.h"
#include "convert/ring.h"

namespace pk {

namespace {

constexpr const char* kHeadRange = "\r\n                        Min          Max        Range";
constexpr const char* kHeadMean = "         Mean       St Dev";

unsigned short unit_id(const UnitNode& unit) { return static_cast<unsigned short>(unit.Unit_num); }

// The unit's QCC file. Only the current unit keeps it open, so a table for
// another unit (the end-of-input pass) opens it for the time of the write.
class UnitQcc {
 public:
  explicit UnitQcc(const UnitNode& unit) : path_(unit.QccFile) {
    if (unit.FdQcc) {
      fd_ = unit.FdQcc;
    } else if (!unit.QccFile.empty()) {
      owned_ = std::fopen(unit.QccFile.c_str(), "ab");
      if (!owned_) shut_down(ExitCode::open_error, path_, errno);
      fd_ = owned_;
    }
  }
  // A table that does not reach the file fails the run.
  void close() { close_checked(owned_, path_); }
  ~UnitQcc() {
    if (owned_) std::fclose(owned_);
  }
  UnitQcc(const UnitQcc&) = delete;
  UnitQcc& operator=(const UnitQcc&) = delete;
  std::FILE* get() const { return fd_; }

 private:
  std::string path_;
  std::FILE* fd_ = nullptr;
  std::FILE* owned_ = nullptr;
};

// Writes to each file that is open.
struct QccOut {
  std::FILE* unit;
  std::FILE* run;

  void to_unit(const char* s) const {
    if (unit) std::fputs(s, unit);
  }
  void to_run(const char* s) const {
    if (run) std::fputs(s, run);
  }
  void to_both(const char* s) const {
    to_unit(s);
    to_run(s);
  }
};

void et_or_missing(const QccOut& out, uint32_t blk_cnt, const UnitNode& unit, const EventNode& evt,
                   const uint8_t* pkt) {
  if (pkt && code_set(pkt) == PacketType::et) {
    int no_mark = 0;
    if (out.unit) log_head(out.unit, pkt, PacketType::et, no_mark, blk_cnt);
    return;
  }
  std::printf("\nNo ET block for U:%04hX E:%04u", unit_id(unit), static_cast<unsigned>(evt.Evt_num));
  out.to_unit(format("No ET block for U:%04hX E:%04u\r\n", unit_id(unit), static_cast<unsigned>(evt.Evt_num)).c_str());
}

void no_channels_line(const QccOut& out, const UnitNode& unit) {
  constexpr const char* kZeroRange = " 0000000.0000 0000000.0000 0000000.0000";
  constexpr const char* kZeroMean = " 0000000.0000 0000000.0000";
  out.to_unit("\r\n   Channel ---");
  out.to_unit(kZeroRange);
  out.to_unit(kZeroMean);
  out.to_unit("\r\n\r\n");
  out.to_run(format("\r\n   %04hX    ---", unit_id(unit)).c_str());
  out.to_run(kZeroRange);
  out.to_run(kZeroMean);
}

void channel_line(const QccOut& out, const UnitNode& unit, ChannelNode& f) {
  const unsigned chan = f.Chan_num;
  out.to_unit(format("\r\n   Channel %2u:", chan).c_str());
  out.to_run(format("\r\n   %04hX    %2u:", unit_id(unit), chan).c_str());
  if (f.stored <= 1) {
    // Too few samples for a deviation: the line keeps its columns with zeros.
    out.to_both(" 00000000.0000 00000000.0000 00000000.0000");
    out.to_both(" 00000000.0000 00000000.0000");
  } else {
    const double n = f.stored;
    const double mean = f.Qcc_sum / n;
    // Rounding can leave a tiny negative variance for constant samples.
    const double v = std::max(0.0, f.Qcc_sq_sum - f.Qcc_sum * f.Qcc_sum / n);
    const double sd = std::sqrt(v / (n - 1));
    out.to_both(format(" %12.4f %12.4f %12.4f", f.Qcc_min, f.Qcc_max, f.Qcc_max - f.Qcc_min).c_str());
    out.to_both(format(" %12.4f %12.4f", mean, sd).c_str());
  }
  init_qcc(f);
}

// The table starts at the lowest channel: the current channel, or the next
// one when the ring wraps right after it.
ChannelNode* first_channel(EventNode& evt) {
  ChannelNode* cur = evt.First_chan;
  ChannelNode* next = cur->Next_file;
  if (next && next->Chan_num <= cur->Chan_num) {
    cur = next;
    evt.First_chan = cur;
  }
  return cur;
}

}  // namespace

void init_qcc(ChannelNode& f) {
  f.Qcc_sum = 0;
  f.Qcc_sq_sum = 0;
  f.Qcc_min = 1.797693e308;
  f.Qcc_max = -1.797693e308;
}

void store_qcc(std::FILE* run_qcc, uint32_t blk_cnt, UnitNode& unit, EventNode& evt, const uint8_t* pkt) {
  UnitQcc unit_file(unit);
  const QccOut out{unit_file.get(), run_qcc};

  et_or_missing(out, blk_cnt, unit, evt, pkt);
  out.to_unit(kHeadRange);
  out.to_unit(kHeadMean);
  if (evt.First_chan == nullptr || evt.Out_of_seq) {
    no_channels_line(out, unit);
  } else {
    for (ChannelNode* f : ring_nodes(first_channel(evt))) channel_line(out, unit, *f);
    out.to_unit("\r\n\r\n");
  }
  unit_file.close();
}

void qcc_nh_heads(std::FILE* run_qcc, uint32_t blk_cnt, const uint8_t* pkt) {
  if (!run_qcc) return;
  int no_mark = 0;
  std::fputs("\r\n\r\n", run_qcc);
  log_head(run_qcc, pkt, PacketType::nh, no_mark, blk_cnt);
  std::fputs(kHeadRange, run_qcc);
  std::fputs(kHeadMean, run_qcc);
}

}  // namespace pk
