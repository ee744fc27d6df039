// A writer without an output format: events close but their channel data files
// stay in place, so the engine's own output can be examined.
#pragma once

#include "writer.h"

namespace testutil {
class KeepWriter : public pk::Writer {
 public:
  explicit KeepWriter(bool little) : little_(little) {}
  const char* program_name() const override { return little_ ? "PK_SEIS" : "PK_SEGY"; }
  const char* format_purpose() const override {
    return little_ ? "the data to SEISAN format." : "the data to SEG-Y format.";
  }
  const char* settings_file_name() const override { return little_ ? "PKU.INI" : "PK_EDF.EDF"; }
  const char* missing_settings_message() const override { return "\n Unable to open the settings file"; }
  bool samples_big_endian() const override { return !little_; }
  bool is_segy() const override { return !little_; }
  void merge_file_pc(pk::Run&, pk::Evt_list_str&, pk::File_list_str*) override {}

 private:
  bool little_;
};
}  // namespace testutil
