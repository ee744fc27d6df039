// Text taken from file names, headers and console output, made safe for the report page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace report {

// Escapes the characters markup gives a meaning to; bytes that are not UTF-8, and control
// characters XML does not allow, become U+FFFD.
std::string escape(std::string_view text);

// "850 ms", "12.5 s", "3 min 20 s", "2 h 5 min", "3 d 4 h".
std::string duration_text(int64_t us);

}  // namespace report
