#include "model/CountMode.h"

#include "model/BrowserModel.h"
#include "model/Format.h"

#include <QLocale>

#include <algorithm>

namespace tallyfox {

CountMode::CountMode(BrowserModel& browser) : QObject(&browser) {
  connect(&browser, &BrowserModel::treeChanged, this, [this] { largest_.clear(); });
}

void CountMode::setMeasure(Measure value) {
  if (measure_ == value) return;
  measure_ = value;
  emit measureChanged();
}

void CountMode::toggle() {
  setMeasure(countsEntries() ? Measure::size : Measure::entries);
}

std::uint64_t CountMode::entriesOf(const DiskTree& tree, NodeId node) {
  if (!tree.contains(node)) return 0;
  // A file's stored count is 1 already; a folder's counts what is below it.
  return tree.isDirectory(node) || !tree.children(node).empty() ? entriesBelow(tree, node) + 1 : 1;
}

std::uint64_t CountMode::entriesBelow(const DiskTree& tree, NodeId folder) {
  if (!tree.contains(folder) || (!tree.isDirectory(folder) && tree.children(folder).empty())) return 0;
  return tree.entryCount()[std::size_t(folder)];
}

std::uint64_t CountMode::amountOf(NodeId node, const DiskTree& tree, const SizeOverlay& overlay) const {
  return countsEntries() ? entriesOf(tree, node) : overlay.size(node, tree);
}

std::uint64_t CountMode::wholeOf(NodeId folder, const DiskTree& tree, const SizeOverlay& overlay) const {
  return countsEntries() ? entriesBelow(tree, folder) : overlay.size(folder, tree);
}

std::uint64_t CountMode::largestChildOf(NodeId folder, const DiskTree& tree,
                                        const SizeOverlay& overlay) const {
  if (!countsEntries()) return overlay.largestChildSize(folder, tree);
  if (const auto known = largest_.find(folder); known != largest_.end()) return known->second;
  std::uint64_t largest = 0;
  const NodeRange range = tree.children(folder);
  for (NodeId c = range.first; c < range.last; ++c) largest = std::max(largest, entriesOf(tree, c));
  largest_.emplace(folder, largest);
  return largest;
}

QString CountMode::text(std::uint64_t amount) const {
  return countsEntries() ? entriesText(amount) : Format::bytes(amount);
}

QString CountMode::entriesText(std::uint64_t entries) {
  return QLocale().toString(qulonglong(entries)) +
         (entries == 1 ? QStringLiteral(" entry") : QStringLiteral(" entries"));
}

}  // namespace tallyfox
