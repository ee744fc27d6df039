#include "common/failure.h"

#include <cstring>

namespace pk {

std::string failure_line(const std::string& what, const std::string& path, const std::string& cause) {
  std::string line = "ERROR: " + what;
  if (!path.empty()) line.append(1, ' ').append(path);
  return line.append(": ").append(cause).append(1, '\n');
}

std::string failure_line(const Failure& failure) {
  return failure_line(failure.what, failure.path, std::strerror(failure.error_number));
}

}  // namespace pk
