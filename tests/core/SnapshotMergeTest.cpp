#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotMerge.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/TreeColumnsBuilder.h>

#include "FolderSnapshot.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace tallyfox;
using std::chrono::seconds;
using testsupport::columnsOf;
using testsupport::dir;
using testsupport::Node;
using Clock = std::chrono::system_clock;

namespace {

constexpr std::uint8_t created = EntryFlags::directory | EntryFlags::partial;
constexpr std::uint8_t placeholder = EntryFlags::directory | EntryFlags::notDescended;

Clock::time_point at(int s) {
  return Clock::time_point(seconds(s));
}

DiskTreePtr tree(const std::string& root, const std::vector<Node>& nodes, int start = 1000, double took = 1) {
  return SnapshotFile::inMemory(columnsOf(nodes), {root, at(start), took});
}

template <typename Operation>
std::string failure(Operation&& operation) {
  try {
    operation();
  } catch (const SnapshotMerge::MergeError& e) {
    EXPECT_STREQ(e.what(), e.message().c_str());
    return e.message();
  }
  return "no error";
}

// The (size, name) of every child of a node, in stored order.
std::vector<std::pair<std::uint64_t, std::string>> childrenOf(const DiskTree& t, NodeId id) {
  std::vector<std::pair<std::uint64_t, std::string>> out;
  for (NodeId child : t.children(id)) out.emplace_back(t.sizeOf(child), t.name(child));
  return out;
}

// Root /r: A (a1 50, a2 30), B 40, C (c1 10, with an error).
DiskTreePtr projects(int start = 1000, double took = 5) {
  return tree("/r",
              {{-1, "", 0, 0, 11},
               {0, "A", 0, 0, 12},
               {0, "B", 40, 0, 13},
               {0, "C", 0, 0, 14},
               {1, "a1", 50, 0, 15},
               {1, "a2", 30, 0, 16},
               {3, "c1", 10, EntryFlags::error, 17}},
              start, took);
}

}  // namespace

TEST(SnapshotMerge, ReplacingAFolderReaggregatesEveryAncestor) {
  const auto old = projects(1000, 5);
  // The rescan of A found a1 smaller, a2 deleted and a new file.
  const auto fresh = tree("/r/A", {{-1, "", 0, 0, 77}, {0, "a1", 20, 0, 15}, {0, "n", 5, 0, 18}}, 2000, 2);
  const auto result = SnapshotMerge::replace(1, *old, *fresh);

  // A drops below B; C and its error mark are untouched.
  const auto expected = columnsOf({{-1, "", 0, 0, 11},
                                   {0, "B", 40, 0, 13},
                                   {0, "A", 0, 0, 77},
                                   {0, "C", 0, 0, 14},
                                   {2, "a1", 20, 0, 15},
                                   {2, "n", 5, 0, 18},
                                   {3, "c1", 10, EntryFlags::error, 17}});
  EXPECT_EQ(result.columns, expected);
  EXPECT_EQ(result.columns.size[0], 75u);
  EXPECT_EQ(result.columns.entryCount[0], 6u);
  EXPECT_EQ(result.info, (SnapshotFile::Info{"/r", at(1000), 7}));

  // The start time is the earlier of the two, whichever tree has it.
  EXPECT_EQ(SnapshotMerge::replace(1, *projects(3000), *fresh).info.scanStart, at(2000));
}

TEST(SnapshotMerge, ReplacingTheRootTakesTheFreshScanUnderTheOldPath) {
  const auto old = projects(1000, 5);
  const std::vector<Node> nodes = {{-1, "", 0, 0, 3}, {0, "x"}, {1, "y", 9, 0, 4}};
  const auto fresh = tree("/System/Volumes/Data/r", nodes, 2000, 2);
  const auto result = SnapshotMerge::replace(0, *old, *fresh);
  EXPECT_EQ(result.columns, columnsOf(nodes));
  EXPECT_EQ(result.info, (SnapshotFile::Info{"/r", at(2000), 2}));
}

