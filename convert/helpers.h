// Small helpers of the packet programs: owned stdio streams, printf-style texts and the
// current directory.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace pk {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
// A stream closed without a check when it goes: for files only read, and for those a
// failed run abandons. Written files are closed through close_checked.
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

template <class... A>
std::string format(const char* fmt, A... a) {
  const int n = std::snprintf(nullptr, 0, fmt, a...);
  if (n <= 0) return {};
  std::string s(static_cast<std::size_t>(n), '\0');
  std::snprintf(s.data(), s.size() + 1, fmt, a...);
  return s;
}

// The current directory; empty when it cannot be read.
std::string current_directory();

}  // namespace pk
