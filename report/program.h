// pk_report's command line: pk_report OUTPUT_DIR [REPORT_DIR].
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace report {

// Exit statuses, as the converters use them.
enum Status { kDone = 0, kUsage = 2, kNoDirectory = 10, kCannotCreate = 20, kWriteError = 22 };

int run_pk_report(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace report
