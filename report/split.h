// File names read field by field.
#pragma once

#include <string_view>
#include <vector>

namespace report {

// The pieces between separators: "a__b" gives "a", "", "b".
inline std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t from = 0;;) {
    const std::size_t to = text.find(separator, from);
    parts.push_back(text.substr(from, to - from));
    if (to == std::string_view::npos) return parts;
    from = to + 1;
  }
}

}  // namespace report
