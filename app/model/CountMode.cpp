#include "model/CountMode.h"

#include "model/AgeFilter.h"
#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/Format.h"

#include <QLocale>

#include <algorithm>

namespace tallyfox {

CountMode::CountMode(BrowserModel& browser) : QObject(&browser), browser_(browser) {
  connect(&browser, &BrowserModel::treeChanged, this, [this] { largest_.clear(); });
  connect(&AgeFilter::of(browser), &AgeFilter::matchingChanged, this, [this] { largest_.clear(); });
}

void CountMode::setMeasure(Measure value) {
  if (measure_ == value) return;
  measure_ = value;
  largest_.clear();
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

std::uint64_t CountMode::Amounts::of(NodeId node, const DiskTree& tree, const SizeOverlay& overlay) const {
  if (only) return entries ? only->filesOf(node) : only->bytesOf(node);
  return entries ? entriesOf(tree, node) : overlay.size(node, tree);
}

std::uint64_t CountMode::Amounts::below(NodeId folder, const DiskTree& tree,
                                        const SizeOverlay& overlay) const {
  // A folder's old files are the sum of its children's.
  if (only) return of(folder, tree, overlay);
  return entries ? entriesBelow(tree, folder) : overlay.size(folder, tree);
}

CountMode::Amounts CountMode::amounts() const {
  const AgeFilter& age = AgeFilter::of(browser_);
  return {countsEntries(), age.matching(), age.matching() ? age.generation() : 0};
}

std::uint64_t CountMode::amountOf(NodeId node, const DiskTree& tree, const SizeOverlay& overlay) const {
  return amounts().of(node, tree, overlay);
}

std::uint64_t CountMode::wholeOf(NodeId folder, const DiskTree& tree, const SizeOverlay& overlay) const {
  return amounts().below(folder, tree, overlay);
}

std::uint64_t CountMode::largestChildOf(NodeId folder, const DiskTree& tree,
                                        const SizeOverlay& overlay) const {
  const Amounts amounts = this->amounts();
  if (amounts.isPlainSize()) return overlay.largestChildSize(folder, tree);
  if (const auto known = largest_.find(folder); known != largest_.end()) return known->second;
  std::uint64_t largest = 0;
  const NodeRange range = tree.children(folder);
  for (NodeId c = range.first; c < range.last; ++c) largest = std::max(largest, amounts.of(c, tree, overlay));
  largest_.emplace(folder, largest);
  return largest;
}

QString CountMode::text(std::uint64_t amount) const {
  if (!countsEntries()) return Format::bytes(amount);
  return AgeFilter::of(browser_).isReady() ? filesText(amount) : entriesText(amount);
}

QString CountMode::shortText(std::uint64_t amount) const {
  if (!countsEntries() || amount < 100000) return text(amount);
  // Three significant digits, as the byte sizes beside it have.
  static constexpr const char* units[] = {"k", "M", "G", "T"};
  double value = double(amount) / 1000;
  std::size_t unit = 0;
  while (value >= 999.5 && unit + 1 < std::size(units)) {
    value /= 1000;
    ++unit;
  }
  const int decimals = value < 9.995 ? 2 : value < 99.95 ? 1 : 0;
  const QString word =
      AgeFilter::of(browser_).isReady() ? QStringLiteral(" files") : QStringLiteral(" entries");
  return QLocale().toString(value, 'f', decimals) + QLatin1String(units[unit]) + word;
}

QString CountMode::changeText(std::int64_t delta) const {
  return countsEntries() ? signedCount(delta) + QStringLiteral(" entries") : Format::signedBytes(delta);
}

QString CountMode::signedCount(std::int64_t delta) {
  const std::uint64_t magnitude = delta < 0 ? std::uint64_t(0) - std::uint64_t(delta) : std::uint64_t(delta);
  return (delta < 0 ? QStringLiteral("\u2212") : QStringLiteral("+")) +
         QLocale().toString(qulonglong(magnitude));
}

QString CountMode::changeCounts(bool isNew, bool isGone, std::uint64_t oldCount, std::uint64_t newCount) {
  if (isNew) return QStringLiteral("new");
  if (isGone) return QStringLiteral("gone");
  const QLocale locale;
  return locale.toString(qulonglong(oldCount)) + QStringLiteral(" \u2192 ") +
         locale.toString(qulonglong(newCount));
}

SnapshotDiff::Entry CountMode::measured(const SnapshotDiff& diff, const SnapshotDiff::Entry& entry,
                                        bool entries) {
  if (!entries) return entry;
  SnapshotDiff::Entry counted = entry;
  counted.oldSize = entry.oldNode ? entriesOf(diff.oldTree(), *entry.oldNode) : 0;
  counted.newSize = entry.newNode ? entriesOf(diff.newTree(), *entry.newNode) : 0;
  return counted;
}

SnapshotDiff::Entry CountMode::measured(const Comparison& comparison,
                                        const SnapshotDiff::Entry& entry) const {
  return measured(comparison.diff(), entry, countsEntries());
}

std::uint64_t CountMode::largestChangeOf(const Comparison& comparison, NodeId folder) const {
  if (!countsEntries()) return comparison.largestChange(folder);
  if (largestChangeComparison_ != comparison.id()) {
    largestChange_.clear();
    largestChangeComparison_ = comparison.id();
  }
  if (const auto known = largestChange_.find(folder); known != largestChange_.end()) return known->second;
  std::uint64_t largest = 1;
  for (const SnapshotDiff::Entry& child : comparison.children(folder))
    largest = std::max(largest, measured(comparison.diff(), child, true).magnitude());
  largestChange_.emplace(folder, largest);
  return largest;
}

QString CountMode::filesText(std::uint64_t files) {
  return QLocale().toString(qulonglong(files)) +
         (files == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
}

QString CountMode::entriesText(std::uint64_t entries) {
  return QLocale().toString(qulonglong(entries)) +
         (entries == 1 ? QStringLiteral(" entry") : QStringLiteral(" entries"));
}

}  // namespace tallyfox
