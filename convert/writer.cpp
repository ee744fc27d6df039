#include "convert/writer.h"

#include <cerrno>
#include <unistd.h>

#include "convert/failure.h"
#include "convert/helpers.h"
#include "common/temporary_name.h"

namespace pk {

std::string Writer::create_channel_data(const RunSetup& run, Outputs& out, const std::string& dir,
                                        const std::string& base) {
  const Temporaries::Created created = out.temps.create(dir, base + ".STD");
  if (!created.ok) {
    Failure failure = creation_failure(created, created.path);
    failure.message = format("\n\nERROR!!!!\n   unable to open %s for output.", failure.path.c_str());
    throw failure;
  }
  const std::size_t room = channel_head_room(run.options);
  if (room > 0 && ::truncate(created.path.c_str(), static_cast<off_t>(room)) != 0)
    shut_down(ExitCode::write_error, created.path, errno);
  return created.path;
}

}  // namespace pk
