// Traces of SEISAN waveform files: one per channel header. Both framings are read: the
// classic one ('K', blocks of at most 128 bytes between length bytes, the end byte 130)
// and the 4-byte length words of newer SEISAN versions.
#pragma once

#include "report/input_file.h"
#include "report/trace.h"

namespace report {

FileTraces read_seisan(InputFile& file);

}  // namespace report
