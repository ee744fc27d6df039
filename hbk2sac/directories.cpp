#include "hbk2sac/directories.h"

#include <sys/stat.h>

#include <cerrno>

#include "common/durable.h"

namespace hbk {

namespace {

bool is_directory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes one level; a level that exists already, as a directory or not, is left to
// the next level's mkdir (or the final check) to refuse.
int make_level(const std::string& level, bool durable, std::string& failed) {
  if (is_directory(level)) return 0;
  int error = ::mkdir(level.c_str(), 0777) == 0 || errno == EEXIST ? 0 : errno;
  if (error == 0 && durable) error = pk::sync_entries(directory_of(level)).error;
  if (error != 0) failed = level;
  return error;
}

}  // namespace

std::string directory_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int make_directories(const std::string& dir, bool durable, std::string& failed) {
  std::string path = dir;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (is_directory(path)) return 0;
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    if (const int error = make_level(path.substr(0, end), durable, failed); error != 0) return error;
    if (end == std::string::npos) break;
  }
  if (is_directory(path)) return 0;
  failed = path;
  return ENOTDIR;
}

}  // namespace hbk
