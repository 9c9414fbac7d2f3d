#pragma once

#include "model/SizeOverlay.h"

#include <tallyfox/DiskTree.h>

#include <QObject>
#include <QString>

#include <cstdint>
#include <unordered_map>

namespace tallyfox {

class BrowserModel;

// What the window's bars, shares, chart segments and centre measure: bytes, or entries for
// the question "which folder holds the files". One toggle for the whole window, not kept.
//
// An entry stands for itself and everything below it, as `du --inodes` counts: a file or
// an empty folder is 1, a folder one more than the entries below it. So the entries of a
// folder's children add up to the folder's stored entry count, and their shares to 100 %.
// Trashed entries still count: the snapshot's counts do not follow the Trash.
class CountMode : public QObject {
  Q_OBJECT

 public:
  enum class Measure { size, entries };

  explicit CountMode(BrowserModel& browser);

  Measure measure() const { return measure_; }
  bool countsEntries() const { return measure_ == Measure::entries; }
  void setMeasure(Measure value);
  void toggle();

  // The entries `node` stands for among its siblings, and those below `folder`: a share's
  // part and whole.
  static std::uint64_t entriesOf(const DiskTree& tree, NodeId node);
  static std::uint64_t entriesBelow(const DiskTree& tree, NodeId folder);

  // The node's amount in the measure shown: bytes as the overlay leaves them, or entries.
  std::uint64_t amountOf(NodeId node, const DiskTree& tree, const SizeOverlay& overlay) const;
  // The whole a child's share is taken of.
  std::uint64_t wholeOf(NodeId folder, const DiskTree& tree, const SizeOverlay& overlay) const;
  // The largest child's amount, which fills a whole bar; kept per folder while counting, as
  // the children are not in that order.
  std::uint64_t largestChildOf(NodeId folder, const DiskTree& tree, const SizeOverlay& overlay) const;

  // An amount as the window shows it: "1.2 GB" or "1,234 entries".
  QString text(std::uint64_t amount) const;
  static QString entriesText(std::uint64_t entries);

 signals:
  void measureChanged();

 private:
  Measure measure_ = Measure::size;
  // For the window's tree, cleared when it changes; read on the main thread only.
  mutable std::unordered_map<NodeId, std::uint64_t> largest_;
};

}  // namespace tallyfox
