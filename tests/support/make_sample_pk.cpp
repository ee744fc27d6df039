// Writes the bundled sample recording: one unit, one event, three channels in the three
// sample formats, framed by the state packets a recorder writes around an event.
#include <cmath>
#include <cstdio>
#include <exception>
#include <numbers>
#include <string>
#include <vector>

#include "tests/support/pkenc.h"
#include "tests/support/tool_main.h"

namespace {

using namespace pktest;

constexpr uint16_t kUnit = 0x2A7C;
constexpr double kRate = 100.0;
constexpr std::size_t kSamples = 600;
const char* const kStart = "2003123045959500";

// A damped wavelet on a slow swell: smooth enough for the compressed format to use
// mostly 8-bit differences, varied enough to exercise 16- and 32-bit words too.
std::vector<int32_t> signal(double amplitude, double freq, double phase, int32_t offset) {
  std::vector<int32_t> s(kSamples);
  for (std::size_t i = 0; i < kSamples; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double onset = t > 1.5 ? std::exp(-(t - 1.5) * 1.2) * std::sin(2 * std::numbers::pi * freq * (t - 1.5) + phase) : 0.0;
    const double swell = 0.05 * std::sin(2 * std::numbers::pi * 0.3 * t);
    s[i] = offset + static_cast<int32_t>(std::lround(amplitude * (onset + swell)));
  }
  return s;
}

std::vector<Packet> state_packets(unsigned& seq) {
  const Header base{.unit = kUnit, .time = "2003123045900000"};
  auto head = [&](const char* type) {
    Header h = base;
    h.type = type;
    h.seq = seq++;
    return h;
  };
  std::vector<Packet> out;
  StationConfig sc{.head = head("SC"), .ex_num = "07", .ex_name = "SAMPLE LINE", .ex_cmmnt = "bundled sample",
                   .st_num = "0012", .st_name = "HILLTOP", .st_cmmnt = "north slope", .das_modl = "PK-3",
                   .das_ser = "10876", .exp_sta = "20031230000000", .timc_typ = "GPS", .timc_ser = "G4411"};
  const char* names[3] = {"Z", "N", "E"};
  const char* azimuths[3] = {"0", "0", "90"};
  const char* inclines[3] = {"-90", "0", "0"};
  const char* serials[3] = {"S2201", "S2202", "S2203"};
  for (int c = 0; c < 3; ++c)
    sc.channels.push_back({.number = std::to_string(c + 1), .name = names[c], .azimuth = azimuths[c],
                           .incline = inclines[c], .loc_x = "512.5", .loc_y = "-88.0", .loc_z = "1204",
                           .units_xy = "m", .units_z = "m", .preamp = "32", .sens_mod = "PKS-1",
                           .sens_ser = serials[c], .volts = "1.585uV"});
  out.push_back(make_sc(sc));
  DataStreams ds{.head = head("DS")};
  ds.streams.push_back({.number = "1", .name = "EVENT STREAM", .ch_nums = "123", .rate = "100", .dat_formt = "C0",
                        .trg_type = "EVT",
                        .trg_fields = {"1  ", "1", "10", "2", "3", "6", "", "0.5", "10", "", "4", "2", "N"}});
  ds.streams.push_back({.number = "2", .name = "HOURLY", .ch_nums = "123", .rate = "100", .dat_formt = "16",
                        .trg_type = "TIM", .trg_fields = {"20031230000000", "3600", "24", "", "6"}});
  out.push_back(make_ds(ds));
  OperatingMode om{.head = head("OM"), .pwr_stt = "ON", .rec_mod = "CO", .disk_id1 = "1", .disk_id2 = "2",
                   .tape_id = " ", .dump_dev = "D", .dump_et = "Y", .dump_ser = "N", .dump_threshold = "80",
                   .pwrdn_delay = "30", .disk_wrap = "Y", .scsi_dir = "Y", .scsi_pwr = "O", .term_pwr = "T"};
  om.wake.push_back({.seq_num = "1", .start_time = "123000000000", .pwr_dur = "002400", .rep_int = "010000", .num_int = "3"});
  out.push_back(make_om(om));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  return testkit::tool_main(argc, argv, "make_sample_pk", "<output file>", [](const char* file) {
    unsigned seq = 1;
    std::vector<Packet> packets = state_packets(seq);
    Recording rec{.unit = kUnit, .exper = 7, .event = 42, .stream = 0, .start = kStart, .rate = kRate,
                  .channels = {{.channel = 0, .format = kFmt16, .samples = signal(9000, 4.0, 0.0, 12)},
                               {.channel = 1, .format = kFmt32, .samples = signal(250000, 3.1, 1.0, -40000)},
                               {.channel = 2, .format = kFmtC0, .samples = signal(60000, 2.3, 2.0, 1500)}},
                  .first_seq = seq, .bit_weights = {"1.585 uV", "1.587 uV", "1.587 uV"}};
    const std::vector<Packet> event = rec.packets();
    packets.insert(packets.end(), event.begin(), event.end());
    seq += static_cast<unsigned>(event.size());
    Header sh{.type = "SH", .unit = kUnit, .time = advance_time(rec.sample_time(kSamples), 2000), .seq = seq};
    packets.push_back(make_sh(sh, "STATE OF HEALTH\r\nBATTERY 12.6V TEMP 18C\r\nGPS LOCKED 7 SATS\r\n"));
    write_packets(file, packets);
    std::printf("%zu packets written to %s\n", packets.size(), file);
  });
}
