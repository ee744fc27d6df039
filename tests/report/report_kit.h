// What the report tests share: reading report.csv back, and inputs with known traces.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/testkit.h"

namespace reporttest {

// The lines of a CSV text, fields unquoted; the header line first.
std::vector<std::vector<std::string>> csv_lines(const std::string& text);
// report.csv of `dir` as records keyed by the header's column names.
std::vector<std::map<std::string, std::string>> report_rows(const std::string& dir);

// A trace as report.csv shows it, without its file.
std::string row_key(const std::map<std::string, std::string>& row);

// Runs pk_report on `dir`; fails the test on a non-zero exit.
testkit::RunResult run_pk_report(const std::string& dir);

}  // namespace reporttest
