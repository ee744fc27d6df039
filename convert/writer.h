// The seam between the shared packet engine and the two output formats: what tells the
// programs apart at start-up, and what happens to a channel's data file and to an event
// once it is complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "lists.h"
#include "output_file.h"
#include "run.h"
#include "sample_layout.h"

namespace pk {

struct ProgramInfo {
  const char* name;              // "PK_SEGY" / "PK_SEIS": banner, usage text, file headers
  const char* format_purpose;    // last line of the usage text's purpose
  const char* settings_file;     // looked up at start-up
  const char* missing_settings;  // printed when it is not there
  bool samples_big_endian;       // byte order of the channel data files
  bool is_segy;                  // pk_segy takes -G and -H; pk_seis -D, -F and -W
};

class Writer {
 public:
  virtual ~Writer() = default;

  virtual const ProgramInfo& info() const = 0;

  // A unit's first packet came.
  virtual void unit_created(const RunSetup&, Unit_list_str&) {}
  // How the engine lays out the samples it appends to channel data files.
  virtual SampleLayout sample_layout(const Options&) const { return {info().samples_big_endian, false}; }
  // Room the writer keeps at the head of every channel data file, in front of the samples,
  // for what the finished output holds there: the file can then become the output itself.
  virtual std::size_t channel_head_room(const Options&) const { return 0; }
  // Creates the data file of a new channel in `dir` (ending in '/'), whose name `base`
  // describes, with the head room as a hole, and returns its path. The engine appends the
  // channel's samples to it and counts them; the file stays the writer's to read, move or
  // delete when the event is complete.
  std::string create_channel_data(const RunSetup& run, Outputs& out, const std::string& dir,
                                  const std::string& base);
  // The most samples one output file may hold of a channel (0: no limit). A channel that
  // would pass it ends its event's segment there; the event goes on in a new one.
  virtual std::uint64_t max_samples_per_file(const Options&) const { return 0; }
  // Turns the complete event's channel data files (all closed) into output files.
  virtual void merge_file_pc(const RunSetup& run, Outputs& out, Evt_list_str& evt) = 0;
  // End of input: whatever spans events is published.
  virtual void finish(Outputs&) {}
  // After a finished run: what the user should know about the files written, one line each.
  virtual void write_notes(std::FILE*) const {}
};

}  // namespace pk
