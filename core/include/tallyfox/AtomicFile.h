#pragma once

#include <filesystem>
#include <string_view>

namespace tallyfox {

// Replaces `destination` with `bytes` in one step: readers see the old contents or the new,
// never a part. The folder must exist. Throws std::system_error; the destination is then
// untouched.
void writeFileAtomically(const std::filesystem::path& destination, std::string_view bytes);

}  // namespace tallyfox
