// The output files a report covers: found below a directory by their extensions, and read
// by the reader of their format.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "report/trace.h"

namespace report {

struct FoundOutputs {
  std::vector<std::string> files;  // relative to the directory, sorted
  std::vector<std::string> errors;  // directories that could not be listed
};

// Hidden files and directories, and the temporaries of runs still going or killed (".part"),
// are passed over.
FoundOutputs find_outputs(const std::filesystem::path& dir);

bool is_output_name(const std::string& name);
// The program that writes files of this name's kind.
std::string output_program(const std::string& name);

// The traces of one output file (`file` relative to `dir`), each naming the file.
FileTraces read_output(const std::filesystem::path& dir, const std::string& file);

}  // namespace report
