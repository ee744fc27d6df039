// pk_segy's output format: one SEG-Y trace file per channel of a closed event, optionally
// collected into shot-gather (".EGY") or receiver-gather (".RGY") files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lists.h"
#include "run.h"
#include "segy_header.h"
#include "shot_points.h"
#include "writer.h"

namespace pk::segy {

// "YYYY_DDD_HH_MM_SS_UUUUU_S_C.SGY" (file header on) or ".RSY" for one channel of an event.
std::string trace_file_name(const std::string& evt_time, uint32_t unit, uint32_t strm, uint32_t chan,
                            bool file_header);
// The gather a trace file name goes into: ".EGY" per stream, or ".RGY" per unit.
std::string shot_gather_name(const std::string& trace_name);
std::string receiver_gather_name(const std::string& trace_name);
// The unit id that a trace file name carries (characters 18 to 22, hexadecimal).
uint16_t trace_name_unit(const std::string& trace_name);

// A trace file as written: the name its event and channel describe, its temporary, and
// whether it went into a gather (and so is gone).
struct TraceFile {
  std::string name;
  std::string path;
  bool gathered = false;
};

// A receiver gather being filled: published under `name` in `directory` when the run ends.
struct ReceiverGather {
  std::string temporary;
  std::string directory;
  std::string name;
};

class SegyWriter : public Writer {
 public:
  const ProgramInfo& info() const override {
    static constexpr ProgramInfo kInfo{"PK_SEGY", "the data to SEG-Y format.", "PK_EDF.EDF",
                                       "\n Unable to open the PK_EDF.EDF file; using default values", true, true};
    return kInfo;
  }

  // The channel data file becomes the trace file: it starts with room for the headers.
  std::size_t channel_head_room(const Options& options) const override;
  void merge_file_pc(const RunSetup& run, Outputs& out, Evt_list_str& evt) override;
  // Publishes the receiver gathers, which span the run.
  void finish(Outputs& out) override;

  // ---- steps of the finishing pass ----
  // The head of a channel's trace file: the file header when asked for, then the trace
  // header, their pass fields filled in.
  std::vector<uint8_t> trace_file_head(bool file_header, const Evt_list_str& evt, const File_list_str& chan,
                                       const TracePass& pass);
  // Appends the given trace files of one event to their gathers and deletes those gathered.
  void gathering(Outputs& out, const flag_strc& flags, const std::string& directory, std::vector<TraceFile>& traces);
  // Appends one trace (positioned at its trace header) to its gather file; a gather that
  // cannot be created or opened ends the run with code 20.
  void update_file(Outputs& out, bool receiver, std::FILE* trace, const TraceFile& trace_file,
                   const std::string& directory);

  // ---- state kept from event to event ----
  uint16_t Sp = 0;
  // Receiver gather of each unit, named after the unit's first gathered trace.
  std::map<uint16_t, ReceiverGather> Recv_info;
  // Temporaries of the shot gathers of the event being gathered, by their final names: a
  // shot gather holds one event, so a later event never adds to it.
  std::map<std::string, std::string> Shot_info;

 private:
  void update_shot_point(const SettingsFile& settings, const Evt_list_str& evt);
  // The gather file this run holds for a trace, created empty on first use.
  std::string gather_file(Outputs& out, bool receiver, const std::string& directory,
                                         const std::string& trace_name);
  // Writes one channel's trace file.
  TraceFile write_trace(Outputs& out, const flag_strc& flags, Evt_list_str& evt, File_list_str& chan,
                        const std::string& directory);

  // Shot points of each unit, from the settings file.
  std::map<uint16_t, std::vector<sp_value_strc>> shot_lists_;
};

}  // namespace pk::segy
