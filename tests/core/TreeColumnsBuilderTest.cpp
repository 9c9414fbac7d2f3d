#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/TreeColumnsBuilder.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string_view>
#include <thread>

using namespace tallyfox;
using testsupport::dir;

namespace {

std::span<const std::uint8_t> bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct Entry {
  std::string name;
  std::uint64_t size;
  std::uint8_t flags;
};

// One batch of a folder as the scanner would report it.
DirectoryListing listing(std::uint32_t folder, std::uint32_t first, const std::vector<Entry>& entries,
                         bool error = false) {
  DirectoryListing l;
  l.reset(folder, first);
  for (const auto& e : entries) l.append(bytes(e.name), e.size, 1000, e.flags);
  l.directoryError = error;
  return l;
}

std::string nameAt(const TreeColumns& c, std::size_t id) {
  return std::string(c.names.begin() + c.nameOffset[id], c.names.begin() + c.nameOffset[id + 1]);
}

// Root with folders A (files of 5 and 7 bytes) and B (one file of 100 bytes), in scan ids:
// A = 1, B = 2, a5 = 3, a7 = 4, b100 = 5.
std::vector<DirectoryListing> twoFolders() {
  return {listing(0, 1, {{"A", 0, dir}, {"B", 0, dir}}), listing(1, 3, {{"a5", 5, 0}, {"a7", 7, 0}}),
          listing(2, 5, {{"b100", 100, 0}})};
}

TreeColumns sinkColumns(const std::vector<DirectoryListing>& listings) {
  SnapshotBuilderSink sink;
  sink.rootStarted("/nonexistent-root-for-test");
  for (const auto& l : listings) sink.directoryListed(l);
  return sink.finish();
}

}  // namespace

TEST(TreeColumnsBuilder, EmptyScanIsTheRootAlone) {
  const auto c = sinkColumns({});
  EXPECT_EQ(c.parent, std::vector<std::int32_t>{-1});
  EXPECT_EQ(c.flags, std::vector<std::uint8_t>{dir});
  EXPECT_EQ(c.size, std::vector<std::uint64_t>{0});
  EXPECT_EQ(c.entryCount, std::vector<std::uint32_t>{0});
  EXPECT_EQ(c.childCount, std::vector<std::uint32_t>{0});
  EXPECT_EQ(c.childStart, std::vector<std::uint32_t>{0});
  EXPECT_EQ(c.nameOffset, (std::vector<std::uint32_t>{0, 0}));
  EXPECT_EQ(TreeColumnsBuilder().build(true, dir), TreeColumns{});
}

TEST(TreeColumnsBuilder, BreadthFirstIdsSortedBySizeAndSummedUpward) {
  const auto c = sinkColumns(twoFolders());
  ASSERT_EQ(c.nodeCount(), 6);
  EXPECT_EQ(nameAt(c, 1), "B");
  EXPECT_EQ(nameAt(c, 2), "A");
  EXPECT_EQ(nameAt(c, 3), "b100");
  EXPECT_EQ(nameAt(c, 4), "a7");
  EXPECT_EQ(nameAt(c, 5), "a5");
  EXPECT_EQ(c.parent, (std::vector<std::int32_t>{-1, 0, 0, 1, 2, 2}));
  EXPECT_EQ(c.size, (std::vector<std::uint64_t>{112, 100, 12, 100, 7, 5}));
  EXPECT_EQ(c.entryCount, (std::vector<std::uint32_t>{5, 1, 2, 1, 1, 1}));
  EXPECT_EQ(c.childStart, (std::vector<std::uint32_t>{1, 3, 4, 0, 0, 0}));
  EXPECT_EQ(c.childCount, (std::vector<std::uint32_t>{2, 1, 2, 0, 0, 0}));
  EXPECT_EQ(c.mtime[3], 1000u);
}

TEST(TreeColumnsBuilder, AnyArrivalOrderGivesTheSameColumns) {
  const auto expected = sinkColumns(twoFolders());
  auto listings = twoFolders();
  // Split A's batch in two, as a second read of the folder would.
  listings[1] = listing(1, 3, {{"a5", 5, 0}});
  listings.push_back(listing(1, 4, {{"a7", 7, 0}}));
  std::mt19937 random(3);
  for (int round = 0; round < 20; ++round) {
    std::shuffle(listings.begin(), listings.end(), random);
    EXPECT_EQ(sinkColumns(listings), expected);
  }
}

TEST(TreeColumnsBuilder, EqualSizesKeepScanOrder) {
  const auto c = sinkColumns({listing(0, 1, {{"first", 10, 0}, {"second", 10, 0}, {"third", 10, 0}})});
  EXPECT_EQ(nameAt(c, 1), "first");
  EXPECT_EQ(nameAt(c, 2), "second");
  EXPECT_EQ(nameAt(c, 3), "third");
}

