#include <tallyfox/SnapshotHistory.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tallyfox;
using testsupport::localDay;
using testsupport::TempDir;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& file, const std::string& root, int day,
           const std::vector<testsupport::Node>& nodes) {
  SnapshotFile::write(testsupport::columnsOf(nodes), {root, localDay(2025, 3, day), 1}, file);
}

}  // namespace

TEST(SnapshotHistory, AFolderAcrossTheSnapshotsOfItsPlaceWithGaps) {
  TempDir folder;
  constexpr std::uint8_t error = EntryFlags::error,
                         skipped = EntryFlags::notDescended | EntryFlags::directory;
  write(folder / "p1.tfsnap", "/p", 1, {{-1, ""}, {0, "docs"}, {1, "a", 100}, {1, "b", 50}});
  write(folder / "p2.tfsnap", "/p", 2, {{-1, ""}, {0, "other", 7}});
  // The whole disk, scanned later: it holds the folder too.
  write(folder / "root.tfsnap", "/", 3, {{-1, ""}, {0, "p"}, {1, "docs"}, {2, "a", 300}});
  write(folder / "p4.tfsnap", "/p", 4, {{-1, ""}, {0, "docs", 0, skipped}});
  write(folder / "p5.tfsnap", "/p", 5, {{-1, ""}, {0, "docs", 0, error}, {1, "a", 9}});
  write(folder / "elsewhere.tfsnap", "/q", 6, {{-1, ""}, {0, "docs", 1}});
  testsupport::writeFile(folder / "broken.tfsnap", "not a snapshot");

  const auto points = SnapshotHistory::inFolder("/p/docs", folder.path());
  std::vector<std::string> files;
  for (const auto& point : points) files.push_back(point.file.filename().string());
  EXPECT_EQ(files,
            (std::vector<std::string>{"p5.tfsnap", "p4.tfsnap", "root.tfsnap", "p2.tfsnap", "p1.tfsnap"}));
  ASSERT_EQ(points.size(), 5u);
  for (const auto& point : points) EXPECT_FALSE(point.error) << *point.error;

  ASSERT_TRUE(points[0].figures);
  EXPECT_EQ(points[0].figures->bytes, 9u);
  EXPECT_TRUE(points[0].figures->uncertain);
  // Not entered and not there are gaps, not zeros.
  EXPECT_FALSE(points[1].figures);
  ASSERT_TRUE(points[2].figures);
  EXPECT_EQ(points[2].figures->bytes, 300u);
  EXPECT_EQ(points[2].figures->entries, 1);
  EXPECT_EQ(points[2].info.rootPath, "/");
  EXPECT_FALSE(points[3].figures);
  ASSERT_TRUE(points[4].figures);
  EXPECT_EQ(points[4].figures->bytes, 150u);
  EXPECT_EQ(points[4].figures->entries, 2);
  EXPECT_FALSE(points[4].figures->uncertain);
  EXPECT_EQ(points[4].info.scanStart, localDay(2025, 3, 1));

  // A file named directly is read whatever it is; one that does not open is a gap with the reason.
  const auto broken = SnapshotHistory::pointOf(folder / "broken.tfsnap", "/p/docs");
  EXPECT_FALSE(broken.figures);
  ASSERT_TRUE(broken.error);
  const auto root = SnapshotHistory::pointOf(folder / "p1.tfsnap", "/p");
  ASSERT_TRUE(root.figures);
  EXPECT_EQ(root.figures->bytes, 150u);
  EXPECT_EQ(root.figures->entries, 3);
}
