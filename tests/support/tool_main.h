// The main of a tool that writes test inputs: one argument naming where, and any failure
// told on standard error rather than left as a half-written set.
#pragma once

#include <cstdio>
#include <exception>

namespace testkit {

template <class Make>
int tool_main(int argc, char** argv, const char* name, const char* argument, Make make) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s %s\n", name, argument);
    return 2;
  }
  try {
    make(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", name, e.what());
    return 1;
  }
  return 0;
}

}  // namespace testkit
