#pragma once

#include <filesystem>
#include <string_view>
#include <system_error>

namespace tallyfox {

// Replaces `destination` with `bytes` in one step: readers see the old contents or the new,
// never a part. The folder must exist. Only a regular file (or a symbolic link to one) is
// ever replaced. Throws std::system_error; the destination is then untouched.
void writeFileAtomically(const std::filesystem::path& destination, std::string_view bytes);

// Throws the std::system_error that writing `destination` (by this writer, a snapshot's or
// an export's) would fail with before anything is written: a folder that is missing or
// cannot be searched or written, a name too long for its file system, or something other
// than a regular file in its place (isNotRegularFile()). Checked before long work, so
// that its result is not lost at the end.
void checkWritable(const std::filesystem::path& destination);
// Whether an error says that the path is not a regular file.
bool isNotRegularFile(const std::error_code& code);

}  // namespace tallyfox
