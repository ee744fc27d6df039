// One trace of an output file as its headers describe it: the unit of a report row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace report {

// miniSEED event files and SDS day files are kinds of their own: an archive holding what
// event files hold is no overlap of them.
enum class Format { segy, seisan, sac, mseed, sds };
std::string_view format_name(Format f);
// The program of this project that writes the format.
std::string_view program_name(Format f);

struct Trace {
  Format format = Format::segy;
  std::string file;   // relative to the directory the report covers
  // The recorder: the SEG-Y unit id (four hex digits), the SEISAN station code, the SAC kstnm,
  // the miniSEED station code.
  std::string unit;
  // SEG-Y and SEISAN: numbers counted from 1. SAC: no stream; the channel is kcmpnm, the
  // stream id hbk2sac writes there. miniSEED: the location code and the channel code.
  std::string stream, channel;
  // Of the run that wrote the file: its failure, or "warning: " and its first WARNING line;
  // empty when it succeeded without a warning or is unknown.
  std::string status;
  unsigned overlaps = 0;  // other traces of its row and format that hold samples of its time
  int64_t start_us = 0;  // first sample, microseconds since 1970 (UTC)
  double rate = 0;       // samples per second; 0 when the header gives none
  uint64_t samples = 0;
};

// The time of the last sample; none for a trace without samples or without a rate.
std::optional<int64_t> end_us(const Trace& t);
// Microseconds between two samples; 0 without a rate.
double interval_us(const Trace& t);

// What one output file holds, or why it could not be read.
struct FileTraces {
  std::vector<Trace> traces;
  std::string error;  // empty when the file was read
};

}  // namespace report
