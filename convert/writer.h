// The seam between the shared packet engine and the output formats: everything that
// tells one packet program from another - its name and texts, its own switches, its
// settings file, its end-of-input rules, and what happens to a channel's data file and
// to an event once it is complete. The engine asks the writer; it never asks which
// program runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "convert/lists.h"
#include "convert/output_file.h"
#include "convert/run.h"
#include "convert/sample_layout.h"

namespace pk {

struct ProgramInfo {
  const char* name;              // "PK_SEGY", "PK_SEIS", ...: banner, usage text, file headers
  const char* format_purpose;    // last line of the usage text's purpose
  const char* settings_file;     // looked up at start-up
  const char* missing_settings;  // printed when it is not usable
  bool samples_big_endian;       // byte order of the channel data files
};

class Writer {
 public:
  virtual ~Writer() = default;

  virtual const ProgramInfo& info() const = 0;

  // ---- the program's own switches, beside the common -L -P -Q -R -S -T -V ----
  // Whether the switch letter (upper case) is one of them.
  virtual bool takes_switch(char) const { return false; }
  // Applies one of them ("-Xvalue"): nothing when taken, else the line saying what is wrong.
  virtual std::optional<std::string> apply_switch(Options&, const std::string&) { return std::nullopt; }
  // Their usage lines: in front of the common switches, and after the closing notes.
  virtual std::string usage_leading(const Options&) const { return {}; }
  virtual std::string usage_trailing(const Options&) const { return {}; }

  // Whether the settings file as start-up found it counts as there; when not, the
  // program's missing-settings text is printed and the run goes on.
  virtual bool settings_usable(const SettingsFile& settings) const { return settings.text.has_value(); }
  // An event the input ended in, before it is closed.
  virtual void closing_at_end_of_input(EventNode&) const {}

  // A unit's first packet came.
  virtual void unit_created(const RunSetup&, UnitNode&) {}
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
  // Whether the output places a channel's samples by their count from its first one, so
  // that packet times which disagree (time tears) are worth a warning.
  virtual bool places_samples_by_count() const { return true; }
  // Turns the complete event's channel data files (all closed) into output files.
  virtual void finish_event(const RunSetup& run, Outputs& out, EventNode& evt) = 0;
  // End of input: whatever spans events is published.
  virtual void finish(Outputs&) {}
  // After a finished run: what the user should know about the files written, one line each.
  virtual void write_notes(std::FILE*) const {}
};

}  // namespace pk
