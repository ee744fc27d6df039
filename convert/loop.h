// The packet conversion loop shared by pk_segy and pk_seis.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "convert/helpers.h"
#include "convert/lists.h"
#include "convert/run.h"

namespace pk {

// The input file of packets.
struct PacketInput {
  std::vector<char> buffer;  // the stream's: outlives it
  FilePtr file;
  std::string name;
  std::size_t partial_bytes = 0;  // of the cut-off packet the input ended in
};

// Reads the next packet: true for a whole packet, false at the end of the input (a
// trailing partial packet is dropped, its size noted). A read error ends the run with
// code 21, CTRL-C with code 1.
bool read_block(PacketInput& in, uint8_t* buffer);


// Converts the whole input, closing every event.
void pk_cvt(Conversion& conv, PacketInput& in);
// The closing sequence of an event: channel order, writer, freeing.
void close_event(Conversion& conv, EventNode* evt, bool at_end_of_input);

}  // namespace pk
