#include "model/RecentSnapshotList.h"

#include "model/Documents.h"
#include "model/Settings.h"

namespace tallyfox {

RecentSnapshotList::RecentSnapshotList(const Settings& settings, const Documents& documents,
                                       std::size_t limit, QObject* parent)
    : QObject(parent), settings_(settings), documents_(documents), limit_(limit) {}

void RecentSnapshotList::read() {
  Background::run(
      this, lane_,
      [limit = limit_, folder = settings_.snapshotsFolder(), recent = documents_.recentDocuments()] {
        return RecentSnapshot::find(limit, folder, recent);
      },
      [this](std::vector<RecentSnapshot> found) {
        recents_ = std::move(found);
        emit changed();
      });
}

}  // namespace tallyfox