TEST(TreeColumnsBuilder, ErrorsAndInconsistentInput) {
  // A root that could not be listed keeps its other flags.
  auto c = sinkColumns({listing(0, 1, {}, /*error=*/true)});
  EXPECT_EQ(c.flags[0], dir | EntryFlags::error);

  // An entry whose parent never came is dropped with its descendants; an error listing for
  // an unknown folder is ignored.
  c = sinkColumns({listing(0, 1, {{"kept", 3, 0}}), listing(9, 10, {{"orphan", 50, dir}}),
                   listing(10, 11, {{"below", 60, 0}}), listing(400, 500, {}, true)});
  ASSERT_EQ(c.nodeCount(), 2);
  EXPECT_EQ(nameAt(c, 1), "kept");
  EXPECT_EQ(c.size[0], 3u);

  // Setting an id twice: the last call wins. Times clamp into 32 bits.
  TreeColumnsBuilder b;
  b.set(0, -1, {}, 0, 0, 1, dir);
  b.set(1, 0, bytes("old"), 1, -5, 1, 0);
  b.set(1, 0, bytes("new"), 2, std::int64_t(1) << 40, 1, 0);
  b.addFlags(1, EntryFlags::partial);
  b.addFlags(77, EntryFlags::error);
  c = b.build(true, dir);
  EXPECT_EQ(nameAt(c, 1), "new");
  EXPECT_EQ(c.size[1], 2u);
  EXPECT_EQ(c.mtime[1], 0xFFFFFFFFu);
  EXPECT_EQ(c.flags[1], EntryFlags::partial);
  EXPECT_EQ(clampTime(-5), 0u);

  // Without aggregation sizes and counts stay as set.
  TreeColumnsBuilder plain;
  plain.set(0, -1, {}, 42, 0, 9, dir);
  plain.set(1, 0, bytes("x"), 5, 0, 1, 0);
  c = plain.build(false, dir);
  EXPECT_EQ(c.size, (std::vector<std::uint64_t>{42, 5}));
  EXPECT_EQ(c.entryCount, (std::vector<std::uint32_t>{9, 1}));
}

TEST(TreeColumnsBuilder, ConcurrentListingsAllArrive) {
  SnapshotBuilderSink sink;
  sink.rootStarted("/");
  constexpr int threads = 4, perThread = 2000;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      for (int k = 0; k < perThread; ++k)
        sink.directoryListed(listing(0, std::uint32_t(1 + t * perThread + k), {{"f", 1, 0}}));
    });
  for (auto& w : workers) w.join();
  const auto c = sink.finish();
  EXPECT_EQ(c.size[0], std::uint64_t(threads * perThread));
  EXPECT_EQ(sink.finish(), TreeColumns{});
}

namespace {

// The build rules applied the plain way, with per-node lists and a stable sort, as the
// yardstick for the flat-array build on inputs of every shape.
TreeColumns referenceBuild(const TreeColumnsBuilder& b, bool aggregate) {
  const std::size_t n = b.length();
  TreeColumns out;
  if (n == 0) return out;
  std::vector<std::vector<std::uint32_t>> kids(n);
  for (std::size_t id = 1; id < n; ++id)
    if (b.present[id] && b.parent[id] >= 0 && std::size_t(b.parent[id]) < n)
      kids[std::size_t(b.parent[id])].push_back(std::uint32_t(id));
  auto breadthFirst = [&] {
    std::vector<std::uint32_t> order;
    if (b.present[0]) order.push_back(0);
    for (std::size_t head = 0; head < order.size(); ++head)
      for (auto child : kids[order[head]]) order.push_back(child);
    return order;
  };
  std::vector<std::uint64_t> size = b.size;
  std::vector<std::uint32_t> count(n);
  for (std::size_t id = 0; id < n; ++id) count[id] = b.entryCount(id);
  auto order = breadthFirst();
  if (aggregate) {
    for (std::size_t pos = order.size(); pos-- > 1;) {
      const auto x = order[pos];
      const auto p = std::size_t(b.parent[x]);
      size[p] = size[x] > ~std::uint64_t(0) - size[p] ? ~std::uint64_t(0) : size[p] + size[x];
      count[p] += !(b.flags[x] & dir) && kids[x].empty() ? 1 : count[x];
    }
    for (std::size_t id = 0; id < n; ++id)
      if (b.flags[id] & dir) --count[id];
  }
  for (auto& list : kids)
    std::stable_sort(list.begin(), list.end(), [&](auto x, auto y) { return size[x] > size[y]; });
  order = breadthFirst();
  std::vector<std::int32_t> newID(n, -1);
  for (std::size_t k = 0; k < order.size(); ++k) newID[order[k]] = std::int32_t(k);
  for (std::size_t k = 0; k < order.size(); ++k) {
    const auto id = order[k];
    out.parent.push_back(k == 0 ? -1 : newID[std::size_t(b.parent[id])]);
    out.size.push_back(size[id]);
    out.mtime.push_back(b.mtime[id]);
    out.entryCount.push_back(count[id]);
    out.flags.push_back(b.flags[id]);
    out.childCount.push_back(std::uint32_t(kids[id].size()));
    out.childStart.push_back(kids[id].empty() ? 0 : std::uint32_t(newID[kids[id][0]]));
    out.nameOffset.push_back(std::uint32_t(out.names.size()));
    const auto name = b.name(id);
    out.names.insert(out.names.end(), name.begin(), name.end());
  }
  out.nameOffset.push_back(std::uint32_t(out.names.size()));
  return out;
}

}  // namespace

