#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotMerge.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/VokSnapshotReader.h>

#include "FolderSnapshot.h"
#include "TestSupport.h"
#include "VokWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <random>

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
  // The larger file has the smaller id.
  EXPECT_EQ(tree->name(2), "big");
  EXPECT_GT(tree->sizeOf(2), tree->sizeOf(3));
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

// A parent column holding a cycle, with every name spanning the same long range: a lineage
// that followed the cycle and a path rebuilt at every component copied megabytes per call.
TEST(DiskTree, ParentCyclesReadAsNoParent) {
  constexpr int n = 292, cycleStart = 142;
  TreeColumns c;
  c.parent.resize(n);
  for (int id = 0; id < n; ++id)
    c.parent[id] = id == 0 ? -1 : id < cycleStart ? 0 : id == n - 1 ? cycleStart : id + 1;
  c.size.assign(n, 1);
  c.mtime.assign(n, 0);
  c.entryCount.assign(n, 1);
  c.flags.assign(n, EntryFlags::directory);
  c.childStart.assign(n, 0);
  c.childCount.assign(n, 0);
  c.names.assign(4096, 'x');
  c.nameOffset.assign(n + 1, 0);
  for (int id = 2; id <= n; id += 2) c.nameOffset[id] = 4096;
  const auto tree = treeOf(c);
  for (NodeId id = 1; id < n; ++id) {
    const auto ids = tree->lineage(id);
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(ids.back(), id);
    EXPECT_LE(ids.size(), id == n - 1 ? 2u : 1u);
  }
  EXPECT_EQ(tree->path(n - 1), "/data/?/" + std::string(4096, 'x'));
  EXPECT_TRUE(tree->firstViolation().has_value());
}

TEST(DiskTree, FirstViolationNamesTheFirstDamage) {
  // root -> {docs -> {big 20, small 10}, pics -> {a 8}, note 5}
  const std::vector<Node> nodes = {{-1, ""},       {0, "docs"},      {0, "pics"}, {0, "note", 5},
                                   {1, "big", 20}, {1, "small", 10}, {2, "a", 8}};
  const TreeColumns sound = testsupport::columnsOf(nodes);
  EXPECT_EQ(treeOf(sound)->firstViolation(), std::nullopt);
  EXPECT_EQ(treeOf({{-1, ""}})->firstViolation(), std::nullopt);

  struct Damage {
    const char* what;
    std::function<void(TreeColumns&)> apply;
    const char* expected;
  };
  const std::vector<Damage> damages = {
      {"root child count", [](TreeColumns& c) { c.childCount[0] = 0xFFFFFFFF; },
       "The children of node 0 (/data) run past the end of the tree."},
      {"zeroed parents", [](TreeColumns& c) { std::fill(c.parent.begin() + 3, c.parent.end(), 0); },
       "Node 4 lies among the children of node 1 (/data/docs) but names node 0 as its parent."},
      {"zeroed sizes", [](TreeColumns& c) { std::fill(c.size.begin() + 4, c.size.end(), 0); },
       "The size of node 1 (/data/docs) is not the sum of its children's sizes."},
      {"order", [](TreeColumns& c) { std::swap(c.size[4], c.size[5]); },
       "The children of node 1 (/data/docs) are not ordered largest first."},
      {"entry count", [](TreeColumns& c) { c.entryCount[0] = 5; },
       "The entry count of node 0 (/data) is not the number of entries below it."},
      // Counts that no sum checks: what the count mode shows of a file or an empty folder.
      {"file's own count", [](TreeColumns& c) { c.entryCount[3] = 1048577; },
       "The entry count of the file node 3 (/data/note) is not 1."},
      {"empty folder's count",
       [](TreeColumns& c) { c.entryCount[2] = 3, c.childCount[2] = 0, c.childStart[2] = 0; },
       "The entry count of node 2 (/data/pics) is not the number of entries below it."},
      {"ranges swapped", [](TreeColumns& c) { std::swap(c.childStart[1], c.childStart[2]); },
       "The children of node 1 (/data/docs) do not follow those of the folders before it."},
      {"orphan",
       [](TreeColumns& c) {
         c.childCount[2] = 0, c.childStart[2] = 0, c.entryCount[2] = 0, c.entryCount[0] = 5;
       },
       "Node 6 is not a child of any folder before it."},
      {"file with children", [](TreeColumns& c) { c.flags[1] = 0; },
       "The file node 1 (/data/docs) has children."},
      {"names", [](TreeColumns& c) { c.nameOffset[3] = c.nameOffset[4] + 1; },
       "The name of node 3 ends before it starts."},
      {"root parent", [](TreeColumns& c) { c.parent[0] = 0; }, "The root names a parent."},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    TreeColumns damaged = sound;
    d.apply(damaged);
    EXPECT_EQ(treeOf(damaged)->firstViolation(), std::optional<std::string>(d.expected));
  }

  // Totals taken as stored (a folder that counts its own blocks) are not held to the
  // builder's sums; the structure still is.
  TreeColumns stored = sound;
  stored.size[0] += 4096, stored.size[1] += 4096;
  EXPECT_TRUE(treeOf(stored)->firstViolation().has_value());
  EXPECT_EQ(treeOf(stored)->firstViolation(DiskTree::Totals::asStored), std::nullopt);
  std::swap(stored.childStart[1], stored.childStart[2]);
  EXPECT_TRUE(treeOf(stored)->firstViolation(DiskTree::Totals::asStored).has_value());

  // What producers may legitimately store: hard links and clones count as entries of size
  // 0, a folder not entered counts 0 below it, and a vok root counts what its top-level
  // records stand for.
  auto flagged = testsupport::columnsOf(
      {{-1, ""}, {0, "skipped", 0, EntryFlags::notDescended | 1}, {0, "link", 0, EntryFlags::duplicateLink}});
  EXPECT_EQ(treeOf(flagged)->firstViolation(), std::nullopt);
  flagged.entryCount[0] = 0 + 1;
  EXPECT_EQ(treeOf(flagged)->firstViolation(), std::nullopt);
}

