#include "writer.h"

#include "failure.h"
#include "helpers.h"

namespace pk {

std::string Writer::create_channel_data(const RunSetup&, Outputs& out, const std::string& dir,
                                        const std::string& base) {
  const Temporaries::Created created = out.temps.create(dir, base + ".STD");
  if (!created.ok)
    shut_down_saying(ExitCode::open_error, format("\n\nERROR!!!!\n   unable to open %s for output.", created.path.c_str()));
  return created.path;
}

}  // namespace pk
