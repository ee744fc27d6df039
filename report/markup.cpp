#include "report/markup.h"

#include <cstdio>

namespace report {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
std::size_t utf8_length(std::string_view s, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = byte(at);
  const std::size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || at + n > s.size()) return 0;
  for (std::size_t i = 1; i < n; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  const bool overlong = (c == 0xE0 && byte(at + 1) < 0xA0) || (c == 0xF0 && byte(at + 1) < 0x90);
  const bool surrogate_or_beyond = (c == 0xED && byte(at + 1) >= 0xA0) || (c == 0xF4 && byte(at + 1) >= 0x90);
  return overlong || surrogate_or_beyond ? 0 : n;
}

std::string_view entity(char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&#39;";
    default: return {};
  }
}

}  // namespace

std::string escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const std::size_t n = utf8_length(text, i);
    if (n == 0 || (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
      out += kReplacement;
      i += n == 0 ? 1 : n;
    } else if (const std::string_view e = entity(c); !e.empty()) {
      out += e;
      ++i;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

std::string duration_text(int64_t us) {
  const int64_t ms = us / 1000, s = us / 1'000'000, min = s / 60, h = min / 60, d = h / 24;
  char buf[48];
  if (s < 1) std::snprintf(buf, sizeof buf, "%lld ms", static_cast<long long>(ms));
  else if (min < 1) std::snprintf(buf, sizeof buf, "%.1f s", static_cast<double>(ms) / 1000);
  else if (h < 1) std::snprintf(buf, sizeof buf, "%lld min %lld s", static_cast<long long>(min), static_cast<long long>(s % 60));
  else if (d < 1) std::snprintf(buf, sizeof buf, "%lld h %lld min", static_cast<long long>(h), static_cast<long long>(min % 60));
  else std::snprintf(buf, sizeof buf, "%lld d %lld h", static_cast<long long>(d), static_cast<long long>(h % 24));
  return buf;
}

}  // namespace report
