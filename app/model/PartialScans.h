#pragma once

#include "model/ScanJob.h"

#include <tallyfox/DiskTree.h>
#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotMerge.h>

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <set>
#include <string>

namespace tallyfox {

class BrowserModel;

// Growing or refreshing a window's snapshot without a whole new scan: rescan a folder, scan
// what a partial scan left out, add a folder beside or above the root, or rescan the whole
// folder shown outside. Each scans in the background, merges the fresh tree with the open
// one, writes the result once as a new snapshot, opens it at the same place and closes this
// window. The old file is never changed. One partial scan runs per window at a time; it has
// no cancel and goes on when the window closes.
class PartialScans : public QObject {
  Q_OBJECT

 public:
  explicit PartialScans(BrowserModel& browser);
  ~PartialScans() override;

  // The folder being scanned, present exactly while a partial scan runs.
  const std::optional<std::string>& addingScanPath() const { return addingScanPath_; }
  bool isRunning() const { return addingScanPath_.has_value(); }
  quint64 addingScanEntries() const { return addingScanEntries_; }
  // Why the last partial scan failed, until the next one starts.
  const std::optional<QString>& addingScanError() const { return addingScanError_; }
  ScanSpeed addingScanSpeed() const { return addingScanSpeed_; }
  // The running scan's scanner; null when none runs.
  std::shared_ptr<Scanner> addingScanner() const { return isRunning() && job_ ? job_->scanner() : nullptr; }
  // Changes the running scan at once.
  void setAddingScanSpeed(ScanSpeed value);

  // Whether a partial scan could start now: a loaded tree with a root path, none running.
  bool canScan() const;
  // The rescan command: the whole outside folder while it is shown, else the current folder.
  void rescan();

  void rescanFolder(NodeId node);
  void scanRest(NodeId node);
  void scanAndAdd(const std::string& path);
  void scanRestOfOutside();
  void rescanAllOfOutside();

 signals:
  void addingScanPathChanged();
  void addingScanEntriesChanged();
  void addingScanErrorChanged();
  void addingScanSpeedChanged();

 private:
  // Turns the fresh scan into the new snapshot's columns and header, off the main thread.
  // None: the fresh scan alone is the new snapshot.
  using Combine = std::function<SnapshotMerge::Result(const DiskTreePtr& fresh)>;

  struct Plan {
    std::string path;
    std::set<std::string> ignoring;
    // Folder and selection to open the new snapshot at, under `newRoot`, its root.
    std::string openAt;
    std::optional<std::string> select;
    std::string newRoot;
    Combine combine;
  };

  void runScan(Plan plan);
  void setAddingScanPath(const std::optional<std::string>& value);
  void setAddingScanEntries(quint64 value);
  void setAddingScanError(const std::optional<QString>& value);

  BrowserModel& browser_;
  std::optional<std::string> addingScanPath_;
  quint64 addingScanEntries_ = 0;
  std::optional<QString> addingScanError_;
  ScanSpeed addingScanSpeed_ = ScanSpeed::fast;
  QPointer<ScanJob> job_;
};

}  // namespace tallyfox
