#include <tallyfox/DuplicateFinder.h>

#include <tallyfox/SnapshotFile.h>

#include "BtrfsImage.h"
#include "CloneFixtures.h"
#include "FolderSnapshot.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <cstdlib>

using namespace tallyfox;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

using Paths = std::vector<std::string>;

std::vector<DuplicateFinder::Group> findBelow(const fs::path& root, DuplicateFinder::Options options = {},
                                              const EntryAdjuster& adjust = {}) {
  DuplicateFinder finder(snapshotOfFolder(root, adjust), DiskTree::root, options);
  return finder.run();
}

std::uint64_t allocatedBytes(const fs::path& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0 ? std::uint64_t(status.st_blocks) * 512 : 0;
}

std::string str(const fs::path& path) {
  return path.string();
}

class DuplicateFinderOnBtrfs : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    image_ = BtrfsImage::create(why);
    if (!image_) GTEST_SKIP() << why;
    root_ = image_->mountPoint() / "tree";
    fs::create_directories(root_);
  }
  const fs::path& root() const { return root_; }

  std::unique_ptr<BtrfsImage> image_;
  fs::path root_;
};

// The narrowing needs no shared storage: any temporary folder will do.
class DuplicateFinderOnDisk : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_); }
  const fs::path& root() const { return root_; }
  fs::path outside() const { return dir_ / "outside"; }

  TempDir dir_;
  fs::path root_ = dir_ / "tree";
};

}  // namespace

TEST_F(DuplicateFinderOnDisk, NarrowsBySizeThenEdgesThenWholeContents) {
  const std::string bytes = patternedBytes(200000, 1);
  putFile(root() / "a.bin", bytes);
  putFile(root() / "sub" / "b.bin", bytes);
  std::string middle = bytes;  // same edges, other middle: only the full hash can tell
  middle[100000] ^= 1;
  putFile(root() / "c.bin", middle);
  std::string early = bytes;  // told apart by the quick check
  early[10] ^= 1;
  putFile(root() / "d.bin", early);
  // At most 128 KiB only the first 64 KiB are an edge: these pass the quick check.
  const std::string small = patternedBytes(100000, 2);
  putFile(root() / "e.bin", small);
  std::string late = small;
  late[70000] ^= 1;
  putFile(root() / "f.bin", late);

  DuplicateFinder finder(snapshotOfFolder(root()), DiskTree::root, {});
  const auto groups = finder.run();

  ASSERT_EQ(groups.size(), 1u);
  const auto& group = groups[0];
  EXPECT_EQ(group.paths, (Paths{str(root() / "a.bin"), str(root() / "sub" / "b.bin")}));
  EXPECT_EQ(group.length, 200000u);
  EXPECT_EQ(group.sha256, sha256sumOf(root() / "a.bin"));
  EXPECT_EQ(group.allocated, allocatedBytes(root() / "a.bin"));
  EXPECT_EQ(group.alreadyShared, 0);
  EXPECT_FALSE(group.inCodeBundle);
  EXPECT_EQ(group.savings(), group.allocated);

  // Files that differ early were read only at their edges.
  EXPECT_EQ(finder.bytesRead().quickCheck, 4u * 131072 + 2u * 65536);
  EXPECT_EQ(finder.bytesRead().hashing, 3u * 200000 + 2u * 100000);
  EXPECT_EQ(finder.progress(), (DuplicateFinder::Progress{"hashing", 5, 5}));
}

TEST_F(DuplicateFinderOnDisk, MinimumSizeIsAboutBytesAndZeroThreadsStillWork) {
  const std::string under = patternedBytes(65535, 3);
  putFile(root() / "under1", under);
  putFile(root() / "under2", under);
  const std::string at = patternedBytes(65536, 4);
  putFile(root() / "at1", at);
  putFile(root() / "at2", at);

  DuplicateFinder::Options options;
  options.threads = 0;
  const auto groups = findBelow(root(), options);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].paths, (Paths{str(root() / "at1"), str(root() / "at2")}));

  options.minimumSize = 1000;
  EXPECT_EQ(findBelow(root(), options).size(), 2u);
}

