// The station-settings reader of PKU.INI: the first two bytes pick the unit, the
// rest is the file's text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "seisan/seis_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const uint32_t unit = static_cast<uint32_t>(data[0]) << 8 | data[1];
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  const auto settings = pk::seis::parse_pku_ini(text, unit);
  // The writer reads the component letters by channel index; they must all exist.
  if (settings.station.size() > 4 || settings.comp.size() < 16) __builtin_trap();
  return 0;
}
