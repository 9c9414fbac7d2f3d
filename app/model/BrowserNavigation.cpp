// Moving between folders, the history, and expansion in place.
#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/DeleteList.h"
#include "model/OutsideModel.h"

#include <algorithm>

namespace tallyfox {

void BrowserModel::clearFilter() {
  setFilter(QString());
  setIsFiltering(false);
}

void BrowserModel::recordHistory() {
  backStack_.push_back({current_, selection_});
  if (backStack_.size() > historyLimit) backStack_.erase(backStack_.begin());
  forwardStack_.clear();
}

void BrowserModel::restore(const Place& place) {
  outside_->leave();
  clearFilter();
  setExpanded({});
  // A place whose folder went to the Trash since comes back as its nearest folder still shown.
  NodeId folder = place.folder;
  while (folder > DiskTree::root && deleteList_->isHiddenByTrash(folder)) folder = tree_->parentOf(folder);
  setCurrent(std::max(folder, DiskTree::root));
  const bool keep =
      folder == place.folder && place.selection && !deleteList_->isHiddenByTrash(*place.selection);
  setSelection(keep ? place.selection : firstVisibleChild());
}

void BrowserModel::navigate(NodeId node, OptionalNode select) {
  if (!tree_ || !tree_->contains(node)) return;
  const bool isFolder = node == DiskTree::root || tree_->isDirectory(node);
  const NodeId target = isFolder ? node : tree_->parentOf(node);
  if (target < 0) return;
  if (target != current_ || outside_->isShown()) {
    recordHistory();
    setExpanded({});
    outside_->leave();
  }
  clearFilter();
  if (!isFolder) {
    setCurrent(target);
    setSelection(node);
    return;
  }
  setCurrent(node);
  setSelection(select ? select : firstVisibleChild());
}

bool BrowserModel::canGoUp() const {
  if (!tree_) return false;
  if (const auto& outside = outside_->outsidePath()) return *outside != "/";
  // Above the root lie the folders outside the snapshot, shown from the disk.
  if (current_ == DiskTree::root) return !outside_->outsideAncestors().empty();
  // A root with a single child is skipped at opening and never shown.
  if (tree_->parentOf(current_) == DiskTree::root) return tree_->childCount(DiskTree::root) > 1;
  return true;
}

void BrowserModel::goUp() {
  if (outside_->isShown()) {
    outside_->goUpOutside();
    return;
  }
  if (tree_ && current_ == DiskTree::root) {
    const auto ancestors = outside_->outsideAncestors();
    if (!ancestors.empty()) outside_->showOutside(ancestors.back());
    return;
  }
  if (!canGoUp()) return;
  const NodeId left = current_;
  const NodeId parent = tree_->parentOf(left);
  if (parent < 0) return;
  recordHistory();
  clearFilter();
  setExpanded({});
  setCurrent(parent);
  setSelection(left);
}

void BrowserModel::goBack() {
  if (backStack_.empty()) {
    // Back past the start of the history climbs one level without leaving history behind.
    goUp();
    backStack_.clear();
    return;
  }
  const Place place = backStack_.back();
  backStack_.pop_back();
  forwardStack_.push_back({current_, selection_});
  restore(place);
}

void BrowserModel::goForward() {
  if (forwardStack_.empty()) {
    beep();
    return;
  }
  const Place place = forwardStack_.back();
  forwardStack_.pop_back();
  backStack_.push_back({current_, selection_});
  if (backStack_.size() > historyLimit) backStack_.erase(backStack_.begin());
  restore(place);
}

void BrowserModel::enter() {
  if (!tree_ || !selection_) return;
  const NodeId node = *selection_;
  if (tree_->isDirectory(node) && tree_->childCount(node) > 0) {
    navigate(node, std::nullopt);
    return;
  }
  togglePreview(std::nullopt);
}

void BrowserModel::click(NodeId node) {
  if (!tree_ || !tree_->contains(node)) return;
  if ((node == DiskTree::root || tree_->isDirectory(node)) && tree_->childCount(node) > 0)
    navigate(node, std::nullopt);
  else
    navigate(tree_->parentOf(node), node);
}

void BrowserModel::backToTop() {
  navigate(topFolder(), std::nullopt);
}

bool BrowserModel::isExpandable(NodeId node) const {
  if (!tree_ || !tree_->isDirectory(node)) return false;
  // While comparing, only folders with changed children that are still here expand.
  if (const ComparisonPtr& comparison = comparing_->comparison()) {
    const auto& all = comparison->children(node);
    return std::any_of(all.begin(), all.end(), [&](const Comparison::Entry& e) { return isListedChange(e); });
  }
  if (overlay_->hidden.empty()) return tree_->childCount(node) > 0;
  // A folder whose every entry went to the Trash has nothing left to show.
  for (NodeId child : tree_->children(node))
    if (!overlay_->hidden.contains(child)) return true;
  return false;
}

void BrowserModel::toggleExpanded(NodeId node) {
  if (!isExpandable(node)) return;
  NodeSet next = expanded_;
  if (next.remove(node)) {
    setExpanded(next);
    if (selection_ && isDescendant(*selection_, node)) setSelection(node);
  } else {
    next.insert(node);
    setExpanded(next);
  }
}

bool BrowserModel::isDescendant(NodeId node, NodeId ancestor) const {
  if (!tree_) return false;
  for (NodeId p = tree_->parentOf(node); p >= 0; p = tree_->parentOf(p))
    if (p == ancestor) return true;
  return false;
}

void BrowserModel::expandOrDescend() {
  if (!tree_ || !selection_ || !isExpandable(*selection_)) return;
  const NodeId node = *selection_;
  if (expanded_.contains(node)) {
    const std::vector<NodeId> shown = children(node);
    setSelection(shown.empty() ? OptionalNode() : OptionalNode(shown.front()));
    return;
  }
  NodeSet next = expanded_;
  next.insert(node);
  setExpanded(next);
}

void BrowserModel::collapseOrAscend() {
  if (!tree_ || !selection_) {
    goUp();
    return;
  }
  const NodeId node = *selection_;
  if (expanded_.contains(node)) {
    NodeSet next = expanded_;
    next.remove(node);
    setExpanded(next);
    return;
  }
  const NodeId parent = tree_->parentOf(node);
  if (parent == current_ || node == current_ || parent < 0) {
    goUp();
    return;
  }
  setSelection(parent);
}

}  // namespace tallyfox
