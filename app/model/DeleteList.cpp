#include "model/DeleteList.h"

#include "model/BrowserModel.h"
#include "model/DeleteListExport.h"
#include "model/Format.h"
#include "model/TrashWork.h"
#include "platform/LocalPath.h"

#include <algorithm>

namespace tallyfox {

DeleteList::DeleteList(BrowserModel& browser)
    : QObject(&browser),
      browser_(browser),
      exporting_(new DeleteListExport(browser, *this)),
      trash_(new TrashWork(browser, *this)) {}

DeleteList::~DeleteList() = default;

void DeleteList::toggleMark(std::optional<NodeId> node) {
  const DiskTreePtr& tree = browser_.tree();
  const std::optional<NodeId> target = node ? node : browser_.selection();
  if (!tree || !target || !tree->contains(*target) || *target == DiskTree::root) return;
  if (markedSet_.remove(*target)) {
    std::erase(markedOrder_, *target);
  } else {
    // A node out of view cannot be listed: it is in the Trash already.
    if (isHiddenByTrash(*target)) return;
    markedSet_.insert(*target);
    markedOrder_.push_back(*target);
  }
  listChanged();
}

bool DeleteList::isInsideMarked(NodeId node) const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || markedSet_.isEmpty() || !tree->contains(node)) return false;
  for (NodeId n = tree->parentOf(node); n >= 0; n = tree->parentOf(n))
    if (markedSet_.contains(n)) return true;
  return false;
}

bool DeleteList::isHiddenByTrash(NodeId node) const {
  const DiskTreePtr& tree = browser_.tree();
  const SizeOverlay& overlay = browser_.overlay();
  if (!tree || overlay.hidden.empty() || !tree->contains(node)) return false;
  for (NodeId n = node; n >= 0; n = tree->parentOf(n))
    if (overlay.hidden.contains(n)) return true;
  return false;
}

std::vector<NodeId> DeleteList::topLevel() const {
  std::vector<NodeId> top;
  if (!browser_.tree()) return top;
  for (NodeId node : markedOrder_)
    if (!isInsideMarked(node)) top.push_back(node);
  return top;
}

std::vector<QByteArray> DeleteList::markedFilePaths() const {
  std::vector<QByteArray> paths;
  // A path the window refuses to act on is not handed to whoever acts on the list either.
  for (NodeId node : topLevel())
    if (auto path = browser_.filePath(node)) paths.push_back(std::move(*path));
  return paths;
}

QStringList DeleteList::markedPaths() const {
  QStringList paths;
  for (const QByteArray& path : markedFilePaths()) paths << displayPath(path);
  return paths;
}

std::uint64_t DeleteList::markedTotal() const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree) return 0;
  std::uint64_t total = 0;
  for (NodeId node : topLevel()) total += browser_.overlay().size(node, *tree);
  return total;
}

void DeleteList::clearMarks() {
  if (markedOrder_.empty()) return;
  markedOrder_.clear();
  markedSet_.clear();
  listChanged();
}

void DeleteList::restoreMarks(std::vector<NodeId> nodes) {
  if (nodes == markedOrder_) return;
  markedOrder_ = std::move(nodes);
  markedSet_ = QSet<NodeId>(markedOrder_.begin(), markedOrder_.end());
  emit marksChanged();
}

void DeleteList::forgetHidden() {
  const auto before = markedOrder_.size();
  std::erase_if(markedOrder_, [&](NodeId node) { return isHiddenByTrash(node); });
  if (markedOrder_.size() != before) markedSet_ = QSet<NodeId>(markedOrder_.begin(), markedOrder_.end());
  // Rewritten and heard of even when nothing listed went: sizes above what went dropped.
  listChanged();
}

void DeleteList::listChanged() {
  exporting_->writeMirror();
  emit marksChanged();
}

void DeleteList::setShowingDeleteList(bool value) {
  if (showingDeleteList_ == value) return;
  showingDeleteList_ = value;
  emit showingDeleteListChanged();
}

QString DeleteList::summary() const {
  return QString::number(topLevel().size()) + QStringLiteral(" to delete · ") + Format::bytes(markedTotal());
}

}  // namespace tallyfox
