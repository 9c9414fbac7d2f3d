#pragma once

#include "model/Background.h"
#include "model/Requests.h"

#include <tallyfox/SnapshotDiff.h>
#include <tallyfox/SnapshotPaths.h>

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tallyfox {

class BrowserModel;
class SnapshotHold;

// A window's snapshot (the newer one) compared with an earlier snapshot of the same place.
// Nothing is compared up front: a folder is compared the first time a view asks for it, and
// the result is kept, so opening the comparison of two huge snapshots costs one folder.
// The caches are used on the main thread only; the chart's layout task reads the immutable
// diff.
class Comparison {
 public:
  using Entry = SnapshotDiff::Entry;

  Comparison(std::shared_ptr<const SnapshotDiff> diff, std::filesystem::path baselineURL);

  const SnapshotDiff& diff() const { return *diff_; }
  const std::shared_ptr<const SnapshotDiff>& sharedDiff() const { return diff_; }
  const std::filesystem::path& baselineURL() const { return baselineURL_; }
  // Tells comparisons apart, also one made after another was released at the same address.
  std::uint64_t id() const { return id_; }

  // The entry of a node of the window's tree: every node at or below the compared folder has
  // one; nodes elsewhere have none.
  std::optional<Entry> entry(NodeId node) const;
  // Every compared child of a node, largest change first (the unchanged ones last); kept,
  // so asking again costs nothing.
  const std::vector<Entry>& children(NodeId node) const;
  // The magnitude of the largest change among a folder's children, at least 1: what fills a
  // whole bar.
  std::uint64_t largestChange(NodeId node) const;
  // The entries of a folder whose size changed, largest change first; gone ones included.
  std::vector<Entry> changedChildren(NodeId node) const;
  // The same for an entry, which may exist only in the earlier snapshot.
  std::vector<Entry> changedChildren(const Entry& entry) const;

  // A size changed when the clamped sizes differ.
  static bool changed(const Entry& entry);

 private:
  const std::vector<Entry>& childEntries(const Entry& entry) const;

  std::shared_ptr<const SnapshotDiff> diff_;
  std::filesystem::path baselineURL_;
  std::uint64_t id_;
  mutable std::unordered_map<NodeId, Entry> entries_;
  mutable std::unordered_map<NodeId, std::vector<Entry>> children_;
  // Folders that exist only in the earlier snapshot are not cached: this holds the last one.
  mutable std::vector<Entry> uncached_;
};

using ComparisonPtr = std::shared_ptr<const Comparison>;

// The comparison of one window: choosing the earlier snapshot, loading it off the main
// thread, the comparison itself or the reason there is none.
class ComparisonModel : public QObject {
  Q_OBJECT

 public:
  explicit ComparisonModel(BrowserModel& browser);

  const ComparisonPtr& comparison() const { return comparison_; }
  const std::optional<QString>& comparisonError() const { return comparisonError_; }

  // The snapshots in the snapshots folder whose root holds this tree's root, newest first,
  // without this window's file. Listed off the main thread: what was found last time, until
  // refreshCandidates() hears back.
  const std::vector<SnapshotPaths::Listed>& comparisonCandidates() const { return candidates_; }
  void refreshCandidates();
  // The newest candidate whose scan started strictly before this snapshot's.
  std::optional<std::filesystem::path> previousSnapshot() const;
  // A scan start of this place as the window writes it: the abbreviated date and time, with
  // the seconds only when another snapshot of the same root (this one, a candidate, the
  // compared one) started in the same minute.
  QString scanTimeText(std::chrono::system_clock::time_point time) const;

  // Loads `file` as a window loads a snapshot and compares. On failure the error is shown
  // and the current comparison, if any, stays.
  void compare(const std::filesystem::path& file);
  // Asks the window for the file, starting in the snapshots folder.
  void chooseComparison();
  void stop();
  // Goes to `folder` (a path on disk) and compares with `file` (none: only goes there), once
  // the window's snapshot is loaded and has restored its own place: what a growth alert opens.
  void showChanges(const std::optional<std::filesystem::path>& file, const std::string& folder);

  // The changed children of the current folder that no longer exist.
  std::vector<Comparison::Entry> goneEntries() const;

 signals:
  void comparisonChanged();
  void comparisonErrorChanged();
  void candidatesChanged();

 private:
  void setComparison(ComparisonPtr value);
  void setComparisonError(std::optional<QString> value);
  std::filesystem::path snapshotsFolder() const;

  BrowserModel& browser_;
  ComparisonPtr comparison_;
  // The earlier snapshot is shown too, so pruning leaves it alone while it is compared.
  std::shared_ptr<const SnapshotHold> baselineHold_;
  std::optional<QString> comparisonError_;
  std::vector<SnapshotPaths::Listed> candidates_;
  // Only the newest request's answer is taken.
  Background::Lane compareLane_;
  Background::Lane candidatesLane_;
};

}  // namespace tallyfox
