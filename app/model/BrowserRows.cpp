// The list: which children are shown, how expansion flattens into rows, what each row shows,
// and the keyboard moves of the selection.
#include "model/AgeFilter.h"
#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/CountMode.h"
#include "model/DeleteList.h"
#include "model/ListOrder.h"
#include "model/NameFilter.h"

#include <algorithm>

namespace tallyfox {

std::vector<NodeId> BrowserModel::children(NodeId node) const {
  if (!tree_) return {};
  if (const ComparisonPtr& comparison = comparing_->comparison()) {
    std::vector<NodeId> changed;
    for (const Comparison::Entry& entry : comparison->children(node))
      if (isListedChange(entry)) changed.push_back(*entry.newNode);
    return changed;
  }
  return overlay_->children(node, *tree_);
}

bool BrowserModel::isListedChange(const SnapshotDiff::Entry& entry) const {
  if (!entry.newNode || overlay_->hidden.contains(*entry.newNode)) return false;
  // Counting entries, what changed is the number of entries.
  const ComparisonPtr& comparison = comparing_->comparison();
  return Comparison::changed(comparison ? countMode_->measured(*comparison, entry) : entry);
}

std::vector<NodeId> BrowserModel::listChildren(NodeId node) const {
  std::vector<NodeId> ids = children(node);
  if (!tree_) return ids;
  const ComparisonPtr& comparison = comparing_->comparison();
  if (!comparison || listOrder_->order().key != ListOrder::Key::size) {
    listOrder_->arrange(ids, *tree_, countMode_->amounts(), *overlay_);
    return ids;
  }
  // While comparing, "size" is the size of the change, in the order the comparison gives; or
  // counting, the change in entries, largest first.
  if (countMode_->countsEntries()) {
    std::vector<std::pair<std::uint64_t, NodeId>> byChange;
    byChange.reserve(ids.size());
    for (const NodeId id : ids)
      if (const auto entry = comparison->entry(id))
        byChange.push_back({countMode_->measured(*comparison, *entry).magnitude(), id});
    std::stable_sort(byChange.begin(), byChange.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    ids.clear();
    for (const auto& [change, id] : byChange) ids.push_back(id);
  }
  if (listOrder_->order().ascending) std::reverse(ids.begin(), ids.end());
  return ids;
}

std::vector<NodeId> BrowserModel::visibleChildren() const {
  if (!tree_) return {};
  std::vector<NodeId> shown = listChildren(current_);
  const NameFilter filter(filter_);
  if (!filter.isEmpty())
    std::erase_if(shown, [&](NodeId id) { return !filter.matches(tree_->nameView(id)); });
  if (const AgeFilter& age = AgeFilter::of(*this); age.isReady())
    std::erase_if(shown, [&](NodeId id) { return !age.keeps(id); });
  return shown;
}

std::vector<BrowserModel::Row> BrowserModel::visibleRows() const {
  const std::vector<NodeId> top = visibleChildren();
  std::vector<Row> rows;
  rows.reserve(top.size());
  if (expanded_.isEmpty()) {
    for (NodeId id : top) rows.push_back({id, 0});
    return rows;
  }
  const AgeFilter& age = AgeFilter::of(*this);
  // Depth first without recursion: an outline may be as deep as the tree.
  std::vector<Row> pending;
  for (auto it = top.rbegin(); it != top.rend(); ++it) pending.push_back({*it, 0});
  while (!pending.empty()) {
    const Row row = pending.back();
    pending.pop_back();
    rows.push_back(row);
    if (!expanded_.contains(row.node)) continue;
    const std::vector<NodeId> below = listChildren(row.node);
    // The age holds at every depth; the name only picks among the current folder's children.
    for (auto it = below.rbegin(); it != below.rend(); ++it)
      if (age.keeps(*it)) pending.push_back({*it, row.depth + 1});
  }
  return rows;
}

const std::vector<BrowserModel::Row>& BrowserModel::rows() const {
  if (!rows_) rows_ = visibleRows();
  return *rows_;
}

void BrowserModel::rowsChanged() {
  rows_.reset();
}

BrowserModel::RowValues BrowserModel::rowValues(const Row& row) const {
  RowValues values;
  values.node = row.node;
  values.depth = row.depth;
  if (!tree_) return values;
  const DiskTree& tree = *tree_;

  // The branch is the ancestor that is a direct child of the current folder; its position in
  // stored order gives the colour, the same as in the chart.
  NodeId branch = row.node;
  while (branch >= 0 && tree.parentOf(branch) != current_) branch = tree.parentOf(branch);
  const NodeRange top = tree.children(current_);
  values.branchIndex = branch >= 0 && top.contains(branch) ? int(branch - top.first) : 0;

  const NodeId parent = tree.parentOf(row.node);
  values.countsEntries = countMode_->countsEntries();
  values.size = countMode_->amountOf(row.node, tree, *overlay_);
  values.parentSize = parent >= 0 ? countMode_->wholeOf(parent, tree, *overlay_) : 0;
  values.largestSibling =
      parent >= 0 ? std::max<std::uint64_t>(1, countMode_->largestChildOf(parent, tree, *overlay_)) : 1;

  if (const ComparisonPtr& comparison = comparing_->comparison()) {
    if (const auto entry = comparison->entry(row.node))
      values.change = countMode_->measured(*comparison, *entry);
    if (parent >= 0) values.largestChange = countMode_->largestChangeOf(*comparison, parent);
  }

  if (deleteList_->isMarked(row.node))
    values.mark = RowValues::Mark::marked;
  else if (deleteList_->isInsideMarked(row.node))
    values.mark = RowValues::Mark::inside;
  values.isSelected = selection_ == row.node;
  values.isExpandable = isExpandable(row.node);
  values.isExpanded = expanded_.contains(row.node);
  return values;
}

OptionalNode BrowserModel::firstVisibleChild() const {
  if (!tree_) return std::nullopt;
  const bool plain = filter_.trimmed().isEmpty() && !comparing_->comparison() &&
                     !AgeFilter::of(*this).isSet() && overlay_->isPristine() &&
                     countMode_->amounts().isPlainSize() && listOrder_->order() == ListOrder::Order{};
  if (plain) {
    // The common case needs only the first child, not the whole list; unless the first two
    // are the same size, when the list puts them in name order.
    const NodeRange range = tree_->children(current_);
    if (range.size() < 2 || tree_->sizeOf(range.first) != tree_->sizeOf(range.first + 1))
      return range.empty() ? OptionalNode() : OptionalNode(range.first);
  }
  const std::vector<NodeId> shown = visibleChildren();
  return shown.empty() ? OptionalNode() : OptionalNode(shown.front());
}

void BrowserModel::move(int delta) {
  const std::vector<Row>& shown = rows();
  if (shown.empty()) {
    setSelection(std::nullopt);
    return;
  }
  const auto count = std::int64_t(shown.size());
  std::optional<std::int64_t> at;
  if (selection_) {
    if (selectedRowHint_ < shown.size() && shown[selectedRowHint_].node == *selection_) {
      at = std::int64_t(selectedRowHint_);
    } else {
      const auto found =
          std::find_if(shown.begin(), shown.end(), [&](const Row& r) { return r.node == *selection_; });
      if (found != shown.end()) at = std::int64_t(found - shown.begin());
    }
  }
  std::int64_t target = at ? *at + delta : delta >= 1 ? delta - 1 : count + delta;
  target = std::clamp<std::int64_t>(target, 0, count - 1);
  selectedRowHint_ = std::size_t(target);
  setSelection(shown[selectedRowHint_].node);
}

void BrowserModel::selectFirst() {
  const std::vector<Row>& shown = rows();
  selectedRowHint_ = 0;
  setSelection(shown.empty() ? OptionalNode() : OptionalNode(shown.front().node));
}

void BrowserModel::selectLast() {
  const std::vector<Row>& shown = rows();
  selectedRowHint_ = shown.empty() ? 0 : shown.size() - 1;
  setSelection(shown.empty() ? OptionalNode() : OptionalNode(shown.back().node));
}

}  // namespace tallyfox
