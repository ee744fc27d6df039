// The seam between the shared packet engine and the two output formats.
#pragma once

#include <string>

#include "lists.h"
#include "run.h"

namespace pk {

class Writer {
 public:
  virtual ~Writer() = default;

  // "PK_SEGY" / "PK_SEIS": banner, usage text and messages.
  virtual const char* program_name() const = 0;
  // Last line of the usage text's purpose: "the data to SEG-Y format." etc.
  virtual const char* format_purpose() const = 0;
  // Settings file looked up at start-up and the message when it is missing.
  virtual const char* settings_file_name() const = 0;
  virtual const char* missing_settings_message() const = 0;
  // Byte order of the 32-bit samples in channel data files.
  virtual bool samples_big_endian() const = 0;
  // pk_segy takes -G and -H; pk_seis takes -D and -F.
  virtual bool is_segy() const = 0;

  // Called by find_unit whenever the packet's unit differs from the previous one.
  virtual void unit_selected(Run&, Unit_list_str&) {}
  // Called when an event closes, after Chan_each is sorted and before merge_file_pc.
  virtual void before_merge(Run&, Evt_list_str&) {}
  // Turns the event's channel data files into output files and deletes them.
  virtual void merge_file_pc(Run& run, Evt_list_str& evt, File_list_str* file) = 0;
  // End of run: close whatever the writer still holds.
  virtual void finish(Run&) {}
};

}  // namespace pk
