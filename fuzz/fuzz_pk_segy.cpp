// Whole pk_segy runs (log and QC on) over arbitrary packet files.
#include <cstddef>
#include <cstdint>

#include "fuzz/packet_run.h"
#include "segy/segy_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  pk::segy::SegyWriter writer;
  pkfuzz::run_packet_program(pkfuzz::Program::segy, writer, data, size);
  return 0;
}
