#include "report/trace.h"

#include <cmath>

namespace report {

namespace {

struct Names {
  std::string_view format, program;
};
// In the order of `Format`.
constexpr Names kNames[] = {{"SEG-Y", "pk_segy"}, {"SEISAN", "pk_seis"}, {"SAC", "hbk2sac"}, {"miniSEED", "pk_mseed"}, {"SDS miniSEED", "pk_mseed"}};

}  // namespace

std::string_view format_name(Format f) { return kNames[static_cast<std::size_t>(f)].format; }
std::string_view program_name(Format f) { return kNames[static_cast<std::size_t>(f)].program; }

double interval_us(const Trace& t) { return t.rate > 0 ? 1e6 / t.rate : 0; }

std::optional<int64_t> end_us(const Trace& t) {
  if (t.samples == 0 || t.rate <= 0) return std::nullopt;
  return t.start_us + std::llround(static_cast<double>(t.samples - 1) * interval_us(t));
}

}  // namespace report
