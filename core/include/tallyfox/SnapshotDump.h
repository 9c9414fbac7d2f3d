#pragma once

#include <tallyfox/DiskTree.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace tallyfox::SnapshotDump {

// The one way every command and window opens a snapshot: a Tallyfox snapshot is mapped, an
// ncdu or gdu export and any other file (as a vok snapshot) are read into memory, so that a
// file of none of these kinds reports the vok reader's error. Throws the reader's
// FormatError or a std::system_error. `progress` receives the fraction read, from 0 to 1.
DiskTreePtr open(const std::filesystem::path& path, const std::function<void(double)>& progress = {});

// How the structural check is to take the totals of the tree `open` gives for the file:
// summed by Tallyfox's rules, or as another tool stored them.
DiskTree::Totals totalsOf(const std::filesystem::path& path);

// A name or path made safe to print on a terminal, as everything tfscan and the dump mode
// print goes through: invalid UTF-8 becomes U+FFFD and every control character (C0, DEL and
// C1, which can move the cursor, retitle or recolour the terminal, or split a line that asks
// for confirmation) becomes "?", as does every character that reorders or breaks the line
// where it is shown (Unicode::isLayoutControl), so that no name can pass for another.
std::string terminalSafe(std::string_view text);

// The summary printed by the dump mode: the "entries: ..." line, the "root: " line and the
// root's first eight children, each line ending with a newline.
std::string summary(const DiskTree& tree, double readSeconds);

}  // namespace tallyfox::SnapshotDump
