// Fields of the headers pk_report reads, each taken in the byte order its format
// prescribes: never by overlaying a struct on the bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace report {

enum class Order { big, little };

// The byte at `at`; callers check the length of the view before they read a field.
inline uint32_t byte_at(std::string_view b, std::size_t at) { return static_cast<uint8_t>(b[at]); }

inline uint16_t u16(std::string_view b, std::size_t at, Order o) {
  const uint32_t hi = byte_at(b, o == Order::big ? at : at + 1), lo = byte_at(b, o == Order::big ? at + 1 : at);
  return static_cast<uint16_t>(hi << 8 | lo);
}

inline uint32_t u32(std::string_view b, std::size_t at, Order o) {
  const uint32_t hi = u16(b, o == Order::big ? at : at + 2, o), lo = u16(b, o == Order::big ? at + 2 : at, o);
  return hi << 16 | lo;
}

inline int32_t i32(std::string_view b, std::size_t at, Order o) { return static_cast<int32_t>(u32(b, at, o)); }
inline float f32(std::string_view b, std::size_t at, Order o) { return std::bit_cast<float>(u32(b, at, o)); }

}  // namespace report
