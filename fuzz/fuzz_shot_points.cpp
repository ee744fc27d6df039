// The shot-point reader of PK_EDF.EDF: the first two bytes pick the unit, the
// rest is the file's text; the list is then searched as an event would.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "segy/shot_points.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const auto unit = static_cast<uint16_t>(data[0] << 8 | data[1]);
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  const auto list = pk::segy::shot_point_list(text, unit);
  for (const auto& entry : list) (void)pk::segy::find_shot_point(list, entry.sp_time);
  (void)pk::segy::find_shot_point(list, pk::segy::shot_time_of(text.substr(0, 16)));
  return 0;
}
