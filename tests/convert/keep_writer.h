// A writer without an output format: events close and their channel data files are
// published under their own names, so the engine's own output can be examined.
#pragma once

#include "convert/lists.h"
#include "convert/output_file.h"
#include "convert/ring.h"
#include "convert/writer.h"

namespace testutil {
class KeepWriter : public pk::Writer {
 public:
  explicit KeepWriter(bool little) : little_(little) {}
  const pk::ProgramInfo& info() const override {
    static constexpr pk::ProgramInfo kSegy{"PK_SEGY", "the data to SEG-Y format.", "PK_EDF.EDF",
                                           "\n Unable to open the settings file", true};
    static constexpr pk::ProgramInfo kSeis{"PK_SEIS", "the data to SEISAN format.", "PKU.INI",
                                           "\n Unable to open the settings file", false};
    return little_ ? kSeis : kSegy;
  }
  void finish_event(const pk::RunSetup&, pk::Outputs& out, pk::EventNode& evt) override {
    for (pk::ChannelNode* f : pk::ring_nodes(evt.First_chan)) {
      if (!pk::own_data_file(*f)) continue;
      const std::string time = f->First_smp_time.text();
      pk::publish(out, out.Dir + pk::level_dir(out.Path_option, time),
                  {{f->Filename, pk::channel_base_name(time, f->Unit_num, f->Strm_num, f->Chan_num) + ".STD"}});
      f->Filename.clear();
    }
  }

 private:
  bool little_;
};
}  // namespace testutil
