#include "JsonValues.h"

#include <tallyfox/Unicode.h>

namespace tallyfox::detail {

nlohmann::json pathToJson(std::string_view bytes) {
  // Decoding changes exactly the bytes that are not UTF-8.
  if (Unicode::decodeLossy(bytes) == bytes) return std::string(bytes);
  nlohmann::json array = nlohmann::json::array();
  for (unsigned char c : bytes) array.push_back(int(c));
  return array;
}

std::optional<std::string> pathFromJson(const nlohmann::json& value) {
  std::string bytes;
  if (value.is_string()) {
    bytes = value.get<std::string>();
  } else if (value.is_array()) {
    for (const auto& element : value) {
      if (!element.is_number_unsigned() || element.get<std::uint64_t>() > 255) return std::nullopt;
      bytes.push_back(char(element.get<std::uint64_t>()));
    }
  } else {
    return std::nullopt;
  }
  if (bytes.find('\0') != std::string::npos) return std::nullopt;
  return bytes;
}

nlohmann::json timeToJson(std::chrono::system_clock::time_point when) {
  return std::chrono::duration<double>(when.time_since_epoch()).count();
}

std::optional<std::chrono::system_clock::time_point> timeFromJson(const nlohmann::json& value) {
  if (!value.is_number()) return std::nullopt;
  const double seconds = value.get<double>();
  // The clock counts nanoseconds in 64 bits: about 292 years either side of 1970.
  if (!(seconds > -9e9 && seconds < 9e9)) return std::nullopt;
  return std::chrono::system_clock::time_point(
      std::chrono::round<std::chrono::system_clock::duration>(std::chrono::duration<double>(seconds)));
}

}  // namespace tallyfox::detail
