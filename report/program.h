// pk_report's command line: pk_report OUTPUT_DIR [REPORT_DIR].
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace report {

// 0 when both report files were written, else the status of the first failure: a usage
// error, a missing directory, a report file that cannot be created or written.
int run_pk_report(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace report
