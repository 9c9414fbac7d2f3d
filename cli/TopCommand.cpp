#include "Commands.h"

#include <tallyfox/ByteFormat.h>
#include <tallyfox/JsonValues.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SubtreeStats.h>

#include <algorithm>
#include <iostream>
#include <sstream>

namespace tfscan {

namespace {

using tallyfox::SnapshotDump::terminalSafe;

// The file's path below the folder, exact bytes: what a script hands back to the disk.
std::string pathBelow(const tallyfox::DiskTree& tree, tallyfox::NodeId folder, tallyfox::NodeId node) {
  const std::vector<tallyfox::NodeId> lineage = tree.lineage(node);
  auto step = std::find(lineage.begin(), lineage.end(), folder);
  step = step == lineage.end() ? lineage.begin() : step + 1;
  std::string path;
  for (; step != lineage.end(); ++step) {
    if (!path.empty()) path += '/';
    const auto name = tree.nameView(*step);
    path.append(reinterpret_cast<const char*>(name.data()), name.size());
  }
  return path;
}

}  // namespace

int runTop(const TopArgs& args) {
  const auto opened = openFolder(args.file, args.path);
  if (!opened) return 1;
  const tallyfox::DiskTree& tree = *opened->tree;
  const auto files =
      tallyfox::SubtreeStats::largestFiles(tree, opened->folder, std::size_t(std::max(0, args.count)));

  std::ostringstream text;
  nlohmann::json listed = nlohmann::json::array();
  for (const tallyfox::NodeId id : files) {
    const std::string path = pathBelow(tree, opened->folder, id);
    const std::uint64_t bytes = tree.sizeOf(id);
    const std::uint32_t mtime = tree.mtime()[std::size_t(id)];
    if (args.json) {
      listed.push_back({{"path", tallyfox::detail::pathToJson(path)}, {"bytes", bytes}, {"modified", mtime}});
      continue;
    }
    std::string size = tallyfox::formatFileBytes(bytes);
    if (size.size() < 10) size.insert(0, 10 - size.size(), ' ');
    text << size << "  " << localDay(mtime) << "  " << terminalSafe(path) << "\n";
  }
  // What the tree said may be another file's after a change.
  if (reportChange(tree, args.file)) return 1;
  if (args.json) {
    printJson({{"folder", tallyfox::detail::pathToJson(tree.filePath(opened->folder))}, {"files", listed}});
    return 0;
  }
  if (files.empty()) text << "No files\n";
  std::cout << text.str();
  return 0;
}

}  // namespace tfscan
