// The packet the log and record tests lay their fields into.
#pragma once

#include <cstdint>

#include "tests/support/pkenc.h"

// Experiment 01, year 03, unit 1234, day 365 23:59:59.900, 1024 bytes, sequence 0007;
// every body byte `fill`.
inline pktest::Packet test_packet(const char* type, uint8_t fill = ' ') {
  const pktest::Header head{
      .type = type, .exper = 1, .unit = 0x1234, .time = "2003365235959900", .bpp = 1024, .seq = 7};
  return pktest::make_packet(head, fill);
}