TEST(SnapshotMerge, ReplacingANodeOutsideTheTreeFails) {
  const auto old = projects();
  const auto fresh = tree("/r/A", {{-1, ""}});
  EXPECT_EQ(failure([&] { SnapshotMerge::replace(7, *old, *fresh); }), "node not found");
  EXPECT_EQ(failure([&] { SnapshotMerge::replace(-3, *old, *fresh); }), "node not found");
}

TEST(SnapshotMerge, InsertCreatesPartialFoldersBetween) {
  const auto old = tree("/a", {{-1, ""}, {0, "b"}, {0, "t", 1}, {1, "bf", 5}}, 1000, 3);
  const auto fresh = tree("/a/b/c/d", {{-1, "", 0, 0, 9}, {0, "f", 7}}, 900, 1);
  const auto result = SnapshotMerge::insert(*fresh, *old);
  const auto expected = columnsOf({{-1, ""},
                                   {0, "b"},
                                   {0, "t", 1},
                                   {1, "c", 0, created},
                                   {1, "bf", 5},
                                   {3, "d", 0, dir, 9},
                                   {5, "f", 7}});
  EXPECT_EQ(result.columns, expected);
  EXPECT_EQ(result.columns.flags[3], 33);
  EXPECT_EQ(result.info, (SnapshotFile::Info{"/a", at(900), 4}));

  // Directly below the root, nothing is created.
  const auto top = SnapshotMerge::insert(*tree("/a/new", {{-1, ""}, {0, "z", 2}}), *old);
  EXPECT_EQ(childrenOf(*SnapshotFile::inMemory(top.columns, top.info), 0),
            (std::vector<std::pair<std::uint64_t, std::string>>{{5, "b"}, {2, "new"}, {1, "t"}}));
}

TEST(SnapshotMerge, InsertRefusesFoldersAlreadyThereOrOutside) {
  const auto old = tree("/a", {{-1, ""}, {0, "b"}, {1, "Caf\xC3\xA9"}});
  EXPECT_EQ(failure([&] {
              SnapshotMerge::insert(*tree("/a/b", {{-1, ""}}), *old);
            }),
            "/a/b is already in this snapshot (use Rescan This Folder)");
  // The stored name is precomposed, the path decomposed: the same folder.
  EXPECT_EQ(failure([&] {
              SnapshotMerge::insert(*tree("/a/b/Cafe\xCC\x81", {{-1, ""}}), *old);
            }),
            "/a/b/Cafe\xCC\x81 is already in this snapshot (use Rescan This Folder)");
  EXPECT_EQ(failure([&] { SnapshotMerge::insert(*tree("/a", {{-1, ""}}), *old); }), "/a isn't inside /a");
  EXPECT_EQ(failure([&] { SnapshotMerge::insert(*tree("/ab", {{-1, ""}}), *old); }), "/ab isn't inside /a");
}

TEST(SnapshotMerge, MergePutsScansUnderACommonPartialRoot) {
  const auto a = tree("/Users/a", {{-1, "", 0, 0, 5}, {0, "fa", 3}}, 1000, 1);
  const auto b = tree("/Users/b", {{-1, "", 0, 0, 6}, {0, "fb", 4}}, 500, 2);
  const auto result = SnapshotMerge::merge({a, b}, "/Users/");
  EXPECT_EQ(
      result.columns,
      columnsOf({{-1, "", 0, created}, {0, "b", 0, 0, 6}, {0, "a", 0, 0, 5}, {1, "fb", 4}, {2, "fa", 3}}));
  EXPECT_EQ(result.info, (SnapshotFile::Info{"/Users", at(500), 3}));

  // Folders between the root and the scans are created once and marked partial.
  const auto y = tree("/Users/x/y", {{-1, ""}, {0, "f", 1}});
  const auto w = tree("/Users/x/w", {{-1, ""}, {0, "g", 2}});
  const auto deeper = SnapshotMerge::merge({y, w, a}, "/Users");
  const auto merged = SnapshotFile::inMemory(deeper.columns, deeper.info);
  ASSERT_EQ(merged->childCount(0), 2);
  const auto x = SnapshotPaths::node("/Users/x", *merged);
  ASSERT_TRUE(x);
  EXPECT_EQ(merged->flags(*x), created);
  EXPECT_EQ(merged->sizeOf(*x), 3u);
  EXPECT_EQ(merged->entryCount()[std::size_t(*x)], 4u);
  EXPECT_TRUE(SnapshotPaths::node("/Users/x/w/g", *merged));

  const auto empty = SnapshotMerge::merge({}, "/Users");
  EXPECT_EQ(empty.columns.nodeCount(), 1);
  EXPECT_EQ(empty.columns.flags[0], created);
}

