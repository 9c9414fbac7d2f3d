#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// Values of the JSON Tallyfox writes (the small files beside its snapshots, tfscan's --json),
// in one form for every writer and one strict reading for every reader.
namespace tallyfox::detail {

// A path or name: a string when its bytes are UTF-8, else the array of its byte values, so
// that a name in another encoding survives the round trip and still names the file.
nlohmann::json pathToJson(std::string_view bytes);
// The bytes back; nothing for any other JSON value, or for bytes holding a NUL.
std::optional<std::string> pathFromJson(const nlohmann::json& value);

// A time as seconds since 1970, as snapshot headers store it.
nlohmann::json timeToJson(std::chrono::system_clock::time_point when);
// Nothing for anything but a number the clock can hold.
std::optional<std::chrono::system_clock::time_point> timeFromJson(const nlohmann::json& value);

}  // namespace tallyfox::detail
