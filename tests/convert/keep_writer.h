// A writer without an output format: events close and their channel data files are
// published under their own names, so the engine's own output can be examined.
#pragma once

#include "lists.h"
#include "output_file.h"
#include "ring.h"
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
  void merge_file_pc(pk::Run& run, pk::Evt_list_str& evt, pk::File_list_str*) override {
    for (pk::File_list_str* f : pk::ring_nodes(evt.First_chan)) {
      pk::cls_file(run, f);
      if (!pk::own_data_file(*f)) continue;
      const std::string time = f->First_smp_time.text();
      pk::publish(run, run.Dir + pk::level_dir(run.Path_option, time),
                  {{f->Filename, pk::channel_base_name(time, f->Unit_num, f->Strm_num, f->Chan_num) + ".STD"}});
      f->Filename.clear();
    }
  }

 private:
  bool little_;
};
}  // namespace testutil
