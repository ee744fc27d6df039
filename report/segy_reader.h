// Traces of SEG-Y files as pk_segy writes them: a trace file (.RSY, or .SGY after a file
// header) or a gather (.EGY, .RGY: a file header and one trace after another).
#pragma once

#include <string_view>

#include "report/input_file.h"
#include "report/trace.h"

namespace report {

// `name` is the file's name: its "_S" part gives the stream, which the trace header lacks.
FileTraces read_segy(InputFile& file, std::string_view name, bool file_header);

}  // namespace report
