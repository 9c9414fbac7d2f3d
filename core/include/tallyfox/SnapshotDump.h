#pragma once

#include <tallyfox/DiskTree.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace tallyfox::SnapshotDump {

// Opens a Tallyfox snapshot by mapping it, or any other file as a vok snapshot built in
// memory. Throws the reader's FormatError or a std::system_error.
DiskTreePtr open(const std::filesystem::path& path);

// A name or path made safe to print on a terminal, as everything tfscan and the dump mode
// print goes through: invalid UTF-8 becomes U+FFFD and every control character (C0, DEL and
// C1, which can move the cursor, retitle or recolour the terminal, or split a line that asks
// for confirmation) becomes "?".
std::string terminalSafe(std::string_view text);

// The summary printed by the dump mode: the "entries: ..." line, the "root: " line and the
// root's first eight children, each line ending with a newline.
std::string summary(const DiskTree& tree, double readSeconds);

}  // namespace tallyfox::SnapshotDump
