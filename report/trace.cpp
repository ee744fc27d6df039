#include "trace.h"

#include <cmath>

namespace report {

std::string_view format_name(Format f) {
  switch (f) {
    case Format::segy: return "SEG-Y";
    case Format::seisan: return "SEISAN";
    case Format::sac: return "SAC";
  }
  return "?";
}

double interval_us(const Trace& t) { return t.rate > 0 ? 1e6 / t.rate : 0; }

std::optional<int64_t> end_us(const Trace& t) {
  if (t.samples == 0 || t.rate <= 0) return std::nullopt;
  return t.start_us + std::llround(static_cast<double>(t.samples - 1) * interval_us(t));
}

}  // namespace report
