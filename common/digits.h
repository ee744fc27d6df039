// Zero-padded numbers written straight into a buffer: what printf's "%0Nlu" and "%0NlX"
// produce for unsigned values, without parsing a format for every packet.
#pragma once

#include <cstddef>

namespace pk {

// Writes `v` in `base` (10 or 16, upper-case digits) with at least `width` digits, zeros in
// front; returns the end of what it wrote. Wider values keep all their digits.
inline char* put_padded(char* out, unsigned long v, std::size_t width, unsigned base = 10) {
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[v % base];
    v /= base;
  } while (v != 0);
  for (; width > n; --width) *out++ = '0';
  while (n > 0) *out++ = digits[--n];
  return out;
}

}  // namespace pk
