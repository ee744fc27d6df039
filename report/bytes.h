// Fields of the headers pk_report reads, each taken in the byte order its format
// prescribes: never by overlaying a struct on the bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/byte_order.h"

namespace report {

enum class Order { big, little };

// The byte at `at`; callers check the length of the view before they read a field.
inline uint32_t byte_at(std::string_view b, std::size_t at) { return static_cast<uint8_t>(b[at]); }

inline const uint8_t* bytes_at(std::string_view b, std::size_t at) {
  return reinterpret_cast<const uint8_t*>(b.data() + at);
}

inline uint16_t u16(std::string_view b, std::size_t at, Order o) {
  const uint16_t v = pk::be_u16(bytes_at(b, at));
  return o == Order::big ? v : static_cast<uint16_t>(v >> 8 | v << 8);
}

inline uint32_t u32(std::string_view b, std::size_t at, Order o) {
  const uint32_t v = pk::be_u32(bytes_at(b, at));
  return o == Order::big ? v : pk::byte_swapped(v);
}

inline int32_t i32(std::string_view b, std::size_t at, Order o) { return static_cast<int32_t>(u32(b, at, o)); }
inline float f32(std::string_view b, std::size_t at, Order o) { return std::bit_cast<float>(u32(b, at, o)); }

}  // namespace report
