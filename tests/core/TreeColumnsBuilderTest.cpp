#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/TreeColumnsBuilder.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string_view>
#include <thread>

using namespace tallyfox;

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

constexpr auto dir = EntryFlags::directory;

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
