// The one name every program here gives a file it is still writing.
#pragma once

#include <string>

namespace pk {

// "." + described + "." + owner + ".part", with ".N" before ".part" for N > 0. The
// leading dot hides it, and no reading tool's pattern (*.RSY, *.SEI, *.sac ...) matches it.
inline std::string temporary_name(const std::string& described, const std::string& owner, unsigned n) {
  std::string name = ".";
  name += described;
  name += '.';
  name += owner;
  if (n > 0) name.append(".").append(std::to_string(n));
  return name.append(".part");
}

}  // namespace pk