// Sums that pass the largest size are held to it, as the builder saturates them: a sum that
// wrapped around reads as a small sound total and is damage. Names are held to what a
// folder can list, but for whole paths at the top level.
TEST(DiskTree, FirstViolationNoticesWrappedSumsAndNamesNoFileCanHave) {
  constexpr std::uint64_t largest = ~std::uint64_t(0);
  const TreeColumns saturated =
      testsupport::columnsOf({{-1, ""}, {0, "folder"}, {1, "huge", largest}, {1, "page", 4096}});
  ASSERT_EQ(saturated.size[0], largest);
  EXPECT_EQ(treeOf(saturated)->firstViolation(), std::nullopt);
  TreeColumns wrapped = saturated;
  wrapped.size[0] = wrapped.size[1] = 4095;
  EXPECT_EQ(treeOf(wrapped)->firstViolation(),
            "The size of node 1 (/data/folder) is not the sum of its children's sizes.");

  const auto climbing = treeOf({{-1, ""}, {0, "docs"}, {1, "..", 1}});
  EXPECT_EQ(climbing->firstViolation(), "The name of node 2 (/data/docs/..) is not one a file can have.");
  EXPECT_TRUE(treeOf({{-1, ""}, {0, "a/b", 1}})->firstViolation().has_value());
  // The top level of a tree that joins roots names whole paths, as long as they are plain.
  EXPECT_EQ(treeOf({{-1, ""}, {0, "/srv/data"}, {1, "a", 1}}, "")->firstViolation(), std::nullopt);
  EXPECT_TRUE(treeOf({{-1, ""}, {0, "/srv/../etc"}, {1, "a", 1}}, "")->firstViolation().has_value());
}