TEST(SnapshotMerge, MergeRefusesTreesOutsideAtOrOverlapping) {
  const auto a = tree("/Users/a", {{-1, ""}});
  const auto inside = tree("/Users/a/sub", {{-1, ""}});
  const auto elsewhere = tree("/opt", {{-1, ""}});
  const auto joined = tree("", {{-1, ""}});
  EXPECT_EQ(failure([&] { SnapshotMerge::merge({a}, "/Users/a"); }),
            "A snapshot of /Users/a itself can't be merged into it");
  EXPECT_EQ(failure([&] { SnapshotMerge::merge({a, elsewhere}, "/Users"); }), "/opt isn't inside /Users");
  EXPECT_EQ(failure([&] { SnapshotMerge::merge({joined}, "/Users"); }), " isn't inside /Users");
  // One root inside another would give a folder two entries of one name.
  EXPECT_EQ(failure([&] {
              SnapshotMerge::merge({a, inside}, "/Users");
            }),
            "The snapshots of /Users/a and /Users/a/sub overlap and can't be merged together");
  EXPECT_EQ(failure([&] {
              SnapshotMerge::merge({inside, a}, "/Users");
            }),
            "The snapshots of /Users/a/sub and /Users/a overlap and can't be merged together");
}

TEST(SnapshotMerge, FillPutsTreesBackInPlaceOfTheirNodes) {
  const auto wide = tree(
      "/r", {{-1, ""}, {0, "big"}, {0, "snap", 0, placeholder, 2}, {0, "f", 1}, {1, "x", 100}}, 2000, 10);
  const auto snap = tree("/r/snap", {{-1, "", 0, 0, 8}, {0, "s", 50}}, 1000, 4);
  const auto result = SnapshotMerge::fill(*wide, {snap});
  EXPECT_EQ(
      result.columns,
      columnsOf({{-1, ""}, {0, "big"}, {0, "snap", 0, dir, 8}, {0, "f", 1}, {1, "x", 100}, {2, "s", 50}}));
  EXPECT_EQ(result.info, (SnapshotFile::Info{"/r", at(1000), 14}));

  // A later tree for the same place wins.
  const auto newer = tree("/r/snap", {{-1, "", 0, 0, 8}, {0, "s", 60}}, 3000, 1);
  const auto twice = SnapshotMerge::fill(*wide, {snap, newer});
  EXPECT_EQ(twice.columns.size[2], 60u);

  EXPECT_EQ(failure([&] { SnapshotMerge::fill(*wide, {tree("/r", {{-1, ""}})}); }), "/r isn't inside /r");
  EXPECT_EQ(failure([&] {
              SnapshotMerge::fill(*wide, {tree("/r/none", {{-1, ""}})});
            }),
            "/r/none isn't inside /r");
}