TEST_F(DuplicateFinderOnDisk, FilesThatCannotBeReplacedNeverAppear) {
  const std::string bytes = patternedBytes(100000, 5);
  putFile(root() / "keep.bin", bytes);
  // Hard link whose other name lies outside the searched folder, so the tree cannot know.
  putFile(outside() / "other-name", bytes);
  fs::create_hard_link(outside() / "other-name", root() / "linked.bin");
  // Only root can give a file away.
  if (::geteuid() == 0) {
    putFile(root() / "foreign.bin", bytes);
    ASSERT_EQ(::chown((root() / "foreign.bin").c_str(), 12345, 12345), 0);
  }
  fs::create_symlink(root() / "keep.bin", root() / "symlink.bin");
  for (const char* name : {"error.bin", "dataless.bin", "zero.bin"}) putFile(root() / name, bytes);
  const std::string other = patternedBytes(100000, 6);
  putFile(root() / "control1", other);
  putFile(root() / "control2", other);

  const std::uint64_t size = allocatedBytes(root() / "keep.bin");
  const auto adjust = [&](const fs::path& path, std::uint64_t& recorded, std::uint8_t& flags) {
    const auto name = path.filename();
    // The tree takes the link for a file of the same size: the disk check must catch it.
    if (name == "symlink.bin") {
      flags &= ~EntryFlags::symlink;
      recorded = size;
    }
    if (name == "error.bin") flags |= EntryFlags::error;
    if (name == "dataless.bin") flags |= EntryFlags::dataless;
    if (name == "zero.bin") recorded = 0;  // e.g. a clone counted once already
  };
  const auto groups = findBelow(root(), {}, adjust);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].paths, (Paths{str(root() / "control1"), str(root() / "control2")}));
}

TEST_F(DuplicateFinderOnBtrfs, IdenticalFilesOnTwoDevicesAreNeverGrouped) {
  // The image's own folder lies on the temporary folder's file system, the tree below it on
  // the image.
  const fs::path outer = image_->mountPoint().parent_path();
  struct stat a, b;
  ASSERT_EQ(::stat(outer.c_str(), &a), 0);
  ASSERT_EQ(::stat(root().c_str(), &b), 0);
  if (a.st_dev == b.st_dev) GTEST_SKIP() << "the temporary folder is on the image's device";
  const std::string bytes = patternedBytes(100000, 7);
  putFile(outer / "near1", bytes);
  putFile(outer / "near2", bytes);
  putFile(root() / "far1", bytes);
  putFile(root() / "far2", bytes);

  const auto groups = findBelow(outer);
  ASSERT_EQ(groups.size(), 2u);
  std::vector<Paths> found = {groups[0].paths, groups[1].paths};
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found[0], (Paths{str(root() / "far1"), str(root() / "far2")}));
  EXPECT_EQ(found[1], (Paths{str(outer / "near1"), str(outer / "near2")}));
}

TEST_F(DuplicateFinderOnBtrfs, CopiesThatAlreadyShareStorageFreeNothing) {
  const std::string bytes = patternedBytes(300000, 8);
  putFile(root() / "a.bin", bytes);
  ASSERT_TRUE(reflinkCopy(root() / "a.bin", root() / "b.bin"));
  EXPECT_TRUE(findBelow(root()).empty());

  putFile(root() / "c.bin", bytes);
  const auto groups = findBelow(root());
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].paths, (Paths{str(root() / "a.bin"), str(root() / "b.bin"), str(root() / "c.bin")}));
  EXPECT_EQ(groups[0].alreadyShared, 1);
  EXPECT_EQ(groups[0].savings(), groups[0].allocated);
}

TEST(DuplicateFinder, FoldersThatAreNeverSearched) {
  ScopedHome home;
  const fs::path root = home.path();
  const std::vector<std::string> pairs = {
      "proj/DerivedData",         "x/Caches",         ".cache",      "Library/CloudStorage/Box", "Dropbox",
      ".local/share/Trash/files", "disk/.Trash-1000", "plain/folder"};
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const std::string bytes = patternedBytes(70000, std::uint32_t(100 + k));
    putFile(root / pairs[k] / "one", bytes);
    putFile(root / pairs[k] / "two", bytes);
  }
  auto foldersOf = [&](const std::vector<DuplicateFinder::Group>& groups) {
    std::vector<std::string> folders;
    for (const auto& group : groups)
      folders.push_back(fs::path(group.paths[0]).parent_path().lexically_relative(root));
    std::sort(folders.begin(), folders.end());
    return folders;
  };
  EXPECT_EQ(foldersOf(findBelow(root)), (Paths{"plain/folder"}));

  DuplicateFinder::Options options;
  options.excludeSyncFolders = false;
  EXPECT_EQ(foldersOf(findBelow(root, options)),
            (Paths{"Dropbox", "Library/CloudStorage/Box", "plain/folder"}));
}

