// A few lines to lay out test packets and capture what a dump writes.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

namespace pktext {

using Packet = std::array<uint8_t, 1024>;

inline void bytes(Packet& p, std::size_t off, std::initializer_list<uint8_t> b) {
  for (uint8_t v : b) p[off++] = v;
}
inline void text(Packet& p, std::size_t off, std::string_view s) { std::memcpy(p.data() + off, s.data(), s.size()); }
inline void u16(Packet& p, std::size_t off, uint16_t v) { bytes(p, off, {uint8_t(v >> 8), uint8_t(v)}); }
inline void u32(Packet& p, std::size_t off, uint32_t v) {
  bytes(p, off, {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
}

// Experiment 01, year 03, unit 1234, day 365 23:59:59.900, 1024 bytes, sequence 0007.
inline Packet packet(const char* type, uint8_t fill = ' ') {
  Packet p;
  p.fill(fill);
  text(p, 0, std::string_view(type, 2));
  bytes(p, 2, {0x01, 0x03, 0x12, 0x34, 0x36, 0x52, 0x35, 0x95, 0x99, 0x00, 0x10, 0x24, 0x00, 0x07});
  return p;
}

// Everything `write` puts on a stream, byte for byte.
template <class F>
std::string capture(F&& write) {
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* fd = open_memstream(&buf, &len);
  write(fd);
  std::fclose(fd);
  std::string out(buf, len);
  std::free(buf);
  return out;
}

}  // namespace pktext