TEST(SnapshotMerge, FillWithSubtreesOfPutsKnownChildrenBack) {
  const auto old = tree("/r", {{-1, ""}, {0, "F"}, {1, "kept"}, {1, "gone", 2}, {2, "k", 30}}, 1000, 9);
  // The fresh scan of F skipped the child the snapshot holds.
  const auto fresh = tree("/r/F", {{-1, ""}, {0, "new", 4}, {0, "kept", 0, placeholder}}, 2000, 1);
  const auto result = SnapshotMerge::fillWithSubtreesOf(*fresh, *old, 1);
  testsupport::expectSameColumns(*result, columnsOf({{-1, ""}, {0, "kept"}, {0, "new", 4}, {1, "k", 30}}));
  EXPECT_EQ(result->rootPath(), "/r/F");
  EXPECT_EQ(result->scanStart(), at(1000));
  EXPECT_EQ(result->scanSeconds(), 1);
}

TEST(SnapshotMerge, NewIDFollowsTheCopyOrder) {
  const auto t = projects();
  // A finished tree is copied in its own id order.
  for (NodeId id = 0; id < t->totalNodes(); ++id) EXPECT_EQ(SnapshotMerge::newID(id, *t), id);
  EXPECT_EQ(failure([&] { SnapshotMerge::newID(7, *t); }), "node not found");
  EXPECT_EQ(failure([&] { SnapshotMerge::newID(-1, *t); }), "node not found");
}

namespace {

// A tree as a scan would build it: random folders and files, sizes from a small range so
// that equal sizes (and their order) are common, an occasional error or skipped folder.
TreeColumns randomScan(std::mt19937_64& random, int nodes) {
  TreeColumnsBuilder builder;
  std::vector<std::int32_t> folders{0};
  builder.set(0, -1, {}, 0, 500, 1, dir);
  for (int id = 1; id < nodes; ++id) {
    const std::int32_t parent = folders[random() % folders.size()];
    const std::string name = "n" + std::to_string(id);
    const bool folder = random() % 3 == 0;
    std::uint8_t flags = folder ? dir : 0;
    if (random() % 17 == 0) flags |= EntryFlags::error;
    if (folder && random() % 13 == 0) flags |= EntryFlags::notDescended;
    const std::uint64_t size = folder ? 0 : random() % 6;
    builder.set(std::size_t(id), parent, {reinterpret_cast<const std::uint8_t*>(name.data()), name.size()},
                size, std::int64_t(random() % 100000), 1, flags);
    if (folder && !(flags & EntryFlags::notDescended)) folders.push_back(id);
  }
  return builder.build(true, dir);
}

// A fresh scan of `node`'s folder that finds exactly what the snapshot holds.
TreeColumns rescanOf(const DiskTree& t, NodeId node) {
  TreeColumnsBuilder builder;
  builder.set(0, -1, {}, 0, t.mtime()[std::size_t(node)], 1, t.flags(node));
  std::vector<std::pair<NodeId, std::int32_t>> queue{{node, 0}};
  std::int32_t next = 1;
  for (std::size_t head = 0; head < queue.size(); ++head) {
    for (NodeId child : t.children(queue[head].first)) {
      const bool folder = t.isDirectory(child);
      builder.set(std::size_t(next), queue[head].second, t.nameView(child), folder ? 0 : t.sizeOf(child),
                  t.mtime()[std::size_t(child)], 1, t.flags(child));
      if (folder) queue.emplace_back(child, next);
      ++next;
    }
  }
  return builder.build(true, dir);
}

}  // namespace

TEST(SnapshotMerge, ReplacingAFolderByAnUnchangedRescanGivesTheSameColumns) {
  std::mt19937_64 random(20240305);
  for (int round = 0; round < 60; ++round) {
    const auto columns = randomScan(random, 2 + int(random() % 300));
    const auto t = SnapshotFile::inMemory(columns, {"/r", at(1000), 1});
    for (int pick = 0; pick < 4; ++pick) {
      const NodeId node = NodeId(random() % std::uint64_t(t->totalNodes()));
      if (!t->isDirectory(node)) continue;
      const auto fresh = SnapshotFile::inMemory(rescanOf(*t, node), {t->path(node), at(2000), 1});
      const auto result = SnapshotMerge::replace(node, *t, *fresh);
      ASSERT_EQ(result.columns, columns) << "round " << round << " node " << node;
    }
    // Filling the whole tree back into itself changes nothing either.
    ASSERT_EQ(SnapshotMerge::replace(0, *t, *t).columns, columns);
  }
}

