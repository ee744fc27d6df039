// The SEISAN output of pk_seis: one waveform file per event, its headers built in memory
// and its sample records copied from the channel data files but the first, around whose
// samples the file is completed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "convert/lists.h"
#include "convert/run.h"
#include "seisan/seis_block.h"
#include "convert/writer.h"

namespace pk::seis {

class SeisanWriter : public Writer {
 public:
  const ProgramInfo& info() const override {
    static constexpr ProgramInfo kInfo{
        "PK_SEIS", "the data to SEISAN format.", "PKU.INI",
        "\n Unable to open the PKU.INI file; using the default value on the SEISAN header", false};
    return kInfo;
  }

  // -W (record framing), and -D and -F, which the usage text does not show.
  bool takes_switch(char letter) const override { return letter == 'D' || letter == 'F' || letter == 'W'; }
  std::optional<std::string> apply_switch(Options& options, const std::string& arg) override;
  std::string usage_trailing(const Options& options) const override;
  // A settings file that is there but cannot be read is not missing: the first unit that
  // asks for its names ends the run.
  bool settings_usable(const SettingsFile& settings) const override { return settings.exists; }

  // The record framing -W chose.
  SeiFraming framing = SeiFraming::pc_blocks;

  // Takes the unit's names and component letters from the settings file.
  void unit_created(const RunSetup& run, UnitNode& unit) override;
  // Each data file keeps room in front of its samples for the waveform file's head.
  std::size_t channel_head_room(const Options& options) const override;
  // The channel data files hold the sample records as the waveform file frames them, so
  // that they are copied into it unchanged.
  SampleLayout sample_layout(const Options& options) const override;
  // A channel header's count holds seven digits.
  std::uint64_t max_samples_per_file(const Options& options) const override;
  void finish_event(const RunSetup& run, Outputs& out, EventNode& evt) override;
};

// The event's channel nodes in the order of Chan_each, each node once, searching the ring
// onward from the current channel so that equal channel numbers of different streams all
// turn up.
std::vector<ChannelNode*> ordered_channels(const EventNode& evt);

// "YYYY_DDD_HH_MM_SS_UUUU_S" of the event's first sample time, unit and stream.
std::string event_base_name(const EventNode& evt);

// The event's file header (961 bytes: 'K' and twelve lines) before the pass completes it.
std::string seis_fl_hd(const EventNode& evt);
// A channel's header (1040 bytes) without its sample rate and count.
std::string seis_ch_hd(const ChannelNode& file);

}  // namespace pk::seis
