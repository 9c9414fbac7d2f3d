#include <tallyfox/SnapshotDiff.h>
#include <tallyfox/SnapshotFile.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <limits>

using namespace tallyfox;
using testsupport::memoryTree;
using testsupport::Node;

namespace {

constexpr auto error = EntryFlags::error;
constexpr auto skipped = EntryFlags::directory | EntryFlags::notDescended;

std::shared_ptr<const SnapshotDiff> rootDiff(DiskTreePtr oldTree, DiskTreePtr newTree) {
  return std::make_shared<const SnapshotDiff>(oldTree, DiskTree::root, newTree, DiskTree::root);
}

const SnapshotDiff::Entry& named(const std::vector<SnapshotDiff::Entry>& list, const std::string& name) {
  for (const auto& e : list)
    if (e.name == name) return e;
  throw std::runtime_error("no entry " + name);
}

std::vector<std::string> namesOf(const std::vector<SnapshotDiff::Entry>& list) {
  std::vector<std::string> names;
  for (const auto& e : list) names.push_back(e.name);
  return names;
}

}  // namespace

TEST(SnapshotDiff, NewGoneAndChangedEntriesLargestChangeFirst) {
  const auto older = memoryTree("/p", {{-1, ""}, {0, "same", 40}, {0, "grew", 10}, {0, "gone", 7}});
  const auto newer = memoryTree("/p", {{-1, ""}, {0, "same", 40}, {0, "added", 30}, {0, "grew", 15}});
  const auto diff = rootDiff(older, newer);
  const auto list = diff->children(diff->root());
  EXPECT_EQ(namesOf(list), (std::vector<std::string>{"added", "gone", "grew", "same"}));

  const auto& added = named(list, "added");
  EXPECT_TRUE(added.isNew());
  EXPECT_FALSE(added.isGone());
  EXPECT_EQ(added.oldSize, 0u);
  EXPECT_EQ(added.delta(), 30);
  EXPECT_EQ(added.newNode, 2);

  const auto& gone = named(list, "gone");
  EXPECT_TRUE(gone.isGone());
  EXPECT_EQ(gone.newSize, 0u);
  EXPECT_EQ(gone.delta(), -7);
  EXPECT_EQ(gone.oldNode, 3);

  const auto& grew = named(list, "grew");
  EXPECT_EQ(grew.oldNode, 2);
  EXPECT_EQ(grew.newNode, 3);
  EXPECT_EQ(grew.delta(), 5);
  EXPECT_EQ(named(list, "same").delta(), 0);
}

TEST(SnapshotDiff, RootAndNestedFolders) {
  testsupport::ScopedHome home;
  const std::string root = (home.path() / "Music").string();
  const auto older = memoryTree(root, {{-1, ""}, {0, "d"}, {0, "old"}, {1, "x", 4}, {2, "y", 2}});
  const auto newer = memoryTree(root, {{-1, ""}, {0, "d"}, {0, "fresh"}, {1, "x", 9}, {2, "z", 1}});
  const auto diff = rootDiff(older, newer);
  const auto top = diff->root();
  EXPECT_EQ(top.name, "~/Music");
  EXPECT_TRUE(top.isDirectory);
  EXPECT_EQ(top.delta(), 4);

  const auto list = diff->children(top);
  const auto& d = named(list, "d");
  ASSERT_TRUE(d.isDirectory);
  const auto inside = diff->children(d);
  ASSERT_EQ(inside.size(), 1u);
  EXPECT_EQ(inside[0].delta(), 5);
  // Everything below a new folder is new, below a gone folder gone.
  const auto underNew = diff->children(named(list, "fresh"));
  ASSERT_EQ(underNew.size(), 1u);
  EXPECT_TRUE(underNew[0].isNew());
  const auto underGone = diff->children(named(list, "old"));
  ASSERT_EQ(underGone.size(), 1u);
  EXPECT_TRUE(underGone[0].isGone());
  // Files and entries on neither side have no children.
  EXPECT_TRUE(diff->children(inside[0]).empty());
  EXPECT_TRUE(diff->children(SnapshotDiff::Entry{}).empty());
}

TEST(SnapshotDiff, DeltaNeverOverflows) {
  constexpr std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();
  constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
  SnapshotDiff::Entry e;
  e.oldSize = huge;
  e.newSize = 0;
  EXPECT_EQ(e.delta(), -largest);
  EXPECT_EQ(e.magnitude(), std::uint64_t(largest));
  std::swap(e.oldSize, e.newSize);
  EXPECT_EQ(e.delta(), largest);
  e.oldSize = std::uint64_t(largest) + 1;
  EXPECT_EQ(e.delta(), 0);  // both beyond the signed range compare as equal

  const auto older = memoryTree("/p", {{-1, ""}, {0, "big", huge}});
  const auto newer = memoryTree("/p", {{-1, ""}});
  const auto diff = rootDiff(older, newer);
  const auto list = diff->children(diff->root());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].delta(), -largest);
}

