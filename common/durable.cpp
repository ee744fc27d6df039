#include "common/durable.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pk {

namespace {

Synced synced(const std::string& path, int flags, int (*sync)(int)) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return {errno, false};
  int error = sync(fd) == 0 ? 0 : errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  return {error, true};
}

}  // namespace

Synced sync_data(const std::string& path) { return synced(path, O_RDONLY, ::fdatasync); }

Synced sync_entries(const std::string& dir) { return synced(dir, O_RDONLY | O_DIRECTORY, ::fsync); }

}  // namespace pk
