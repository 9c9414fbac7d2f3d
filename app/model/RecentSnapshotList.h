#pragma once

#include "model/Background.h"
#include "model/RecentSnapshot.h"

#include <QObject>

#include <cstddef>
#include <vector>

namespace tallyfox {

class Documents;
class Settings;

// The recent snapshots the start window lists: the snapshots folder's and the recently opened
// ones, newest first. Reading them means reading the headers of many files, a slow or network
// disk among them, so it is done in the thread pool; a reading asked for while one runs
// overtakes it.
class RecentSnapshotList : public QObject {
  Q_OBJECT

 public:
  RecentSnapshotList(const Settings& settings, const Documents& documents, std::size_t limit,
                     QObject* parent = nullptr);

  // Reads the list again; changed() follows.
  void read();
  bool isReading() const { return lane_.isWaiting(); }
  // What the last reading found.
  const std::vector<RecentSnapshot>& recents() const { return recents_; }

 signals:
  void changed();

 private:
  const Settings& settings_;
  const Documents& documents_;
  std::size_t limit_;
  std::vector<RecentSnapshot> recents_;
  Background::Lane lane_;
};

}  // namespace tallyfox
