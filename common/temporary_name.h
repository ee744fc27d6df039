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

// The final file a temporary stands for, in the same directory: "dir/.X.owner.part" and
// "dir/.X.owner.N.part" give "dir/X". Any other path comes back as it is.
inline std::string final_name(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  std::string name = path.substr(start);
  const std::string suffix = ".part";
  if (name.size() <= 1 + suffix.size() || name[0] != '.' || !name.ends_with(suffix)) return path;
  name = name.substr(1, name.size() - 1 - suffix.size());
  std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && name.find_first_not_of("0123456789", dot + 1) == std::string::npos &&
      name.find_last_of('.', dot - 1) != std::string::npos && dot > 0) {
    const std::size_t owner = name.find_last_of('.', dot - 1);
    if (name.find('-', owner) < dot) dot = owner;
  }
  if (dot == std::string::npos || dot == 0 || name.find('-', dot) == std::string::npos) return path;
  return path.substr(0, start) + name.substr(0, dot);
}

}  // namespace pk
