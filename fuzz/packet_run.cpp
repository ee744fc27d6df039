#include "fuzz/packet_run.h"

#include <cstdlib>
#include <filesystem>

#include "fuzz/harness.h"
#include "convert/setup.h"
#include "convert/writer.h"

namespace pkfuzz {

namespace {

// Settings for the units the seed recordings use, with shot points around their
// events and station names of full width, so both readers take their long paths.
const char* const kShotPoints =
    "0 1234 0 0:0:0:0:0\n"
    "100 1234 1 2003:001:00:00:00\n"
    "101 1234 1 2003:001:00:00:30\n"
    "102 1234 1 2003:001:00:10:00\r\n"
    "100 2A7C 1 2003:123:04:58:00\n"
    "101 2a7c 1 2003:123:04:59:30\n"
    "9999 1234 0 9999:999:99:99:99\n";

const char* const kStations =
    "[1234]\r\nStation=FUZZY\r\nNetwork=FUZZ NET\r\nCh1Axis=Z\r\n"
    "[1234]\r\nCh2Axis=N\r\n[1234]\r\nCh3Axis=E\r\n"
    "[2A7C]\nStation=DEMO\nNetwork=DEMO\nCh:Axis=X\n"
    "[5678]\nStation=\nNetwork=\n";

struct Paths {
  std::string input, output, shot_points, stations;
};

const Paths& paths() {
  static const Paths p = [] {
    const std::string& dir = scratch_dir();
    Paths q{dir + "/in.pk", dir + "/out", dir + "/PK_EDF.EDF", dir + "/PKU.INI"};
    std::filesystem::create_directories(q.output);
    write_file(q.shot_points, kShotPoints);
    write_file(q.stations, kStations);
    return q;
  }();
  return p;
}

const char* const kPathLevels[] = {"-P0", "-P1", "-P2", "-P4"};

void add_limits(RunOptions& r, unsigned choice) {
  switch (choice) {
    case 1: r.switches.push_back("-S300"); break;
    case 2: r.switches.push_back("-S0"); break;
    case 3: r.switches.insert(r.switches.end(), {"-T50", "-S1000"}); break;
    default: break;
  }
}

}  // namespace

RunOptions run_options(Program program, uint8_t options) {
  RunOptions r;
  r.switches = {"-LY", "-QY", options & 0x80 ? "-VY" : "-VN"};
  const unsigned low = (options >> 1) & 3u;
  if (program == Program::segy) {
    if (options & 1) r.switches.push_back("-HY");
    if (low == 1) r.switches.push_back("-GS");
    if (low == 2) r.switches.push_back("-GR");
    r.settings_file = low != 3;
  } else {
    if (options & 1) r.switches.push_back("-DY");
    if (low & 2) r.switches.push_back("-W4");
    r.settings_file = (low & 1) == 0;
  }
  r.switches.push_back(kPathLevels[(options >> 3) & 3u]);
  add_limits(r, (options >> 5) & 3u);
  return r;
}

void run_packet_program(Program program, pk::Writer& writer, const uint8_t* data, std::size_t size) {
  if (size == 0) return;
  silence_stdout();
  const Paths& p = paths();
  reset_working_dir();
  write_file(p.input, data + 1, size - 1);

  const RunOptions options = run_options(program, data[0]);
  const std::string settings = program == Program::segy ? p.shot_points : p.stations;
  ::setenv("PKU", options.settings_file ? settings.c_str() : (scratch_dir() + "/absent").c_str(), 1);

  std::vector<std::string> args{program == Program::segy ? "pk_segy" : "pk_seis"};
  args.insert(args.end(), options.switches.begin(), options.switches.end());
  args.push_back(p.input);
  args.push_back(p.output);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  const int descriptors = open_descriptor_count();
  pk::pk_main(static_cast<int>(args.size()), argv.data(), writer);
  require_no_leaked_descriptors(descriptors, args[0].c_str());
  // Finished or not, a run takes its temporaries with it.
  require_no_files_with(p.output, {".part"}, args[0].c_str());

  reset_working_dir();
  empty_dir(p.output);
}

}  // namespace pkfuzz
