#include "views/RowListModel.h"

#include "model/AgeFilter.h"
#include "model/Comparison.h"
#include "model/CountMode.h"
#include "model/DeleteList.h"
#include "model/Format.h"
#include "model/Labels.h"
#include "model/ListOrder.h"

#include <algorithm>

namespace tallyfox {

RowListModel::RowListModel(BrowserModel* browser, QObject* parent)
    : QAbstractListModel(parent), browser_(browser) {
  for (auto signal : {&BrowserModel::treeChanged, &BrowserModel::currentChanged, &BrowserModel::filterChanged,
                      &BrowserModel::expandedChanged, &BrowserModel::overlayChanged})
    connect(browser, signal, this, &RowListModel::rebuild);
  connect(&browser->comparing(), &ComparisonModel::comparisonChanged, this, &RowListModel::rebuild);
  connect(&browser->listOrder(), &ListOrder::orderChanged, this, &RowListModel::rebuild);
  connect(&browser->listOrder(), &ListOrder::columnsChanged, this, &RowListModel::appearanceChanged);
  connect(browser, &BrowserModel::selectionChanged, this, &RowListModel::updateSelection);
  // The measure is what the size column sorts by; the age filter keeps rows.
  connect(&browser->countMode(), &CountMode::measureChanged, this, &RowListModel::rebuild);
  connect(&AgeFilter::of(*browser), &AgeFilter::matchingChanged, this, &RowListModel::rebuild);
  // The marks only change how rows look.
  connect(&browser->deleteList(), &DeleteList::marksChanged, this, &RowListModel::appearanceChanged);
  rebuild();
}

int RowListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(rows_.size());
}

QVariant RowListModel::data(const QModelIndex& index, int role) const {
  const auto row = rowAt(index.row());
  if (!row || !browser_) return {};
  switch (role) {
    case Qt::DisplayRole: {
      const DiskTreePtr& tree = browser_->tree();
      return tree ? QString::fromStdString(tree->name(row->node)) : QString();
    }
    case Qt::AccessibleTextRole:
      return accessibleText(*row);
    case NodeRole:
      return row->node;
    case DepthRole:
      return row->depth;
    default:
      return {};
  }
}

QString RowListModel::accessibleText(const BrowserModel::Row& row) const {
  const DiskTreePtr& tree = browser_ ? browser_->tree() : nullptr;
  if (!tree) return {};
  // What the row shows, in the order it shows it, for a reader that cannot see the columns.
  const BrowserModel::RowValues values = browser_->rowValues(row);
  QStringList parts{QString::fromStdString(tree->name(row.node))};
  using Mark = BrowserModel::RowValues::Mark;
  if (values.mark == Mark::marked) parts << QStringLiteral("on the delete list");
  if (values.mark == Mark::inside) parts << QStringLiteral("inside a folder on the delete list");
  if (const auto& change = values.change)
    parts << browser_->countMode().changeText(change->delta())
          << (values.countsEntries
                  ? CountMode::changeCounts(change->isNew(), change->isGone(), change->oldSize,
                                            change->newSize)
                  : Format::changeSizes(change->isNew(), change->isGone(), change->oldSize, change->newSize));
  parts << browser_->countMode().text(values.size);
  if (const QString share = Format::percent(values.size, values.parentSize); !share.isEmpty())
    parts << share + QStringLiteral(" of ") + Labels::node(*tree, tree->parentOf(row.node));
  return parts.join(QStringLiteral(", "));
}

std::optional<BrowserModel::Row> RowListModel::rowAt(int row) const {
  if (row < 0 || std::size_t(row) >= rows_.size()) return std::nullopt;
  return rows_[std::size_t(row)];
}

RowListModel::Basis RowListModel::basis() const {
  if (!browser_) return {};
  return {browser_->tree(), browser_->current(), browser_->filter(), browser_->overlay().generation()};
}

void RowListModel::rebuild() {
  if (!browser_) return;
  std::vector<BrowserModel::Row> fresh = browser_->rows();
  Basis now = basis();
  if (now == built_ && !rows_.empty()) {
    replaceChangedSpan(std::move(fresh));
  } else {
    beginResetModel();
    rows_ = std::move(fresh);
    endResetModel();
  }
  built_ = std::move(now);
  selectedRow_ = -2;  // forces the signal: the row's place on screen may have changed
  updateSelection();
}

void RowListModel::replaceChangedSpan(std::vector<BrowserModel::Row> fresh) {
  const std::size_t oldCount = rows_.size(), newCount = fresh.size();
  std::size_t prefix = 0;
  while (prefix < oldCount && prefix < newCount && rows_[prefix] == fresh[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < oldCount - prefix && suffix < newCount - prefix &&
         rows_[oldCount - 1 - suffix] == fresh[newCount - 1 - suffix])
    ++suffix;
  const std::size_t removed = oldCount - prefix - suffix, added = newCount - prefix - suffix;
  if (removed > 0) {
    beginRemoveRows({}, int(prefix), int(prefix + removed - 1));
    rows_.erase(rows_.begin() + std::ptrdiff_t(prefix), rows_.begin() + std::ptrdiff_t(prefix + removed));
    endRemoveRows();
  }
  if (added > 0) {
    beginInsertRows({}, int(prefix), int(prefix + added - 1));
    rows_.insert(rows_.begin() + std::ptrdiff_t(prefix), fresh.begin() + std::ptrdiff_t(prefix),
                 fresh.begin() + std::ptrdiff_t(prefix + added));
    endInsertRows();
  }
  // Rows that stayed may still look different (a chevron turned).
  emit appearanceChanged();
}

int RowListModel::indexOf(std::optional<NodeId> node) const {
  if (!node) return -1;
  const auto found =
      std::find_if(rows_.begin(), rows_.end(), [&](const BrowserModel::Row& r) { return r.node == *node; });
  return found == rows_.end() ? -1 : int(found - rows_.begin());
}

void RowListModel::updateSelection() {
  if (!browser_) return;
  const int previous = selectedRow_;
  // The common moves land next to the previous row; look there before scanning everything.
  int row = -1;
  const auto selection = browser_->selection();
  if (selection && previous >= 0) {
    for (int probe : {previous, previous + 1, previous - 1})
      if (auto r = rowAt(probe); r && r->node == *selection) row = probe;
  }
  if (row < 0) row = indexOf(selection);
  selectedRow_ = row;
  emit selectedRowChanged(previous, row);
}

}  // namespace tallyfox
