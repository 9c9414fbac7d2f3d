#include "RandomTree.h"

#include <tallyfox/SnapshotFile.h>
#include <tallyfox/TreeColumnsBuilder.h>

namespace testsupport {

using tallyfox::NodeId;

namespace {

const std::vector<std::string> stems = {"a", "photo", "Report", "x", "data", "caf\xc3\xa9", "bad\xff\xfe"};
const std::vector<std::string> endings = {
    ".jpg",      ".JPG", ".mp4",   ".MKV", ".tar.gz", ".txt", ".cpp",
    ".so",       ".deb", ".weird", "",     "",        ".",    ".averyveryverylongsuffix",
    ".\xff\xfe", ".Jpeg"};

std::string randomName(std::mt19937_64& random, bool folder, std::size_t id) {
  const std::string stem = stems[random() % stems.size()] + std::to_string(id);
  if (folder) return stem;
  switch (random() % 8) {
    case 0:
      return "." + stem;  // a dot file
    case 1:
      return "." + stem + endings[random() % endings.size()];
    default:
      return stem + endings[random() % endings.size()];
  }
}

}  // namespace

tallyfox::DiskTreePtr randomTree(std::mt19937_64& random, std::size_t entries, const std::string& rootPath) {
  tallyfox::TreeColumnsBuilder builder;
  builder.set(0, -1, {}, 0, 0, 1, tallyfox::EntryFlags::directory);
  std::vector<NodeId> folders = {0};
  const std::uint64_t sizes[] = {0, 1, 4096, 4096, 1 << 20};
  for (std::size_t id = 1; id <= entries; ++id) {
    const NodeId parent = folders[random() % folders.size()];
    const bool folder = random() % 4 == 0;
    const std::string name = randomName(random, folder, id);
    const std::uint64_t size = folder ? 0 : (random() % 3 == 0 ? sizes[random() % 5] : random() % 100000000);
    const std::int64_t mtime = std::int64_t(1500000000 + random() % 300000000);
    builder.set(id, parent, {reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}, size, mtime, 1,
                folder ? tallyfox::EntryFlags::directory : 0);
    if (folder) folders.push_back(NodeId(id));
  }
  tallyfox::SnapshotFile::Info info;
  info.rootPath = rootPath;
  return tallyfox::SnapshotFile::inMemory(std::move(builder).build(true, tallyfox::EntryFlags::directory),
                                          info);
}

std::vector<NodeId> nodesBelow(const tallyfox::DiskTree& tree, NodeId folder) {
  std::vector<NodeId> below;
  for (NodeId id = 1; id < tree.totalNodes(); ++id)
    for (NodeId up = tree.parentOf(id); up >= 0; up = tree.parentOf(up))
      if (up == folder) {
        below.push_back(id);
        break;
      }
  return below;
}

}  // namespace testsupport
