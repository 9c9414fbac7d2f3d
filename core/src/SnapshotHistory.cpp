#include <tallyfox/SnapshotHistory.h>

#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotPaths.h>

#include <exception>

namespace tallyfox::SnapshotHistory {

std::optional<Figures> figuresIn(const DiskTree& tree, const std::string& path) {
  const auto node = SnapshotPaths::node(path, tree);
  // A folder that was not entered (another file system, an ignored folder) has no size to show.
  if (!node || tree.wasSkipped(*node)) return std::nullopt;
  return Figures{tree.sizeOf(*node), std::int64_t(tree.entryCount()[std::size_t(*node)]),
                 tree.hadError(*node)};
}

Point pointOf(const std::filesystem::path& file, const std::string& path) {
  Point point{file, {}, std::nullopt, std::nullopt};
  try {
    const auto tree = SnapshotDump::open(file);
    point.info = {tree->rootPath(), tree->scanStart(), tree->scanSeconds()};
    point.figures = figuresIn(*tree, path);
  } catch (const std::exception& e) {
    point.error = e.what();
  }
  return point;
}

std::vector<Point> inFolder(const std::string& path, const std::filesystem::path& folder) {
  std::vector<Point> points;
  for (const auto& listed : SnapshotPaths::snapshots(path, folder)) {
    Point point = pointOf(listed.url, path);
    point.info = listed.info;
    points.push_back(std::move(point));
  }
  return points;
}

}  // namespace tallyfox::SnapshotHistory
