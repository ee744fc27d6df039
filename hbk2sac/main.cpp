#include "driver.h"

#include <unistd.h>

#include <iostream>
#include <new>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  try {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = hbk::run(args, std::cout);
    std::cout.flush();
    return status;
  } catch (const std::bad_alloc&) {
    // Before any file was begun; a line that needs no memory of its own.
    constexpr char line[] = "ERROR: cannot start: Cannot allocate memory\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, sizeof line - 1);
    return hbk::status_no_memory;
  }
}
