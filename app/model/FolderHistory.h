#pragma once

#include "model/Background.h"

#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotHistory.h>

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tallyfox {

class BrowserModel;

// The current folder's size in every snapshot of its place, for the window's history strip.
// Read in the thread pool, only while the strip is shown, and again whenever the window moves
// to another folder. Opened snapshots are kept per file for the window's lifetime (a Tallyfox
// snapshot is mapped, so this costs address space, not memory), so that moving between folders
// reads only the names on the path down to the new one.
class FolderHistory : public QObject {
  Q_OBJECT

 public:
  struct Point {
    std::filesystem::path file;
    std::chrono::system_clock::time_point started{};
    // Nothing when that snapshot lacks the folder, did not enter it or could not be read: a
    // gap, not a zero.
    std::optional<SnapshotHistory::Figures> figures;
    std::optional<std::string> error;
    bool isOwn = false;  // the window's own snapshot
    bool operator==(const Point& other) const;
  };

  // The opened snapshots, shared with the reading tasks.
  struct Cache;

  explicit FolderHistory(BrowserModel& browser);
  ~FolderHistory() override;

  bool isShown() const { return shown_; }
  void setShown(bool value);
  void toggle() { setShown(!shown_); }

  // Oldest first. What was found for `path()`; while a newer reading runs, the last one stays.
  const std::vector<Point>& points() const { return points_; }
  // The folder the points are of, canonical; empty before the first reading.
  const std::string& path() const { return path_; }
  bool isReading() const { return reading_; }

  // Compares the window with the snapshot of a point; the window's own does nothing.
  void compareWith(std::size_t index);
  // What hovering a point shows: its date and time, then the size and entries, or why there
  // is a gap.
  static QString describe(const Point& point);

  // Reads the points again for the current folder (when shown). Called on every change that
  // can move them; a reading that a newer one overtook is dropped.
  void refresh();

 signals:
  void shownChanged();
  void pointsChanged();
  void readingChanged();

 private:
  void setReading(bool value);
  std::filesystem::path snapshotsFolder() const;

  BrowserModel& browser_;
  std::shared_ptr<Cache> cache_;
  bool shown_ = false;
  bool reading_ = false;
  std::vector<Point> points_;
  std::string path_;
  Background::Lane lane_;
};

}  // namespace tallyfox
