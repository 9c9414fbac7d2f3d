#pragma once

#include <tallyfox/DiskTree.h>

#include <filesystem>
#include <string>

namespace tallyfox::SnapshotDump {

// Opens a Tallyfox snapshot by mapping it, or any other file as a vok snapshot built in
// memory. Throws the reader's FormatError or a std::system_error.
DiskTreePtr open(const std::filesystem::path& path);

// The summary printed by the dump mode: the "entries: ..." line, the "root: " line and the
// root's first eight children, each line ending with a newline.
std::string summary(const DiskTree& tree, double readSeconds);

}  // namespace tallyfox::SnapshotDump
