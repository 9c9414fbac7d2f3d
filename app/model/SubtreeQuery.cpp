#include "model/SubtreeQuery.h"

#include "model/BrowserModel.h"

#include <tallyfox/SnapshotPaths.h>

namespace tallyfox {

SubtreeQuery::SubtreeQuery(BrowserModel& browser, QString titleStart)
    : QObject(&browser), browser_(browser), titleStart_(std::move(titleStart)) {
  // Another tree makes the answer another tree's.
  connect(&browser, &BrowserModel::treeChanged, this, &SubtreeQuery::close);
}

std::optional<std::pair<DiskTreePtr, NodeId>> SubtreeQuery::begin(std::optional<NodeId> folder) {
  const DiskTreePtr tree = browser_.tree();
  if (!tree) return std::nullopt;
  const NodeId scope = folder.value_or(browser_.current());
  if (!tree->contains(scope) || !tree->isDirectory(scope)) return std::nullopt;
  const bool opening = !scope_;
  scope_ = scope;
  clearAnswer();
  passing_ = true;
  if (opening) emit openChanged();
  emit changed();
  return std::pair(tree, scope);
}

void SubtreeQuery::close() {
  if (!scope_) return;
  lane_.stop();
  scope_.reset();
  clearAnswer();
  passing_ = false;
  emit openChanged();
  emit changed();
}

QString SubtreeQuery::title() const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || !scope_) return {};
  const std::string path = SnapshotPaths::canonical(tree->path(*scope_));
  return titleStart_ + QString::fromStdString(PathText::abbreviateTilde(path));
}

}  // namespace tallyfox
