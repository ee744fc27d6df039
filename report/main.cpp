#include <iostream>
#include <string>
#include <vector>

#include "report/program.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return report::run_pk_report(args, std::cout, std::cerr);
}
