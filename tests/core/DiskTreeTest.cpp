#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotFile.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tallyfox;
using testsupport::Node;

namespace {

DiskTreePtr treeOf(const std::vector<Node>& nodes, std::string root = "/data") {
  return SnapshotFile::inMemory(testsupport::columnsOf(nodes), {std::move(root), {}, 0});
}

DiskTreePtr treeOf(const TreeColumns& columns, std::string root = "/data") {
  return SnapshotFile::inMemory(columns, {std::move(root), {}, 0});
}

}  // namespace

TEST(DiskTree, FolderSizesCountsAndChildren) {
  // root -> docs (folder) -> {big 20, small 10}
  const auto tree = treeOf({{-1, ""}, {0, "docs"}, {1, "big", 20}, {1, "small", 10}});
  EXPECT_EQ(tree->nodeCount(), 3);
  EXPECT_EQ(tree->sizeOf(1), 30u);
  EXPECT_EQ(tree->entryCount()[1], 2u);
  EXPECT_EQ(tree->entryCount()[0], 3u);
  EXPECT_TRUE(tree->isDirectory(1));
  EXPECT_FALSE(tree->isDirectory(2));
  EXPECT_LT(2, 3);  // the larger file has the smaller id
  EXPECT_EQ(tree->children(1).first, 2);
  EXPECT_EQ(tree->children(1).last, 4);
  EXPECT_TRUE(tree->children(2).empty());
  EXPECT_EQ(tree->childCount(0), 1);
  EXPECT_EQ(tree->name(2), "big");
  EXPECT_EQ(tree->path(3), "/data/docs/small");
  EXPECT_EQ(tree->lineage(3), (std::vector<NodeId>{1, 3}));
  EXPECT_TRUE(tree->lineage(0).empty());
  EXPECT_EQ(tree->parentOf(3), 1);
  EXPECT_EQ(tree->parentOf(0), -1);
}

TEST(DiskTree, RootNameAndPathsOfJoinedRoots) {
  testsupport::ScopedHome home;
  const std::string music = home.path().string() + "/Music";
  EXPECT_EQ(treeOf({{-1, ""}}, music)->name(0), "~/Music");
  EXPECT_EQ(treeOf({{-1, ""}}, "/")->path(0), "/");
  EXPECT_EQ(treeOf({{-1, ""}, {0, "Users"}}, "/")->path(1), "/Users");

  const auto joined = treeOf({{-1, ""}, {0, "/Volumes/Backup"}, {1, "x"}}, "");
  EXPECT_EQ(joined->name(0), "All roots");
  EXPECT_EQ(joined->path(0), "/");
  EXPECT_EQ(joined->path(1), "/Volumes/Backup");
  EXPECT_EQ(joined->path(2), "/Volumes/Backup/x");
  EXPECT_EQ(treeOf({{-1, ""}}, "")->nodeCount(), 0);
}

TEST(DiskTree, InvalidNamesAreReplacedOrQuestionMarks) {
  auto columns = testsupport::columnsOf({{-1, ""}, {0, "ok\xFF\xFEname"}, {0, "abc"}, {0, "zz"}});
  EXPECT_EQ(treeOf(columns)->name(1), "ok\xEF\xBF\xBD\xEF\xBF\xBDname");
  // Node 2's start after its end.
  columns.nameOffset[2] = columns.nameOffset[3] + 1;
  const auto tree = treeOf(columns);
  EXPECT_EQ(tree->name(2), "?");
  EXPECT_TRUE(tree->nameBytes(2).empty());
  EXPECT_EQ(tree->name(3), "zz");
}

TEST(DiskTree, ErrorCountCountsErrorFlags) {
  auto columns = testsupport::columnsOf({{-1, ""}, {0, "a"}, {0, "b"}, {0, "c"}});
  columns.flags = {1, 2, 3, 0};
  const auto tree = treeOf(columns);
  EXPECT_EQ(tree->errorCount(), 2u);
  EXPECT_EQ(tree->errorCount(), 2u);
}

// Opening stays O(1), so a hostile image is only caught per query; none may read outside it.
TEST(DiskTree, HostileColumnsNeverLeadOutsideTheTree) {
  auto columns = testsupport::columnsOf({{-1, ""}, {0, "a"}, {1, "b"}, {2, "c"}});
  columns.childStart[0] = 2;
  columns.childCount[0] = 1000;  // runs past the end
  columns.childStart[1] = 0;     // points back at the root
  columns.childCount[1] = 3;
  columns.parent[3] = 77;        // outside the tree
  columns.parent[2] = 2;         // its own parent
  columns.nameOffset[1] = 4000;  // beyond the names
  const auto tree = treeOf(columns);
  EXPECT_EQ(tree->children(0).first, 2);
  EXPECT_EQ(tree->children(0).last, 4);
  // Children always come after their parent, so a walk down can never come back.
  EXPECT_EQ(tree->children(1).first, 2);
  EXPECT_EQ(tree->children(1).last, 3);
  EXPECT_EQ(tree->parentOf(3), -1);
  EXPECT_EQ(tree->lineage(3), std::vector<NodeId>{3});
  EXPECT_LE(tree->lineage(2).size(), 4u);
  EXPECT_EQ(tree->name(1), "?");
  EXPECT_EQ(tree->path(1), "/data/?");
  EXPECT_EQ(tree->name(99), "?");
  EXPECT_EQ(tree->sizeOf(-5), 0u);
  EXPECT_TRUE(tree->children(99).empty());
  EXPECT_TRUE(tree->lineage(-1).empty());
}
