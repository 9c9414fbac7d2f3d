#pragma once

#include <filesystem>
#include <optional>
#include <ostream>

namespace tallyfox::DumpMode {

// The file after the first "--dump", or nothing when there is none or nothing follows it.
std::optional<std::filesystem::path> requestedFile(int argc, const char* const* argv);

// Prints the summary of a snapshot file, with the time the chart needs for the largest
// folders; errors go to `err`. Returns the process status.
int run(const std::filesystem::path& file, std::ostream& out, std::ostream& err);

}  // namespace tallyfox::DumpMode
