#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/FormatError.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/TreeColumns.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace tallyfox {

// The JSON export that ncdu ("ncdu -o") and gdu ("gdu -o") both write, plain or gzip-compressed:
//
//   [1, minor, {"progname": ..., "timestamp": ...}, ROOT]
//
// where a folder is an array whose first element is the folder's own object and whose further
// elements are its children, and a file is an object. Names are the file names' bytes, which
// need not be UTF-8: ncdu writes them raw inside the JSON string, and they are kept as bytes.
//
// Sizes are the files' allocated bytes ("dsize"); a folder's own blocks are not counted, as a
// Tallyfox scan counts files only. A hard-linked inode is counted once, the further names
// being duplicate links: ncdu marks every name with the inode, and the first read of each
// (dev, ino) is counted; gdu marks only the names after the one it counted (the export says
// which program wrote it). "read_error" is the error flag and excluded entries (by pattern,
// another file system, a kernel file system) are folders not descended.
//
// An export is read only when it could have come from a scan: one root, named by an absolute
// path, entries named as files can be (EntryNames), no name twice in a folder, and nothing
// after the export's end. Otherwise its tree could name places it does not hold.
namespace NcduExport {

struct FileKind {
  static constexpr const char* name = "ncdu export";
};
using FormatError = FormatErrorOf<FileKind>;

// Receives the fraction of the file read so far, from 0 to 1.
using Progress = std::function<void(double)>;

struct DecodedSnapshot {
  TreeColumns columns;
  // The root's name (the scanned path), the export's timestamp, no duration.
  SnapshotFile::Info info;
};

// The longest string the reader accepts: far above any name or path a system allows, low
// enough that one string cannot claim unbounded memory.
inline constexpr std::size_t maxStringBytes = 512 * 1024;

// Whether the bytes begin like an export: gzip's magic, or a JSON array (after white space).
// Other formats (Tallyfox and vok snapshots) never begin either way.
bool looksLikeExport(std::span<const std::uint8_t> head);
// The same for the start of a file; false when it cannot be read.
bool matches(const std::filesystem::path& path);

// What a listing shows of an export, read from its first bytes: the scanned path and the
// export's timestamp (else the file's modification time). Nothing when it cannot be read.
struct Peek {
  std::string rootPath;
  std::chrono::system_clock::time_point scanStart;
};
std::optional<Peek> peek(const std::filesystem::path& path);

// The tree of an export, built in memory.
DiskTreePtr read(const std::filesystem::path& path, const Progress& progress = {});
// Throws FormatError for format problems and std::system_error when the file cannot be read.
// The scan start is the export's timestamp, or else the file's modification time.
DecodedSnapshot decodeColumns(const std::filesystem::path& path, const Progress& progress = {});
// Decodes the bytes of a whole export (plain or gzip).
DecodedSnapshot decode(std::span<const std::uint8_t> source, const Progress& progress = {});

// Writes the export of a tree, atomically. Snapshots keep allocated sizes only, so "asize"
// equals "dsize"; folders carry no size of their own, and flags without a counterpart in the
// format (partial, clone, dataless) are left out. Duplicate links are written with their
// stored size 0, so that every reader adds up the same totals.
void write(const DiskTree& tree, const std::filesystem::path& to);
// The same bytes, written in order to a descriptor that need not be seekable.
void stream(const DiskTree& tree, int fd);

}  // namespace NcduExport
}  // namespace tallyfox
