#include "common/failure.h"

#include <cstring>

namespace pk {

std::string failure_line(const std::string& what, const std::string& path, const std::string& cause) {
  std::string line = "ERROR: " + what;
  if (!path.empty()) line.append(1, ' ').append(path);
  return line.append(": ").append(cause).append(1, '\n');
}

const char* Failure::cause_text() const { return cause.empty() ? std::strerror(error_number) : cause.c_str(); }

std::string failure_line(const Failure& failure) {
  return failure_line(failure.what, failure.path, failure.cause_text());
}

void put_failure_line(std::FILE* stream, const Failure& failure) {
  std::fputs("ERROR: ", stream);
  std::fputs(failure.what.c_str(), stream);
  if (!failure.path.empty()) {
    std::fputc(' ', stream);
    std::fputs(failure.path.c_str(), stream);
  }
  std::fputs(": ", stream);
  std::fputs(failure.cause_text(), stream);
  std::fputc('\n', stream);
}

}  // namespace pk
