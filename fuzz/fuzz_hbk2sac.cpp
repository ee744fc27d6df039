// hbk2sac over arbitrary HBK files, writing SAC in both byte orders.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "hbk2sac/driver.h"
#include "fuzz/harness.h"

namespace {

struct Paths {
  std::string input, output;
};

const Paths& paths() {
  static const Paths p = [] {
    const std::string& dir = pkfuzz::scratch_dir();
    Paths q{dir + "/in.hbk", dir + "/sac"};
    std::filesystem::create_directories(q.output);
    return q;
  }();
  return p;
}

void convert(const std::vector<std::string>& args) {
  // A stream without a buffer swallows the console text at no cost.
  std::ostream console(nullptr);
  const int descriptors = pkfuzz::open_descriptor_count();
  hbk::run(args, console, console);
  pkfuzz::require_no_leaked_descriptors(descriptors, "hbk2sac");
  // Renamed when whole, removed otherwise: a temporary left behind is a fault.
  pkfuzz::require_no_files_with(paths().output, {".part"}, "hbk2sac");
  pkfuzz::empty_dir(paths().output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  pkfuzz::limit_file_size(std::size_t{64} << 20);
  const Paths& p = paths();
  pkfuzz::write_file(p.input, data, size);
  convert({p.input, "-o:" + p.output});
  convert({"-l", p.input, "-o:" + p.output});
  return 0;
}