TEST(TreeColumnsBuilder, MatchesThePlainRulesOnInputsOfEveryShape) {
  std::mt19937_64 random(11);
  for (int round = 0; round < 302; ++round) {
    // The last rounds are large enough for the build to share its work with a second thread.
    const std::size_t n = round >= 300 ? 150000 : 1 + random() % (round < 200 ? 40 : 3000);
    TreeColumnsBuilder b;
    for (std::size_t id = 0; id < n; ++id) {
      if (random() % 16 == 0) continue;  // never set: a gap
      const auto roll = random() % 32;
      // Mostly an earlier id, as a scan reports them; sometimes a later one, out of range,
      // the entry itself, or none. Every third round has earlier ids only, or none, as a
      // scan has, which the build sums up by another way.
      const bool scanShaped = round % 3 == 0;
      std::int32_t parent = id == 0 ? -1 : std::int32_t(random() % id);
      if (roll == 0 && !scanShaped) parent = std::int32_t(random() % (n + 5));
      if (roll == 1) parent = -1;
      if (roll == 2 && !scanShaped) parent = std::int32_t(id);
      const std::string name(random() % 6, char('a' + random() % 26));
      // Sizes from a handful of values, so that ties are common; some near the top of the
      // range, where sums saturate the same way in either summing order.
      const std::uint64_t sizes[] = {0, 1, 7, 4096, ~std::uint64_t(0) - 3};
      const std::uint8_t flags = std::uint8_t(random() % 4 == 0 ? dir : random() % 256);
      const int times = random() % 8 == 0 ? 2 : 1;  // set twice: the last call wins
      for (int t = 0; t < times; ++t)
        b.set(id, parent, bytes(name), sizes[random() % 5], std::int64_t(random() % 5000) - 100,
              std::uint32_t(1 + random() % 3), flags);
    }
    if (b.empty()) continue;
    for (const bool aggregate : {true, false}) {
      const TreeColumns expected = referenceBuild(b, aggregate);
      ASSERT_EQ(b.build(aggregate, dir), expected) << "round " << round;
      TreeColumnsBuilder moved = b;
      ASSERT_EQ(std::move(moved).build(aggregate, dir), expected) << "round " << round;
      EXPECT_TRUE(moved.empty());
      // Arranged for streaming, the columns come out the same, in pieces, as often as asked.
      TreeColumnsBuilder arranging = b;
      const ArrangedColumns arranged = std::move(arranging).arrange(aggregate, dir);
      EXPECT_TRUE(arranging.empty());
      ASSERT_EQ(arranged.columns(), expected) << "round " << round;
      ASSERT_EQ(arranged.nodeCount(), expected.parent.size());
      ASSERT_EQ(arranged.nameBytes(), expected.names.size());
      if (round >= 300) {
        ASSERT_EQ(arranged.columns(), expected);
      }
    }
  }
}

TEST(TreeColumnsBuilder, ArrangedColumnsHandOutNamesLongerThanAPiece) {
  TreeColumnsBuilder b;
  const std::string longName(300000, 'x');
  b.set(0, -1, {}, 0, 0, 1, dir);
  b.set(1, 0, bytes("short"), 1, 0, 1, 0);
  b.set(2, 0, bytes(longName), 3, 0, 1, 0);
  b.set(3, 0, bytes("tail"), 2, 0, 1, 0);
  const TreeColumns expected = b.build(true, dir);
  const ArrangedColumns arranged = TreeColumnsBuilder(b).arrange(true, dir);
  EXPECT_EQ(arranged.columns(), expected);
  EXPECT_EQ(nameAt(expected, 1), longName);
  // Nothing reached from the root, and no builder at all.
  TreeColumnsBuilder rootless;
  rootless.set(1, 0, bytes("orphan"), 1, 0, 1, 0);
  EXPECT_EQ(TreeColumnsBuilder(rootless).arrange(true, dir).columns(), rootless.build(true, dir));
  EXPECT_FALSE(TreeColumnsBuilder().arrange(true, dir).hasNameOffsets());
  EXPECT_EQ(TreeColumnsBuilder().arrange(true, dir).columns(), TreeColumns{});
}

