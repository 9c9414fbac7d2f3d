#include <tallyfox/ProgressRecord.h>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tallyfox {

namespace {

// Reads `name=` and the number after it up to the next space or the end.
template <typename Number>
bool field(std::string_view& rest, std::string_view name, Number& value) {
  if (rest.substr(0, name.size()) != name) return false;
  rest.remove_prefix(name.size());
  const std::size_t end = std::min(rest.find(' '), rest.size());
  const char* first = rest.data();
  const auto [stop, error] = std::from_chars(first, first + end, value);
  if (error != std::errc() || stop != first + end || end == 0) return false;
  rest.remove_prefix(end);
  if (!rest.empty()) rest.remove_prefix(1);
  return true;
}

}  // namespace

std::string ProgressRecord::line() const {
  char text[128];
  std::snprintf(text, sizeof text, "progress entries=%llu bytes=%llu seconds=%.1f\n",
                static_cast<unsigned long long>(entries), static_cast<unsigned long long>(bytes), seconds);
  return text;
}

std::optional<ProgressRecord> ProgressRecord::parse(std::string_view line) {
  constexpr std::string_view start = "progress ";
  if (line.substr(0, start.size()) != start) return std::nullopt;
  std::string_view rest = line.substr(start.size());
  ProgressRecord record;
  if (!field(rest, "entries=", record.entries) || !field(rest, "bytes=", record.bytes) ||
      !field(rest, "seconds=", record.seconds) || !rest.empty())
    return std::nullopt;
  if (!std::isfinite(record.seconds) || record.seconds < 0) return std::nullopt;
  return record;
}

}  // namespace tallyfox
