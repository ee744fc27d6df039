#include "convert/helpers.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

namespace pk {

std::string current_directory() {
  std::vector<char> buf(4096);
  while (!::getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) return {};
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

}  // namespace pk
