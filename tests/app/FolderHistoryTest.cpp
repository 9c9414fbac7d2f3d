// The history strip's model: the current folder's size in every snapshot of its place, gaps
// where a snapshot lacks it, and the holds that keep shown snapshots from being pruned.
#include "ModelTestSupport.h"
#include "model/Comparison.h"
#include "model/FolderHistory.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotHistory.h>

#include <gtest/gtest.h>

#include <sys/file.h>

#include <fcntl.h>
#include <unistd.h>

using namespace tallyfox;
using testsupport::Node;

namespace {

namespace fs = std::filesystem;
using std::chrono::hours;

using testsupport::now;

// Whether a pruner could take the file now: it removes only what it can lock exclusively.
bool prunable(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return locked;
}

class FolderHistoryTest : public testsupport::SnapshotsFolderTest {
 protected:
  // Waits for the points of `path`.
  static const std::vector<FolderHistory::Point>& pointsOf(const BrowserModel& m, const std::string& path) {
    const FolderHistory& history = m.folderHistory();
    EXPECT_TRUE(testsupport::waitFor([&] { return !history.isReading() && history.path() == path; }));
    return history.points();
  }
};

TEST_F(FolderHistoryTest, FollowsTheFolderThroughEverySnapshotOfItsPlaceWithGaps) {
  const fs::path first = snapshot("srv-1.tfsnap", {{-1, ""}, {0, "data"}, {1, "logs"}, {2, "a.log", 100}},
                                  "/srv", now - hours(24 * 21));
  // logs/ did not exist then: a gap, not a zero.
  const fs::path second =
      snapshot("srv-2.tfsnap", {{-1, ""}, {0, "data"}, {1, "b.bin", 70}}, "/srv", now - hours(24 * 14));
  // A snapshot of the whole disk covers /srv too.
  const fs::path whole = snapshot(
      "root.tfsnap", {{-1, ""}, {0, "srv"}, {1, "data"}, {2, "logs"}, {3, "a.log", 300}, {3, "b.log", 5}},
      "/", now - hours(24 * 7));
  snapshot("other.tfsnap", {{-1, ""}, {0, "data"}, {1, "logs"}, {2, "x", 9}}, "/elsewhere", now - hours(24));
  const fs::path latest = snapshot(
      "srv-3.tfsnap", {{-1, ""}, {0, "data"}, {1, "logs"}, {1, "c.bin", 5}, {2, "a.log", 900}}, "/srv", now);

  auto m = open(latest);
  FolderHistory& history = m->folderHistory();
  // Nothing is read while the strip is hidden.
  EXPECT_TRUE(history.points().empty());
  history.setShown(true);

  const auto& data = pointsOf(*m, "/srv/data");
  ASSERT_EQ(data.size(), 4u);
  // Oldest first, the same figures as each snapshot's own and as the core's history.
  std::vector<SnapshotHistory::Point> expected = SnapshotHistory::inFolder("/srv/data", folder);
  std::reverse(expected.begin(), expected.end());
  ASSERT_EQ(expected.size(), data.size());
  for (std::size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(data[i].file, expected[i].file) << i;
    ASSERT_TRUE(data[i].figures && expected[i].figures) << i;
    EXPECT_EQ(data[i].figures->bytes, expected[i].figures->bytes) << i;
    EXPECT_EQ(data[i].figures->entries, expected[i].figures->entries) << i;
  }
  EXPECT_EQ((std::vector<fs::path>{data[0].file, data[1].file, data[2].file, data[3].file}),
            (std::vector<fs::path>{first, second, whole, latest}));
  EXPECT_EQ(data[2].figures->bytes, 305u);
  EXPECT_TRUE(data[3].isOwn);
  EXPECT_FALSE(data[0].isOwn);

  // Into logs/: the strip follows, and the snapshot without it shows a gap.
  m->click(testsupport::idOf(*m, "logs"));
  const auto& logs = pointsOf(*m, "/srv/data/logs");
  ASSERT_EQ(logs.size(), 4u);
  EXPECT_FALSE(logs[1].figures);
  EXPECT_FALSE(logs[1].error);
  EXPECT_EQ(FolderHistory::describe(logs[1]).section(QLatin1Char('\n'), 1),
            QStringLiteral("Not in this snapshot"));
  for (const std::size_t i : {0, 2, 3})
    EXPECT_EQ(logs[i].figures->bytes,
              SnapshotHistory::pointOf(logs[i].file, "/srv/data/logs").figures->bytes);
  EXPECT_EQ(logs[3].figures->bytes, 900u);
  EXPECT_TRUE(FolderHistory::describe(logs[3]).contains(QStringLiteral("900 bytes in 1 entry")));

  // A click on a point compares the window with that snapshot; its own point does nothing.
  history.compareWith(3);
  EXPECT_FALSE(m->comparing().comparison());
  history.compareWith(0);
  ASSERT_TRUE(testsupport::waitFor([&] { return m->comparing().comparison() != nullptr; }));
  EXPECT_EQ(m->comparing().comparison()->baselineURL(), first);
}

TEST_F(FolderHistoryTest, AWindowHoldsTheSnapshotsItShowsUntilItCloses) {
  const fs::path earlier =
      snapshot("srv-1.tfsnap", {{-1, ""}, {0, "data"}, {1, "a", 10}}, "/srv", now - hours(48));
  const fs::path latest = snapshot("srv-2.tfsnap", {{-1, ""}, {0, "data"}, {1, "a", 20}}, "/srv", now);
  auto m = open(latest);
  EXPECT_FALSE(prunable(latest));
  EXPECT_TRUE(prunable(earlier));

  // The snapshot compared with is shown too.
  m->comparing().compare(earlier);
  ASSERT_TRUE(testsupport::waitFor([&] { return m->comparing().comparison() != nullptr; }));
  EXPECT_FALSE(prunable(earlier));
  m->comparing().stop();
  EXPECT_TRUE(prunable(earlier));

  m.reset();
  EXPECT_TRUE(prunable(latest));
}

}  // namespace
