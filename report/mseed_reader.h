// Traces of miniSEED files (pk_mseed's event files and SDS day files), from the record
// headers alone: libmseed reads each record without decompressing its samples.
#pragma once

#include <filesystem>
#include <string_view>

#include "report/trace.h"

namespace report {

// One trace per run of records of one SEED id that follow each other within half a sample
// interval; a record that does not, starts a new trace. The unit is the station code, the
// stream the location code (often empty), the channel the channel code.
FileTraces read_mseed(const std::filesystem::path& path, Format format);

// An SDS day file's name: NET.STA.LOC.CHAN.TYPE.YEAR.DAY, such as "XX.AE4C..HHZ.D.2015.282".
bool is_sds_day_file(std::string_view name);

}  // namespace report
