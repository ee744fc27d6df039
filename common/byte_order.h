// Integers stored with an explicit byte order. Packets, SEG-Y headers and pk_segy's
// channel data are big-endian (most significant byte first); pk_seis's channel data and
// the 4-byte lengths of SEISAN 7+ records are little-endian.
#pragma once

#include <cstdint>

namespace pk {

inline uint16_t be_u16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t be_u32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline int32_t be_i16(const uint8_t* p) { return static_cast<int16_t>(be_u16(p)); }
inline int32_t be_i32(const uint8_t* p) { return static_cast<int32_t>(be_u32(p)); }

inline void put_be16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void put_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline void put_le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// The four bytes of v in the other order.
constexpr uint32_t byte_swapped(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

}  // namespace pk
