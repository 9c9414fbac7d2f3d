#include <tallyfox/ByteFormat.h>

#include <cstdio>

namespace tallyfox {

std::string formatFileBytes(std::uint64_t bytes) {
  if (bytes == 1) return "1 byte";
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  static const char* const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  double value = double(bytes) / 1000.0;
  std::size_t unit = 0;
  // The unit is chosen after rounding, so that 999,960 bytes read "1.0 MB", not "1000.0 kB".
  while (value >= 999.95 && unit + 1 < std::size(units)) {
    value /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

}  // namespace tallyfox