TEST(SnapshotMerge, ReplacingAFolderByARescanOfTheSameFolderGivesTheSameColumns) {
  testsupport::TempDir dir;
  const auto root = dir.path() / "data";
  testsupport::writeFile(root / "top.bin", std::string(20000, 't'));
  testsupport::writeFile(root / "sub" / "a.bin", std::string(9000, 'a'));
  testsupport::writeFile(root / "sub" / "b.bin", std::string(9000, 'b'));  // ties keep their order
  testsupport::writeFile(root / "sub" / "c.txt", "c");
  testsupport::writeFile(root / "sub" / "deep" / "d.bin", std::string(50000, 'd'));
  testsupport::writeFile(root / "sub" / "deep" / "e.bin", std::string(100, 'e'));
  std::filesystem::create_directories(root / "sub" / "empty");
  testsupport::writeFile(root / "other" / "o.bin", std::string(4000, 'o'));

  const auto whole = testsupport::scanFolder(root);
  const auto fresh = testsupport::scanFolder(root / "sub");
  const auto sub = SnapshotPaths::node((root / "sub").string(), *whole);
  ASSERT_TRUE(sub);
  const auto result = SnapshotMerge::replace(*sub, *whole, *fresh);
  testsupport::expectSameColumns(*whole, result.columns);
}

namespace {

// Replacing by the letter of the copy rule: every node of `t` copied breadth-first into a
// builder, `fresh` grafted where `node` was, and the builder left to add up and sort.
TreeColumns replacedThroughTheBuilder(const DiskTree& t, NodeId node, const DiskTree& fresh) {
  TreeColumnsBuilder builder;
  std::int32_t next = 1;
  auto copyNode = [&](const DiskTree& from, NodeId id, std::int32_t parent) {
    const bool folder = from.flags(id) & dir;
    builder.set(std::size_t(next), parent, from.nameView(id), folder ? 0 : from.sizeOf(id),
                from.mtime()[std::size_t(id)], 1, from.flags(id));
    return next++;
  };
  // Children that do not name their folder are not walked, as in the merge.
  auto walk = [&](const DiskTree& from, NodeId top, std::int32_t topSlot, auto&& hook) {
    std::vector<std::pair<NodeId, std::int32_t>> queue{{top, topSlot}};
    for (std::size_t head = 0; head < queue.size(); ++head)
      for (NodeId child : from.children(queue[head].first)) {
        if (from.parentOf(child) != queue[head].first || hook(child, queue[head].second)) continue;
        const std::int32_t slot = copyNode(from, child, queue[head].second);
        if (from.isDirectory(child)) queue.emplace_back(child, slot);
      }
  };
  auto none = [](NodeId, std::int32_t) { return false; };
  builder.set(0, -1, {}, 0, t.mtime()[0], 1, std::uint8_t(t.flags(DiskTree::root) | dir));
  walk(t, DiskTree::root, 0, [&](NodeId child, std::int32_t parent) {
    if (child != node) return false;
    const std::int32_t slot = next++;
    builder.set(std::size_t(slot), parent, t.nameView(node), 0, fresh.mtime()[0], 1,
                std::uint8_t(fresh.flags(DiskTree::root) | dir));
    walk(fresh, DiskTree::root, slot, none);
    return true;
  });
  return std::move(builder).build(true, dir);
}

}  // namespace

