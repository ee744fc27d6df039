// Whole pk_seis runs (log and QC on) over arbitrary packet files.
#include <cstddef>
#include <cstdint>

#include "fuzz/packet_run.h"
#include "seisan/seis_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  pk::seis::SeisanWriter writer;
  pkfuzz::run_packet_program(pkfuzz::Program::seis, writer, data, size);
  return 0;
}