namespace {

// A random folder tree: files of random sizes (some empty), hard links to earlier files,
// symbolic links and empty folders. Returns its folders, the root first.
std::vector<std::filesystem::path> randomFolder(const std::filesystem::path& root, std::mt19937_64& random) {
  std::vector<std::filesystem::path> folders{root}, files;
  std::filesystem::create_directories(root);
  for (std::size_t k = 0; k < folders.size(); ++k) {
    const auto folder = folders[k];
    const int fileCount = int(random() % 6);
    for (int f = 0; f < fileCount; ++f) {
      const auto file = folder / ("f" + std::to_string(f));
      testsupport::writeFile(file, std::string(random() % 3 ? random() % 20000 : 0, 'x'));
      files.push_back(file);
    }
    if (!files.empty() && random() % 3 == 0)
      std::filesystem::create_hard_link(files[random() % files.size()], folder / "link");
    if (random() % 4 == 0) std::filesystem::create_symlink("f0", folder / "sym");
    if (std::distance(folder.begin(), folder.end()) - std::distance(root.begin(), root.end()) < 4)
      for (int d = int(random() % 4); d > 0; --d) {
        folders.push_back(folder / ("d" + std::to_string(d)));
        std::filesystem::create_directories(folders.back());
      }
  }
  return folders;
}

}  // namespace

// Every producer of trees yields trees that pass the check: scans, their files, every
// merge, and the vok reader.
TEST(DiskTree, TreesOfEveryProducerAreSound) {
  std::mt19937_64 random(20261207);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    testsupport::TempDir dir;
    const auto root = dir / "data";
    const auto folders = randomFolder(root, random);
    auto expectSound = [](const DiskTree& tree, const char* what) {
      EXPECT_EQ(tree.firstViolation(), std::nullopt) << what;
    };

    const auto whole = testsupport::scanFolder(root);
    expectSound(*whole, "scan");
    ASSERT_EQ(whole->nodeCount() + 1, std::distance(std::filesystem::recursive_directory_iterator(root),
                                                    std::filesystem::recursive_directory_iterator()) +
                                          1);
    SnapshotFile::write(testsupport::columnsOf(*whole), {root.string(), {}, 0}, dir / "whole.tfsnap");
    expectSound(*SnapshotFile::map(dir / "whole.tfsnap"), "written and mapped");
    const auto vok = VokSnapshotReader::decode(
        testsupport::VokWriter::fromColumns(testsupport::columnsOf(*whole)).bytes(round % 2 == 1));
    expectSound(*SnapshotFile::inMemory(vok.columns, {}), "vok");

    const auto merged = [](const SnapshotMerge::Result& r) {
      return SnapshotFile::inMemory(r.columns, r.info);
    };
    for (const auto& folder : folders) {
      const auto node = SnapshotPaths::node(folder.string(), *whole);
      ASSERT_TRUE(node);
      const auto fresh = testsupport::scanFolder(folder);
      expectSound(*merged(SnapshotMerge::replace(*node, *whole, *fresh)), "replace");
      if (*node == DiskTree::root) continue;
      const auto without = testsupport::scanFolder(root, ScanOptions({}, false, {folder.string()}));
      expectSound(*merged(SnapshotMerge::fill(*without, {fresh})), "fill");
      expectSound(*SnapshotMerge::fillWithSubtreesOf(*without, *whole, DiskTree::root), "fill with subtrees");
      expectSound(*merged(SnapshotMerge::merge({fresh}, root.string())), "merge");
    }
    testsupport::writeFile(folders.back() / "new" / "deeper" / "f", "f");
    const auto added = testsupport::scanFolder(folders.back() / "new" / "deeper");
    expectSound(*merged(SnapshotMerge::insert(*added, *whole)), "insert");
  }
}

// What opens a file needs the bytes on disk; only what is shown is decoded.
TEST(DiskTree, FilePathKeepsTheNamesBytes) {
  const auto tree = treeOf({{-1, ""}, {0, "d\xfcr"}, {1, "caf\xe9.txt", 5}});
  EXPECT_EQ(tree->filePath(2), "/data/d\xfcr/caf\xe9.txt");
  EXPECT_EQ(tree->path(2), "/data/d\xef\xbf\xbdr/caf\xef\xbf\xbd.txt");
  EXPECT_EQ(tree->filePath(0), "/data");
}