TEST(DuplicateFinder, CodeBundlesAreSearchedButNeverKept) {
  TempDir dir;
  const std::string tool = patternedBytes(70000, 9);
  putFile(dir / "Tool.app/t", tool);
  putFile(dir / "a/much/longer/path/to/t", tool);
  const std::string library = patternedBytes(80000, 10);
  putFile(dir / "One.framework/Versions/lib", library);
  putFile(dir / "Two.BUNDLE/lib", library);

  const auto groups = findBelow(dir.path());
  ASSERT_EQ(groups.size(), 2u);
  const auto& inside = groups[0].length == 80000 ? groups[0] : groups[1];
  const auto& mixed = groups[0].length == 80000 ? groups[1] : groups[0];
  EXPECT_EQ(mixed.paths, (Paths{str(dir / "a/much/longer/path/to/t"), str(dir / "Tool.app/t")}));
  EXPECT_FALSE(mixed.inCodeBundle);
  EXPECT_TRUE(inside.inCodeBundle);

  DuplicateFinder::Options options;
  options.excludeCodeBundles = true;
  EXPECT_TRUE(findBelow(dir.path(), options).empty());
}

TEST(DuplicateFinder, FolderVerdicts) {
  DuplicateFinder finder(snapshotOfFolder(TempDir().path()), DiskTree::root);
  using V = DuplicateFinder::Verdict;
  EXPECT_EQ(finder.verdict("/x/Caches", "Caches", false), V::skip);
  EXPECT_EQ(finder.verdict("/x/caches", "caches", false), V::descend);  // exact names only
  EXPECT_EQ(finder.verdict("/x/Mail.APP", "Mail.APP", false), V::descendInCode);
  EXPECT_EQ(finder.verdict("/x/Mail.app/Contents", "Contents", true), V::descendInCode);
  EXPECT_EQ(finder.verdict("/x/photos.2024", "photos.2024", false), V::descend);
  EXPECT_EQ(finder.verdict("/x/.app", ".app", false), V::descend);
}

TEST(DuplicateFinder, GroupsEncodeUnderTheirKeys) {
  DuplicateFinder::Group group{100, 4096, std::string(64, 'a'), {"/k", "/d"}, 1, true};
  const nlohmann::json json = group;
  EXPECT_EQ(json.at("length"), 100);
  EXPECT_EQ(json.at("allocated"), 4096);
  EXPECT_EQ(json.at("paths"), nlohmann::json({"/k", "/d"}));
  EXPECT_EQ(json.at("alreadyShared"), 1);
  EXPECT_EQ(json.at("inCodeBundle"), true);
  EXPECT_EQ(json.get<DuplicateFinder::Group>(), group);
  EXPECT_EQ(group.savings(), 0u);  // the only extra copy already shares
}

namespace {

// A snapshot whose every folder claims as children all the entries after it: a chain of
// folders d1/d2/.../d40 whose last holds two identical files. Walking the claimed ranges
// instead of the true children takes 2^40 steps.
DiskTreePtr overlappingTree(const fs::path& root) {
  constexpr int folders = 40;
  TreeColumns c;
  auto add = [&](std::int32_t parent, const std::string& name, std::uint64_t size, std::uint8_t flags) {
    if (c.nameOffset.empty()) c.nameOffset.push_back(0);
    c.parent.push_back(parent);
    c.size.push_back(size);
    c.mtime.push_back(0);
    c.entryCount.push_back(1);
    c.flags.push_back(flags);
    c.names.insert(c.names.end(), name.begin(), name.end());
    c.nameOffset.push_back(std::uint32_t(c.names.size()));
  };
  add(-1, "", 0, EntryFlags::directory);
  for (int k = 1; k <= folders; ++k) add(k - 1, "d" + std::to_string(k), 0, EntryFlags::directory);
  add(folders, "f1", 100000, 0);
  add(folders, "f2", 100000, 0);
  const auto n = std::uint32_t(c.parent.size());
  for (std::uint32_t k = 0; k < n; ++k) {
    const bool folder = c.flags[k] & EntryFlags::directory;
    c.childStart.push_back(folder ? k + 1 : n);
    c.childCount.push_back(folder ? n - k - 1 : 0);
  }
  return SnapshotFile::inMemory(c, {root.string(), {}, 0});
}

}  // namespace

