#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace testsupport {

// Bytes that no file system compresses or finds elsewhere: the same seed gives the same bytes.
std::string patternedBytes(std::size_t size, std::uint32_t seed);

// Writes a file, creating its folders.
void putFile(const std::filesystem::path& path, const std::string& contents);

// A copy-on-write clone made by cp --reflink=always; false when the file system refused.
bool reflinkCopy(const std::filesystem::path& from, const std::filesystem::path& to);

// An outside witness: filefrag -v lists at least one extent and flags every one "shared".
bool filefragSaysShared(const std::filesystem::path& path);

// Writes out the data waiting for the file system holding `path` and commits its transaction;
// unlike sync(), it leaves other file systems, and other tests' files, as they are.
void syncFileSystem(const std::filesystem::path& path);

// SHA-256 of a file as sha256sum prints it, or empty when it could not run.
std::string sha256sumOf(const std::filesystem::path& path);

}  // namespace testsupport

namespace testsupport {

// Files of every shape btrfs stores, in `folder` on a btrfs mount, for comparing ways of
// reading extents: inline data, one extent, several, holes, preallocated space, compressed
// data, clones of whole files and of ranges, an extent referred to twice by its own file,
// and, written last and not yet flushed, data waiting for the disk. Returns what failed, or an empty string.
std::string makeExtentShapes(const std::filesystem::path& folder);

}  // namespace testsupport
