#include "tests/report/report_kit.h"

#include <gtest/gtest.h>

namespace reporttest {

std::vector<std::vector<std::string>> csv_lines(const std::string& text) {
  std::vector<std::vector<std::string>> lines(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') lines.back().back() += text[++i];
    else if (c == '"') quoted = !quoted;
    else if (!quoted && c == ',') lines.back().emplace_back();
    else if (!quoted && c == '\n') lines.emplace_back(1);
    else lines.back().back() += c;
  }
  if (lines.back().size() == 1 && lines.back()[0].empty()) lines.pop_back();
  return lines;
}

std::vector<std::map<std::string, std::string>> report_rows(const std::string& dir) {
  const auto lines = csv_lines(testkit::read_file(dir + "/report.csv"));
  std::vector<std::map<std::string, std::string>> rows;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].size(), lines[0].size()) << "line " << i;
    auto& row = rows.emplace_back();
    for (std::size_t c = 0; c < lines[0].size() && c < lines[i].size(); ++c) row[lines[0][c]] = lines[i][c];
  }
  return rows;
}

std::string row_key(const std::map<std::string, std::string>& row) {
  std::string key;
  for (const char* col : {"program", "unit", "stream", "channel", "start", "end", "samples", "rate", "status"})
    key += (row.count(col) ? row.at(col) : "?") + " ";
  return key;
}

testkit::RunResult run_pk_report(const std::string& dir) {
  testkit::RunResult r = testkit::run_program(testkit::program_path("pk_report"), "'" + dir + "'", dir);
  EXPECT_EQ(r.code, 0) << r.out;
  return r;
}

}  // namespace reporttest