TEST(DuplicateFinder, HostileSnapshotsEndSoonAndStayInsideTheirFolder) {
  TempDir dir;
  fs::path deepest = dir.path();
  for (int k = 1; k <= 40; ++k) deepest /= "d" + std::to_string(k);
  const std::string bytes = patternedBytes(100000, 11);
  putFile(deepest / "f1", bytes);
  putFile(deepest / "f2", bytes);
  const auto groups = DuplicateFinder(overlappingTree(dir.path()), DiskTree::root).run();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].paths, (Paths{str(deepest / "f1"), str(deepest / "f2")}));

  // The root's children of an "all roots" tree name whole paths; one that climbs out of
  // where it claims to be is not followed, at the top or below it.
  putFile(dir / "outside" / "a", bytes);
  putFile(dir / "outside" / "b", bytes);
  auto treeWithTop = [&](const std::string& top) {
    return SnapshotFile::inMemory(columnsOf({{-1, ""}, {0, top}, {1, "a", 100000}, {1, "b", 100000}}),
                                  {"/", {}, 0});
  };
  const std::string climbing = str(dir / "inside" / ".." / "outside");
  EXPECT_EQ(DuplicateFinder(treeWithTop(str(dir / "outside")), DiskTree::root).run().size(), 1u);
  EXPECT_TRUE(DuplicateFinder(treeWithTop(climbing), DiskTree::root).run().empty());
  EXPECT_TRUE(DuplicateFinder(treeWithTop(climbing), 1).run().empty());
  EXPECT_TRUE(DuplicateFinder(treeWithTop("/../../" + str(dir / "outside")), DiskTree::root).run().empty());
}

TEST(DuplicateFinder, CancelledSearchFindsNothingAndThreadsAreBounded) {
  TempDir dir;
  const std::string bytes = patternedBytes(100000, 12);
  putFile(dir / "a", bytes);
  putFile(dir / "b", bytes);
  DuplicateFinder::Options options;
  options.threads = 1'000'000;
  DuplicateFinder finder(snapshotOfFolder(dir.path()), DiskTree::root, options);
  DuplicateFinder cancelled(snapshotOfFolder(dir.path()), DiskTree::root, options);
  cancelled.cancel();
  EXPECT_TRUE(cancelled.run().empty());
  EXPECT_EQ(finder.run().size(), 1u);
}

// A chain of 200,000 folders with long names, each beside an empty folder, and two copies
// in a folder of their own. The search costs what the entries cost, whatever the depth:
// building each entry's path afresh from its folder's would copy up to 50 MB per entry here.
TEST(DuplicateFinder, AChainDeeperThanAnyPathEndsSoon) {
  TempDir dir;
  const std::string bytes = patternedBytes(100000, 13);
  putFile(dir / "f" / "copy1", bytes);
  putFile(dir / "f" / "copy2", bytes);
  constexpr std::uint32_t depth = 200000;
  const std::string longName(250, 'c');
  TreeColumns c;
  c.nameOffset.push_back(0);
  c.names.reserve(depth * (longName.size() + 1) + 16);
  auto add = [&](std::int32_t parent, const std::string& name, std::uint64_t size, std::uint8_t flags,
                 std::uint32_t childStart, std::uint32_t childCount) {
    c.parent.push_back(parent);
    c.size.push_back(size);
    c.mtime.push_back(0);
    c.entryCount.push_back(1);
    c.flags.push_back(flags);
    c.childStart.push_back(childStart);
    c.childCount.push_back(childCount);
    c.names.insert(c.names.end(), name.begin(), name.end());
    c.nameOffset.push_back(std::uint32_t(c.names.size()));
  };
  // Ids: the root 0; "f" 1; level L of the chain 2L + 2 and its empty neighbour 2L + 3; the
  // two copies last.
  const std::uint32_t files = 2 * depth + 2;
  add(-1, "", 0, EntryFlags::directory, 1, 3);
  add(0, "f", 0, EntryFlags::directory, files, 2);
  for (std::uint32_t level = 0; level < depth; ++level) {
    const std::int32_t parent = level == 0 ? 0 : std::int32_t(2 * level);
    const bool last = level + 1 == depth;
    add(parent, longName, 0, EntryFlags::directory, last ? files + 2 : 2 * level + 4, last ? 0 : 2);
    add(parent, "e", 0, EntryFlags::directory, files + 2, 0);
  }
  add(1, "copy1", 100000, 0, files + 2, 0);
  add(1, "copy2", 100000, 0, files + 2, 0);
  const auto tree = SnapshotFile::inMemory(c, {dir.path().string(), {}, 0});

  const auto started = std::chrono::steady_clock::now();
  const auto groups = DuplicateFinder(tree, DiskTree::root).run();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].paths, (Paths{str(dir / "f" / "copy1"), str(dir / "f" / "copy2")}));
  // Only a guard against a hang: the search takes well under a second.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));
}
