#include <tallyfox/ByteFormat.h>

#include <cmath>
#include <cstdio>

namespace tallyfox {

// Follows QLocale::formattedDataSize with DataSizeSIFormat and precision 2, so the core and
// the app print the same text.
std::string formatFileBytes(std::uint64_t bytes) {
  if (bytes == 0) return "0 bytes";
  const int power = static_cast<int>(std::log10(static_cast<double>(bytes)) / 3);
  if (power == 0) return std::to_string(bytes) + " bytes";
  static const char* const units[] = {"", "kB", "MB", "GB", "TB", "PB", "EB"};
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %s", static_cast<double>(bytes) / std::pow(1000.0, power),
                units[power]);
  return text;
}

}  // namespace tallyfox