TEST(TreeColumnsBuilder, BatchesStoreWhatEntryByEntrySettingStores) {
  std::mt19937 random(5);
  TreeColumnsBuilder byEntry, byBatch;
  byEntry.set(0, -1, {}, 0, 0, 1, dir);
  byBatch.set(0, -1, {}, 0, 0, 1, dir);
  std::uint32_t next = 1;
  for (int batch = 0; batch < 200; ++batch) {
    DirectoryListing l;
    l.reset(std::uint32_t(random() % next), next);
    const int count = int(random() % 40);
    for (int k = 0; k < count; ++k) {
      const std::string name(1 + random() % 9, char('a' + k % 26));
      l.append(bytes(name), random() % 100000, std::int64_t(random()) - 1000, std::uint8_t(random() % 2));
    }
    for (std::size_t k = 0; k < l.count(); ++k)
      byEntry.set(l.firstID + k, std::int32_t(l.directoryID), l.name(k), l.sizes[k], l.mtimes[k], 1,
                  l.flags[k]);
    byBatch.setRange(l.firstID, std::int32_t(l.directoryID), l.names, l.nameEnds, l.sizes, l.mtimes, l.flags);
    next += std::uint32_t(count);
  }
  EXPECT_EQ(byBatch.parent, byEntry.parent);
  EXPECT_EQ(byBatch.size, byEntry.size);
  EXPECT_EQ(byBatch.mtime, byEntry.mtime);
  EXPECT_EQ(byBatch.flags, byEntry.flags);
  for (std::size_t id = 0; id < byEntry.length(); ++id) {
    EXPECT_EQ(byBatch.entryCount(id), byEntry.entryCount(id));
    EXPECT_EQ(byBatch.nameStart(id), byEntry.nameStart(id));
    EXPECT_EQ(byBatch.nameLength(id), byEntry.nameLength(id));
  }
  EXPECT_EQ(byBatch.names, byEntry.names);
  EXPECT_EQ(byBatch.present, byEntry.present);
}

// Names are kept with a length byte, the longest ones aside; counts only once one is not 1.
// Whatever they were set to (and set again to, and trimmed off) comes out of both builds.
TEST(TreeColumnsBuilder, NamesOfEveryLengthAndCountsSetLate) {
  const std::vector<std::size_t> lengths = {0, 1, 16, 17, 254, 255, 256, 70000};
  TreeColumnsBuilder b;
  b.set(0, -1, {}, 0, 0, 1, dir);
  std::vector<std::string> names;
  for (std::size_t k = 0; k < lengths.size(); ++k) {
    names.push_back(std::string(lengths[k], char('a' + k)));
    // Sizes fall with k, so that the final ids follow the scan ids.
    b.set(k + 1, 0, bytes(names.back()), 1000 - k, 0, 1, 0);
  }
  // Long after short and short after long, in the same ids.
  names[1] = std::string(300, 'L');
  b.set(2, 0, bytes(names[1]), 999, 0, 1, 0);
  names[6] = "short again";
  b.set(7, 0, bytes(names[6]), 994, 0, 1, 0);
  // A count set once the entries are in, and entries trimmed off the end.
  b.setEntryCount(3, 7);
  b.set(9, 3, bytes(std::string(400, 'z')), 1, 0, 1, 0);
  b.shrinkTo(9);

  for (const bool aggregate : {false, true}) {
    const TreeColumns built = b.build(aggregate, dir);
    ASSERT_EQ(built, TreeColumnsBuilder(b).arrange(aggregate, dir).columns());
    ASSERT_EQ(built.nodeCount(), std::int64_t(names.size() + 1));
    for (std::size_t k = 0; k < names.size(); ++k) EXPECT_EQ(nameAt(built, k + 1), names[k]) << k;
    EXPECT_EQ(built.entryCount[3], 7u);
    EXPECT_EQ(built.entryCount[0], aggregate ? std::uint32_t(names.size()) : 1u);
  }
  EXPECT_EQ(b.entryCount(2), 1u);
  EXPECT_EQ(b.nameLength(8), 70000u);
}
