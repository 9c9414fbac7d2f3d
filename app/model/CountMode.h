#pragma once

#include "model/SizeOverlay.h"

#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotDiff.h>
#include <tallyfox/SubtreeStats.h>

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_map>

namespace tallyfox {

class BrowserModel;
class Comparison;

// What the window's bars, shares, chart segments and centre measure: bytes, or entries for
// the question "which folder holds the files". One toggle for the whole window, not kept.
//
// An entry stands for itself and everything below it, as `du --inodes` counts: a file or
// an empty folder is 1, a folder one more than the entries below it. So the entries of a
// folder's children add up to the folder's stored entry count, and their shares to 100 %.
// Trashed entries still count: the snapshot's counts do not follow the Trash.
//
// While the age filter holds, every amount is of the old files only: their bytes, or how
// many they are.
class CountMode : public QObject {
  Q_OBJECT

 public:
  enum class Measure { size, entries };

  // What an amount is, as a value that a chart's layout takes to another thread.
  struct Amounts {
    bool entries = false;
    // Only the files the age filter keeps; null for every entry.
    std::shared_ptr<const SubtreeStats::Matching> only;
    // Tells two answers of the filter apart; 0 without one.
    std::uint64_t onlyGeneration = 0;

    // The node's amount among its siblings, and the whole its children's amounts make up.
    std::uint64_t of(NodeId node, const DiskTree& tree, const SizeOverlay& overlay) const;
    std::uint64_t below(NodeId folder, const DiskTree& tree, const SizeOverlay& overlay) const;
    // Bytes of every entry: the overlay's order, largest first, is already theirs.
    bool isPlainSize() const { return !entries && !only; }
  };

  explicit CountMode(BrowserModel& browser);

  Measure measure() const { return measure_; }
  bool countsEntries() const { return measure_ == Measure::entries; }
  void setMeasure(Measure value);
  void toggle();

  // The entries `node` stands for among its siblings, and those below `folder`: a share's
  // part and whole.
  static std::uint64_t entriesOf(const DiskTree& tree, NodeId node);
  static std::uint64_t entriesBelow(const DiskTree& tree, NodeId folder);

  Amounts amounts() const;
  // The node's amount in the measure shown: bytes as the overlay leaves them, or entries.
  std::uint64_t amountOf(NodeId node, const DiskTree& tree, const SizeOverlay& overlay) const;
  // The whole a child's share is taken of.
  std::uint64_t wholeOf(NodeId folder, const DiskTree& tree, const SizeOverlay& overlay) const;
  // The largest child's amount, which fills a whole bar; kept per folder while counting, as
  // the children are not in that order.
  std::uint64_t largestChildOf(NodeId folder, const DiskTree& tree, const SizeOverlay& overlay) const;

  // An amount as the window shows it: "1.2 GB" or "1,234 entries" (or "files" while the age
  // filter holds, which keeps files only).
  QString text(std::uint64_t amount) const;
  // The same in fewer characters where a count is long: "2.02M entries".
  QString shortText(std::uint64_t amount) const;
  static QString entriesText(std::uint64_t entries);
  static QString filesText(std::uint64_t files);
  // A change as a comparison shows it: "+1.2 GB", or "+1,234 entries" while counting.
  QString changeText(std::int64_t delta) const;
  // The same for entry counts without the word, where a column says what it counts:
  // "+1,234", "12 → 15".
  static QString signedCount(std::int64_t delta);
  static QString changeCounts(bool isNew, bool isGone, std::uint64_t oldCount, std::uint64_t newCount);

  // A compared entry as the window measures it: counting, its old and new sizes become the
  // entries it stands for in each snapshot; by bytes it stays as it is.
  static SnapshotDiff::Entry measured(const SnapshotDiff& diff, const SnapshotDiff::Entry& entry,
                                      bool entries);
  SnapshotDiff::Entry measured(const Comparison& comparison, const SnapshotDiff::Entry& entry) const;
  // The largest change among a folder's compared children in the measure shown, at least 1:
  // what fills a whole bar. Counting, kept per folder, as the children go by bytes.
  std::uint64_t largestChangeOf(const Comparison& comparison, NodeId folder) const;

 signals:
  void measureChanged();

 private:
  BrowserModel& browser_;
  Measure measure_ = Measure::size;
  // For the window's tree and amounts, cleared when they change; read on the main thread only.
  mutable std::unordered_map<NodeId, std::uint64_t> largest_;
  // The same for changes in entries, for the comparison of that id.
  mutable std::unordered_map<NodeId, std::uint64_t> largestChange_;
  mutable std::uint64_t largestChangeComparison_ = 0;
};

}  // namespace tallyfox
