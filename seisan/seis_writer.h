// The SEISAN output of pk_seis: header temporaries at event close, then one waveform
// file per event assembled from them and the channel data files.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "lists.h"
#include "run.h"
#include "writer.h"

namespace pk::seis {

class SeisanWriter : public Writer {
 public:
  const char* program_name() const override { return "PK_SEIS"; }
  const char* format_purpose() const override { return "the data to SEISAN format."; }
  const char* settings_file_name() const override { return "PKU.INI"; }
  const char* missing_settings_message() const override {
    return "\n Unable to open the PKU.INI file; using the default value on the SEISAN header";
  }
  bool samples_big_endian() const override { return false; }
  bool is_segy() const override { return false; }

  void unit_selected(Run& run, Unit_list_str& unit) override;
  void before_merge(Run& run, Evt_list_str& evt) override;
  void merge_file_pc(Run& run, Evt_list_str& evt, File_list_str* file) override;

 private:
  // Header temporaries of the event being finished.
  std::string Sfh_file;
  std::map<const File_list_str*, std::string> Sth_files;
};

// The event's channel nodes in the order of Chan_each, each node once, searching the ring
// onward from `from` so that equal channel numbers of different streams all turn up.
std::vector<File_list_str*> ordered_channels(const Evt_list_str& evt, File_list_str* from);

// "YYYY_DDD_HH_MM_SS_UUUU_S" of the event's first sample time, unit and stream.
std::string event_base_name(const Evt_list_str& evt);
// Paths the event's header temporary and waveform file are described by; a waveform file
// gets a lettered alternative when its name is taken (see publish).
std::string sfh_path(const Run& run, const Evt_list_str& evt);
std::string sei_path(const Run& run, const Evt_list_str& evt);
// The channel header is described by the channel data file's name with ".STH".
std::string sth_path(const Run& run, const File_list_str& file);

// Writes the event's file-header temporary (.SFH, 961 bytes); returns its path.
std::string seis_fl_hd(Run& run, const Evt_list_str& evt);
// Writes the channel-header temporary (.STH, 1040 bytes); returns its path.
std::string seis_ch_hd(Run& run, const File_list_str& file);

}  // namespace pk::seis
