// PASSCAL packet header and the small field codecs every packet reader uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/byte_order.h"

namespace pk {

constexpr std::size_t kPacketSize = 1024;

// Packet type codes as returned by code_set().
enum class PacketType : int {
  unknown = 0, eh = 1, et = 2, dt = 3, sh = 4, sc = 5, ds = 6,
  cd = 7, om = 8, ad = 9, dr = 10, nh = 11, nt = 12
};

// Byte positions of the 16-byte packet header.
struct pack_head_strc {
  static constexpr std::size_t type = 0;       // 2 ASCII letters
  static constexpr std::size_t exper_num = 2;  // BCD, 1 byte
  static constexpr std::size_t year = 3;       // BCD, 1 byte
  static constexpr std::size_t unit_id = 4;    // u16 BE
  static constexpr std::size_t time = 6;       // BCD, 6 bytes DDDHHMMSSmmm
  static constexpr std::size_t bpp = 12;       // BCD, 2 bytes
  static constexpr std::size_t seq_num = 14;   // BCD, 2 bytes
};

// Broken-down time used by the writers.
struct time_tag {
  int16_t year = 0, jday = 0, month = 0, day = 0, hour = 0, min = 0, sec = 0, msec = 0;
};

// Cumulative day counts, row 0 common years, row 1 leap years.
extern const int eom[2][15];

// Writes 2n characters '0'+nibble, high nibble first; no terminator.
void unbcd(char* out, const uint8_t* in, std::size_t n);
// Numeric value of n BCD bytes, nibbles above 9 taken at face value, modulo 65536.
unsigned bcd2i(const uint8_t* in, std::size_t n);
// Packed disk time (7 bits year-1984, 25 bits seconds of year) as "YYYYDDDHHMMSS".
std::string secs_split(const uint8_t* t);
PacketType code_set(const uint8_t* p);
// One 68-character dump line of 16 bytes.
std::string hex_str(const uint8_t* in);
int isleap(int year, int gregorian);
void mnday(int jday, int leap, int& month, int& day);
// Advances a 16-character packet time string by nsamp (BCD, 2 bytes) samples at rate.
void add_str_tim(std::string& time, float rate, const uint8_t* nsamp_bcd);
// Reads a decimal number of at most `width` characters at `off` the way a
// "%Nd" conversion does (leading white space skipped); no number gives 0.
long scan_int(std::string_view s, std::size_t off, std::size_t width);
// Open with retries for up to 5 seconds.
std::FILE* fopen_pk(const std::string& name, const char* mode);
int fexist(const std::string& name);

// ---- accessors over a packet buffer: explicit offset, width, encoding ----
inline std::string_view text_at(const uint8_t* pkt, std::size_t off, std::size_t width) {
  return std::string_view(reinterpret_cast<const char*>(pkt) + off, width);
}
inline uint32_t u16be_at(const uint8_t* pkt, std::size_t off) { return be_u16(pkt + off); }
inline uint32_t u32be_at(const uint8_t* pkt, std::size_t off) { return be_u32(pkt + off); }
inline unsigned bcd_at(const uint8_t* pkt, std::size_t off, std::size_t nbytes) {
  return bcd2i(pkt + off, nbytes);
}
inline bool is_blank(std::string_view s) { return s.find_first_not_of(' ') == std::string_view::npos; }

// Header fields.
inline uint16_t header_unit_id(const uint8_t* pkt) {
  return static_cast<uint16_t>(u16be_at(pkt, pack_head_strc::unit_id));
}
inline unsigned header_seq_num(const uint8_t* pkt) { return bcd_at(pkt, pack_head_strc::seq_num, 2); }
inline unsigned header_bpp(const uint8_t* pkt) { return bcd_at(pkt, pack_head_strc::bpp, 2); }
// The header time as "YYYYDDDHHMMSSmmm" (century 19 above 84, else 20).
std::string header_time_string(const uint8_t* pkt);

}  // namespace pk
