// Inputs for scripts/bench-report: a deployment tree of packet files with many short
// events of three channels, and HBK files of one block each.
//   make_report_bench DIR PK_FILES EVENTS_PER_FILE HBK_FILES
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/hbk_encoder.h"
#include "tests/support/pkenc.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: make_report_bench DIR PK_FILES EVENTS_PER_FILE HBK_FILES\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  const int pk_files = std::atoi(argv[2]), events = std::atoi(argv[3]), hbk_files = std::atoi(argv[4]);
  for (int f = 0; f < pk_files; ++f) {
    std::vector<pktest::Packet> packets;
    for (int e = 0; e < events; ++e) {
      // One event a minute: the files of one unit never share a name.
      pktest::Recording rec{.unit = static_cast<uint16_t>(0x1000 + f), .event = static_cast<unsigned>(e + 1),
                            .start = pktest::advance_time("2013100000000000", 60'000LL * e)};
      for (unsigned c = 0; c < 3; ++c)
        rec.channels.push_back({.channel = c, .format = pktest::kFmt32, .samples = std::vector<int32_t>(20, int32_t(c))});
      const auto p = rec.packets();
      packets.insert(packets.end(), p.begin(), p.end());
    }
    std::filesystem::create_directories(dir / ("site" + std::to_string(f % 10)));
    pktest::write_packets((dir / ("site" + std::to_string(f % 10)) / ("unit" + std::to_string(f) + ".pk")).string(), packets);
  }
  std::filesystem::create_directories(dir / "hbk");
  for (int f = 0; f < hbk_files; ++f) {
    hbktest::BlockFields b = hbktest::fields_from_samples(std::vector<int32_t>(250, f), 2);
    b.sysid = hbktest::text_to_id("BX" + std::to_string(f % 100));
    b.streamid = hbktest::text_to_id("HHZ1");
    b.timecode = hbktest::timecode_for_date(2013, 4, 10, static_cast<uint32_t>(60 * f));
    hbktest::write_blocks((dir / "hbk" / ("rec" + std::to_string(f) + ".hbk")).string(), {hbktest::encode_block(b)});
  }
  return 0;
}
