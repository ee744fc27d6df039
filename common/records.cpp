#include "common/records.h"

#include <array>

namespace pk {

namespace {

struct trigger_code {
  std::string_view upper, lower;
  trigger_kind kind;
};

constexpr std::array<trigger_code, 8> kTriggerCodes{{
    {"EVT", "evt", trigger_kind::evt},
    {"TIM", "tim", trigger_kind::tim},
    {"LEV", "lev", trigger_kind::lev},
    {"CON", "con", trigger_kind::con},
    {"EXT", "ext", trigger_kind::rx},
    {"RAD", "rad", trigger_kind::rx},
    {"CRS", "crs", trigger_kind::crs},
    {"TML", "tml", trigger_kind::tml},
}};

}  // namespace

trigger_kind select_trigger(std::string_view trg_type) {
  if (!trg_type.empty() && trg_type.front() == ' ') trg_type.remove_prefix(1);
  const std::string_view code = trg_type.substr(0, 3);
  for (const auto& c : kTriggerCodes)
    if (code == c.upper || code == c.lower) return c.kind;
  return trigger_kind::none;
}

std::optional<std::string> packed_time(const uint8_t* t) {
  if (t[0] == 0 && t[1] == 0 && t[2] == 0 && t[3] == 0) return std::nullopt;
  return secs_split(t);
}

std::vector<dr_ent_def> dr_pkt::entries() const {
  std::vector<dr_ent_def> out;
  std::size_t off = kFirstEntry;
  for (uint32_t i = 0, n = num_dir_ent(); i < n; ++i) {
    if (off + dr_ent_def::kSize > kPacketSize) break;
    const dr_ent_def e{p + off};
    out.push_back(e);
    off += e.ent_length();
  }
  return out;
}

}  // namespace pk