TEST(SnapshotDiff, ReliabilityFollowsErrorAndSkipMarks) {
  const auto older = memoryTree("/p", {{-1, ""},
                                       {0, "bothSkipped", 0, skipped},
                                       {0, "skippedBefore", 0, skipped},
                                       {0, "skippedNow", 0, EntryFlags::directory},
                                       {0, "errorBefore", 1, error},
                                       {0, "errorNow", 1},
                                       {0, "goneWithError", 1, error},
                                       {0, "plain", 1}});
  const auto newer = memoryTree("/p", {{-1, ""},
                                       {0, "bothSkipped", 0, skipped},
                                       {0, "skippedBefore", 0, EntryFlags::directory},
                                       {0, "skippedNow", 0, skipped},
                                       {0, "errorBefore", 1},
                                       {0, "errorNow", 1, error},
                                       {0, "newWithError", 1, error},
                                       {0, "plain", 2}});
  const auto diff = rootDiff(older, newer);
  const auto list = diff->children(diff->root());
  EXPECT_FALSE(named(list, "bothSkipped").unreliable);
  EXPECT_FALSE(named(list, "plain").unreliable);
  for (const char* name :
       {"skippedBefore", "skippedNow", "errorBefore", "errorNow", "goneWithError", "newWithError"})
    EXPECT_TRUE(named(list, name).unreliable) << name;
}

TEST(SnapshotDiff, FileInOneTreeFolderInTheOtherIsOneEntry) {
  const auto older = memoryTree("/p", {{-1, ""}, {0, "x", 3}});
  const auto newer = memoryTree("/p", {{-1, ""}, {0, "x"}, {1, "inside", 8}});
  const auto diff = rootDiff(older, newer);
  const auto list = diff->children(diff->root());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_TRUE(list[0].isDirectory);
  EXPECT_EQ(list[0].delta(), 5);
  // The old side is a file without children, so everything inside counts as new.
  const auto inside = diff->children(list[0]);
  ASSERT_EQ(inside.size(), 1u);
  EXPECT_TRUE(inside[0].isNew());
}

TEST(SnapshotDiff, EqualChangesKeepTheNewTreeOrderThenGoneEntries) {
  // In stored (largest-first) order; "down" shrank by 5, "up" grew by 5, "gone" by 5 too.
  const auto older = memoryTree("/p", {{-1, ""}, {0, "down", 20}, {0, "gone", 5}, {0, "up", 1}});
  const auto newer = memoryTree("/p", {{-1, ""}, {0, "down", 15}, {0, "up", 6}, {0, "big", 100}});
  auto diff = rootDiff(older, newer);
  EXPECT_EQ(namesOf(diff->children(diff->root())), (std::vector<std::string>{"big", "down", "up", "gone"}));

  const auto swapped = memoryTree("/p", {{-1, ""}, {0, "up", 6}, {0, "down", 15}, {0, "big", 100}});
  diff = rootDiff(older, swapped);
  EXPECT_EQ(namesOf(diff->children(diff->root())), (std::vector<std::string>{"big", "up", "down", "gone"}));
}

TEST(SnapshotDiff, NamesMatchUnderCanonicalEquivalence) {
  const std::string nfc = "Caf\xC3\xA9", nfd = "Cafe\xCC\x81";
  const auto older = memoryTree("/p", {{-1, ""}, {0, nfc, 10}});
  const auto newer = memoryTree("/p", {{-1, ""}, {0, nfd, 12}});
  const auto diff = rootDiff(older, newer);
  const auto list = diff->children(diff->root());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, nfd);
  EXPECT_EQ(list[0].delta(), 2);
  EXPECT_FALSE(list[0].isNew());
}

TEST(SnapshotDiff, CanonicallyEqualSiblingsAreNeitherMergedNorLost) {
  // On Linux a folder can hold both spellings as two different files.
  const std::string nfc = "Caf\xC3\xA9", nfd = "Cafe\xCC\x81";
  const auto older = memoryTree("/p", {{-1, ""}, {0, nfc, 10}, {0, nfd, 3}});
  const auto both = memoryTree("/p", {{-1, ""}, {0, nfd, 4}, {0, nfc, 10}});
  auto diff = rootDiff(older, both);
  auto list = diff->children(diff->root());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(named(list, nfc).delta(), 0);
  EXPECT_EQ(named(list, nfd).delta(), 1);

  // Only the decomposed file is left: it keeps its own history and the other is gone.
  const auto one = memoryTree("/p", {{-1, ""}, {0, nfd, 3}});
  diff = rootDiff(older, one);
  list = diff->children(diff->root());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(list[0].isGone());
  EXPECT_EQ(list[0].oldSize, 10u);
  EXPECT_EQ(list[1].name, nfd);
  EXPECT_EQ(list[1].delta(), 0);
}

TEST(SnapshotDiff, MakeFindsTheFolderInBothTreesOrFails) {
  const auto older = memoryTree("/home/ann", {{-1, ""}, {0, "Projects"}, {0, "only-old", 1}, {1, "app", 5}});
  const auto newer = memoryTree("/home/ann/Projects", {{-1, ""}, {0, "app", 9}});
  const auto diff = SnapshotDiff::make(older, newer, "/home/ann/Projects");
  ASSERT_TRUE(diff);
  EXPECT_EQ(diff->oldBase(), 1);
  EXPECT_EQ(diff->newBase(), 0);
  const auto list = diff->children(diff->root());
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].delta(), 4);

  EXPECT_TRUE(SnapshotDiff::make(older, newer, "/home/ann/Projects/app"));
  EXPECT_FALSE(SnapshotDiff::make(older, newer, "/home/ann/only-old"));  // outside the newer root
  EXPECT_FALSE(SnapshotDiff::make(older, newer, "/home/ann/Projects/missing"));
  EXPECT_FALSE(SnapshotDiff::make(older, newer, "/elsewhere"));
  EXPECT_FALSE(SnapshotDiff::make(nullptr, newer, "/home/ann/Projects"));
}
