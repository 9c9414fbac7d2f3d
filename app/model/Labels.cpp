#include "model/Labels.h"

#include "model/BrowserModel.h"

#include <tallyfox/SnapshotPaths.h>

namespace tallyfox::Labels {

QString root(const DiskTree& tree) {
  if (tree.rootPath().empty()) return QStringLiteral("All roots");
  return BrowserModel::displayName(QString::fromStdString(SnapshotPaths::canonical(tree.rootPath())));
}

QString node(const DiskTree& tree, NodeId id) {
  return id == DiskTree::root ? root(tree) : QString::fromStdString(tree.name(id));
}

}  // namespace tallyfox::Labels
