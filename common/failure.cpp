#include "common/failure.h"

namespace pk {

std::string failure_line(const std::string& what, const std::string& path, const std::string& cause) {
  std::string line = "ERROR: " + what;
  if (!path.empty()) line.append(1, ' ').append(path);
  return line.append(": ").append(cause).append(1, '\n');
}

}  // namespace pk