TEST(SnapshotMerge, ReplacingAFolderGivesWhatTheCopyRuleGives) {
  std::mt19937_64 random(20261211);
  int compared = 0;
  for (int round = 0; round < 200; ++round) {
    const auto t = SnapshotFile::inMemory(randomScan(random, 2 + int(random() % 400)), {"/r", at(1000), 1});
    // A rescan that found something else: sizes move folders up and down their lists, and
    // equal sizes keep the order the copy writes them in.
    const auto fresh =
        SnapshotFile::inMemory(randomScan(random, 1 + int(random() % 60)), {"/r/x", at(2000), 1});
    if (t->totalNodes() < 2) continue;
    for (int pick = 0; pick < 3; ++pick) {
      const NodeId node = 1 + NodeId(random() % std::uint64_t(t->totalNodes() - 1));
      ASSERT_EQ(SnapshotMerge::replace(node, *t, *fresh).columns, replacedThroughTheBuilder(*t, node, *fresh))
          << "round " << round << " node " << node;
      ++compared;
    }
  }
  EXPECT_GT(compared, 500);
}

TEST(SnapshotMerge, ReplacingInADamagedTreeGivesWhatTheCopyRuleGives) {
  // Columns of random numbers: child ranges overlap, parents disagree with the ranges, names
  // run past their bytes. Whatever the reader lets open is merged as the copy rule says.
  std::mt19937_64 random(7);
  int compared = 0;
  for (int round = 0; round < 400; ++round) {
    DiskTreePtr t, fresh;
    try {
      t = SnapshotFile::inMemory(testsupport::randomColumns(random, 2 + random() % 200), {"/r", at(1000), 1});
      fresh = SnapshotFile::inMemory(testsupport::randomColumns(random, 1 + random() % 30),
                                     {"/r/x", at(2000), 1});
    } catch (const std::exception&) {
      continue;
    }
    // A node the walk reaches, or one it does not, which is not found.
    std::vector<NodeId> reached{DiskTree::root};
    for (std::size_t head = 0; head < reached.size(); ++head)
      if (head == 0 || t->isDirectory(reached[head]))
        for (NodeId child : t->children(reached[head]))
          if (t->parentOf(child) == reached[head]) reached.push_back(child);
    if (reached.size() < 2 || random() % 8 == 0) {
      EXPECT_EQ(failure([&] { SnapshotMerge::replace(t->totalNodes(), *t, *fresh); }), "node not found");
      continue;
    }
    const NodeId node = reached[1 + random() % (reached.size() - 1)];
    const auto direct = SnapshotMerge::replace(node, *t, *fresh).columns;
    ASSERT_EQ(direct, replacedThroughTheBuilder(*t, node, *fresh)) << "round " << round << " node " << node;
    ++compared;
  }
  EXPECT_GT(compared, 20);
}

// On Linux a name is its bytes: a folder created on the way to an added scan must be named
// as the path spells it, or paths below it name a folder that is not on disk.
TEST(SnapshotMerge, FoldersCreatedForInsertAndMergeKeepTheBytesOfThePath) {
  testsupport::TempDir dir;
  const auto root = dir.path() / "r";
  const std::string decomposed = "Cafe\xCC\x81";
  testsupport::writeFile(root / "top.bin", "t");
  testsupport::writeFile(root / decomposed / "sub" / "f.bin", "f");
  const auto whole = testsupport::scanFolder(root, ScanOptions({}, false, {(root / decomposed).string()}));
  const auto fresh = testsupport::scanFolder(root / decomposed / "sub");

  const auto inserted = SnapshotMerge::insert(*fresh, *whole);
  const auto mergedAtRoot = SnapshotMerge::merge({fresh}, root.string());
  for (const auto& result : {inserted, mergedAtRoot}) {
    const auto tree = SnapshotFile::inMemory(result.columns, result.info);
    EXPECT_EQ(tree->firstViolation(), std::nullopt);
    const auto file = SnapshotPaths::node((root / decomposed / "sub" / "f.bin").string(), *tree);
    ASSERT_TRUE(file);
    EXPECT_EQ(tree->path(*file), (root / decomposed / "sub" / "f.bin").string());
    EXPECT_TRUE(std::filesystem::exists(tree->path(*file)));
  }
}
