#include <tallyfox/SnapshotDump.h>

#include <tallyfox/ByteFormat.h>
#include <tallyfox/SnapshotFile.h>

#include <cstdio>

namespace tallyfox::SnapshotDump {

DiskTreePtr open(const std::filesystem::path& path) {
  // Vok files are read here once the vok reader exists; until then only our own format.
  return SnapshotFile::map(path);
}

std::string summary(const DiskTree& tree, double readSeconds) {
  const std::uint64_t total = tree.sizeOf(DiskTree::root);
  char seconds[64];
  std::snprintf(seconds, sizeof seconds, "%.2f", readSeconds);
  std::string out = "entries: " + std::to_string(tree.nodeCount()) + "  total: " + std::to_string(total) +
                    " bytes (" + formatFileBytes(total) + ")  errors: " + std::to_string(tree.errorCount()) +
                    "  read: " + seconds + "s\n";
  out += "root: " + tree.rootPath() + "\n";
  int shown = 0;
  for (NodeId child : tree.children(DiskTree::root)) {
    if (shown++ == 8) break;
    std::string size = formatFileBytes(tree.sizeOf(child));
    if (size.size() < 10) size.append(10 - size.size(), ' ');
    out += "  " + size + " " + tree.path(child) + "\n";
  }
  return out;
}

}  // namespace tallyfox::SnapshotDump
