// pk_mseed's output format: per event and stream one miniSEED file of 4096-byte records
// holding all its channels, or (-A) the same records merged into an SDS archive's day files.
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "convert/lists.h"
#include "convert/output_file.h"
#include "convert/run.h"
#include "mseed/sds_archive.h"
#include "mseed/seed_codes.h"
#include "convert/writer.h"

namespace pk::mseed {

// "YYYY_DDD_HH_MM_SS_UUUU_S.mseed" of an event's first sample time, its unit and a stream.
std::string stream_file_name(const EventNode& evt, uint32_t strm);

class MseedWriter : public Writer {
 public:
  const ProgramInfo& info() const override {
    static constexpr ProgramInfo kInfo{"PK_MSEED", "the data to miniSEED format.", "PKU.INI",
                                       "\n Unable to open the PKU.INI file; using the default SEED codes", false};
    return kInfo;
  }

  // -A<root>: into the SDS archive under root.
  bool takes_switch(char letter) const override { return letter == 'A'; }
  std::optional<std::string> apply_switch(Options& options, const std::string& arg) override;
  std::string usage_leading(const Options& options) const override;
  // Takes the unit's SEED codes from the settings file.
  void unit_created(const RunSetup& run, UnitNode& unit) override;
  // An event the input ended in before any rate was known gets the default rate.
  void closing_at_end_of_input(EventNode& evt) const override;
  // Each packet's samples start a record at the packet's own time.
  bool places_samples_by_count() const override { return false; }
  void finish_event(const RunSetup& run, Outputs& out, EventNode& evt) override;
  // -A: samples of an event whose packet times went back, which the archive has only once.
  void write_notes(std::FILE* out) const override;

  // The SDS tree -A named, absolute; empty: event files.
  std::string archive_root;

 private:
  // Writes one stream's file; nothing when none of its channels has a sample.
  // `trash`: -T's count of samples discarded from each channel's start.
  std::optional<Pending> write_stream(Outputs& out, const EventNode& evt, const std::vector<ChannelNode*>& chans,
                                      const std::string& dir, uint32_t trash);
  void archive(Outputs& out, const EventNode& evt, const std::vector<Pending>& files, bool durable);

  std::map<uint32_t, UnitCodes> units_;
  // What the archive could not keep, by unit, event and SEED id: the event's own samples
  // that its later ones have the times of, and the run's earlier ones it replaced.
  struct Lost {
    int64_t left_out = 0, replaced = 0;
  };
  std::map<std::tuple<uint32_t, uint32_t, std::string>, Lost> lost_;
  MergeNotes merged_;  // the spans the run has merged so far
};

}  // namespace pk::mseed
