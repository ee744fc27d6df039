// The trace of a SAC file, from its 632-byte header in either byte order.
#pragma once

#include "report/input_file.h"
#include "report/trace.h"

namespace report {

FileTraces read_sac(InputFile& file);

}  // namespace report
