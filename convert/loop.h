// The packet conversion loop shared by pk_segy and pk_seis.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>

#include "lists.h"
#include "run.h"

namespace pk {

// Reads the next packet: 0 for a whole packet, 29 at end of input (a trailing
// partial packet is dropped); a read error ends the run with code 21.
int read_block(Run& run, uint8_t* buffer);
// While it lives, CTRL-C (or SIGTERM) ends the conversion at the next packet with code 1;
// the handlers the process had before come back afterwards.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction old_int_ {}, old_term_ {};
};
// Whether CTRL-C or SIGTERM came while an InterruptGuard lived.
bool interrupt_requested();
// Converts the whole input; returns 0.
int pk_cvt(Run& run);
// The closing sequence of an event: channel order, writer, freeing.
void close_event(Run& run, Evt_list_str* evt, bool at_end_of_input);
// One line per data-format byte whose DT packets went undecoded, each ending in line_end.
void write_undecoded_warnings(const Run& run, std::FILE* out, const char* line_end);

// Sample decoders: append the packet's samples to the channel data file.
void proc_16_blk(Run& run, File_list_str* file, const uint8_t* pkt);
void proc_32_raw(Run& run, File_list_str* file, const uint8_t* pkt);
void proc_32_blk(Run& run, File_list_str* file, const uint8_t* pkt);
void proc_c0_blk(Run& run, File_list_str* file, const uint8_t* pkt);
void proc_c2_blk(Run& run, File_list_str* file, const uint8_t* pkt);

}  // namespace pk
