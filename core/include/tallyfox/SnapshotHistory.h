#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotFile.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// One folder's size across the snapshots of its place. Each snapshot is read only as far as
// the folder: its header and the names on the path down to it (a Tallyfox snapshot is mapped,
// so nothing else is read). Every call is independent and may run on any thread.
namespace tallyfox::SnapshotHistory {

struct Figures {
  std::uint64_t bytes = 0;
  std::int64_t entries = 0;  // entries below the folder, as the snapshot counted them
  bool uncertain = false;    // the folder itself could not be read completely
};

struct Point {
  std::filesystem::path file;
  SnapshotFile::Info info;
  // Nothing when the snapshot lacks the folder or did not enter it: a gap, not a zero.
  std::optional<Figures> figures;
  // Why the snapshot could not be read; its point is then a gap.
  std::optional<std::string> error;
};

// The folder at `path` in one tree; nothing when the tree lacks it or did not enter it.
std::optional<Figures> figuresIn(const DiskTree& tree, const std::string& path);

// The point of one snapshot file (any kind that opens: Tallyfox, vok, export). Never throws.
Point pointOf(const std::filesystem::path& file, const std::string& path);

// The points of the complete Tallyfox snapshots in `folder` whose root is the folder at `path` or
// one of its ancestors (SnapshotPaths::snapshots), newest first.
std::vector<Point> inFolder(const std::string& path, const std::filesystem::path& folder);

}  // namespace tallyfox::SnapshotHistory
