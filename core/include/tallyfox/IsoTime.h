#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// Moments written as ISO 8601 text, as people and scripts hand them over (an injected clock).
namespace tallyfox::IsoTime {

// "2025-06-18", "2025-06-18T12:00", "2025-06-18T12:00:05" and "2025-06-18 12:00:05.250", each
// optionally followed by a zone: "Z", "+02:00", "+0200" or "+02". Without a zone the time is
// local time, and a date alone is its local midnight. Nothing for any other text, a field out
// of range (30 February, 24:00, a zone beyond 14 hours) or a moment the clock cannot hold.
std::optional<std::chrono::system_clock::time_point> parse(std::string_view text);

// The moment in UTC to the second: "2025-06-18T10:00:05Z".
std::string formatUtc(std::chrono::system_clock::time_point when);

}  // namespace tallyfox::IsoTime
