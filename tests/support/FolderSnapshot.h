#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/Scanner.h>

#include <cstdint>
#include <filesystem>
#include <functional>

namespace testsupport {

// Lets a test change what the snapshot records for one entry (path on disk, size, flags)
// before it goes into the tree, e.g. to give two files of different lengths the same size.
using EntryAdjuster =
    std::function<void(const std::filesystem::path& path, std::uint64_t& size, std::uint8_t& flags)>;

// A snapshot of a folder made with lstat in a plain recursive walk, as a scan records it:
// sizes are allocated bytes, symbolic links are not followed, the second and later names of
// a hard-linked file get size 0 and flag duplicateLink. Independent of the real scanner, so
// tests of the tree's readers can control what the tree says.
tallyfox::DiskTreePtr snapshotOfFolder(const std::filesystem::path& root, const EntryAdjuster& adjust = {});

// A snapshot of a folder taken by the real scanner, in memory.
tallyfox::DiskTreePtr scanFolder(const std::filesystem::path& root,
                                 const tallyfox::ScanOptions& options = {});

}  // namespace testsupport
