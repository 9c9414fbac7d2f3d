#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/FormatError.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/TreeColumns.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tallyfox {

// Reads the snapshot files of the vok command-line tool: an optionally zlib-compressed
// stream of variable-length records, each naming its parent by a backwards distance, ending
// with a record count and a SHA-256 digest. The stream is decoded once through a fixed
// window; the decompressed file is never held in memory as a whole.
namespace VokSnapshotReader {

inline constexpr std::array<std::uint8_t, 8> magic = {'V', 'O', 'K', 'S', 'N', 'A', 'P', 0};
// The extended attribute on a vok file that names the scanned folder.
inline constexpr const char* basePathAttribute = "user.io.quillon.vok-snap.base-path";
inline constexpr const char* fileExtension = "vok";

// The reading window, and the longest single field a record may hold.
inline constexpr std::size_t windowBytes = 1 << 20;
inline constexpr std::size_t maxFieldBytes = windowBytes / 2;

struct FileKind {
  static constexpr const char* name = "vok snapshot";
};
using FormatError = FormatErrorOf<FileKind>;

// Receives the fraction of the file read so far, from 0 to 1.
using Progress = std::function<void(double)>;

struct Decoded {
  TreeColumns columns;
  // Names of the largest top-level entries (at most 12), largest first.
  std::vector<std::string> topNames;
};

struct DecodedSnapshot {
  TreeColumns columns;
  SnapshotFile::Info info;
};

// The tree of a vok file, built in memory.
DiskTreePtr read(const std::filesystem::path& path, const Progress& progress = {});
// The columns of a vok file and its info: the root path comes from the base-path attribute,
// or else is guessed from the top-level names; the scan start is the file's modification time.
// Throws FormatError for format problems and std::system_error when the file cannot be read.
DecodedSnapshot decodeColumns(const std::filesystem::path& path, const Progress& progress = {});
// Decodes the bytes of a whole vok file (stored or compressed).
Decoded decode(std::span<const std::uint8_t> source, const Progress& progress = {});

// The base-path attribute of the file (links followed), or nothing when it is missing or
// empty or changes while it is read.
std::optional<std::string> basePath(const std::filesystem::path& path);
// The first of the snapshot's folder, the home folder, "/" and "/System/Volumes/Data" that
// holds at least half of the top-level names.
std::optional<std::string> guessBasePath(const std::vector<std::string>& topNames,
                                         const std::filesystem::path& near);

}  // namespace VokSnapshotReader
}  // namespace tallyfox
