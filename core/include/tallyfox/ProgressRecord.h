#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallyfox {

// The line `tfscan --progress` writes to standard error a few times a second, for whoever
// runs it from afar (over SSH, through pkexec) to show how far the scan is:
//
//   progress entries=1234 bytes=56789 seconds=1.2
//
// The reader takes the bytes of another machine's process: anything else on the line, a
// number out of range or a missing field makes it not a record, never an error.
struct ProgressRecord {
  std::uint64_t entries = 0;
  std::uint64_t bytes = 0;
  double seconds = 0;

  // The line with its line feed.
  std::string line() const;
  // The record a line (without its line end) holds, or nothing.
  static std::optional<ProgressRecord> parse(std::string_view line);

  bool operator==(const ProgressRecord&) const = default;
};

}  // namespace tallyfox
