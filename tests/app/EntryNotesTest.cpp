#include "FolderSnapshot.h"
#include "TestSupport.h"
#include "model/EntryNotes.h"

#include <tallyfox/SnapshotFile.h>
#include <tallyfox/TreeColumns.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using tallyfox::EntryNotes::Kind;
using tallyfox::EntryNotes::kindOf;
using tallyfox::EntryNotes::tooltip;
namespace flags = tallyfox::EntryFlags;

tallyfox::NodeId childNamed(const tallyfox::DiskTree& tree, tallyfox::NodeId folder,
                            const std::string& name) {
  for (tallyfox::NodeId child : tree.children(folder))
    if (tree.name(child) == name) return child;
  ADD_FAILURE() << "no " << name;
  return -1;
}

TEST(EntryNotesTest, LinksFromARealScanNameTheirTargetWhileTheyExist) {
  testsupport::TempDir dir;
  const std::filesystem::path root = dir / "scanned";
  testsupport::writeFile(root / "data" / "file", std::string(5000, 'x'));
  std::filesystem::create_symlink("data/file", root / "link");
  std::filesystem::create_symlink("data", root / "folder-link");
  std::filesystem::create_symlink("/nowhere/at/all", root / "dangling");
  const auto tree = testsupport::scanFolder(root);
  ASSERT_TRUE(tree);
  const auto node = [&](const std::string& name) {
    return childNamed(*tree, tallyfox::DiskTree::root, name);
  };

  EXPECT_EQ(kindOf(*tree, node("link")), Kind::symlink);
  // A link to a folder is a link, never followed into.
  EXPECT_EQ(kindOf(*tree, node("folder-link")), Kind::symlink);
  EXPECT_EQ(kindOf(*tree, node("data")), Kind::folder);
  EXPECT_EQ(kindOf(*tree, childNamed(*tree, node("data"), "file")), Kind::file);

  EXPECT_EQ(tooltip(*tree, node("link")), QStringLiteral("Link to data/file"));
  EXPECT_EQ(tooltip(*tree, node("folder-link")), QStringLiteral("Link to data"));
  EXPECT_EQ(tooltip(*tree, node("dangling")), QStringLiteral("Link to /nowhere/at/all"));
  EXPECT_EQ(tooltip(*tree, node("data")), QString());

  // The snapshot outlives the link: the tooltip says it can no longer tell.
  std::filesystem::remove(root / "link");
  EXPECT_TRUE(tooltip(*tree, node("link")).startsWith(QStringLiteral("Symbolic link;")));
}

TEST(EntryNotesTest, FoldersNotEnteredSayWhyTheyLookEmpty) {
  testsupport::TempDir dir;
  const std::filesystem::path root = dir / "scanned";
  testsupport::writeFile(root / "node_modules" / "big", std::string(5000, 'x'));
  testsupport::writeFile(root / "kept" / "small", "x");
  const auto tree = testsupport::scanFolder(root, tallyfox::ScanOptions(1, true, {}, {"node_modules"}));
  ASSERT_TRUE(tree);
  const auto skipped = childNamed(*tree, tallyfox::DiskTree::root, "node_modules");
  ASSERT_TRUE(tree->wasSkipped(skipped));
  EXPECT_EQ(kindOf(*tree, skipped), Kind::notScanned);
  EXPECT_EQ(kindOf(*tree, childNamed(*tree, tallyfox::DiskTree::root, "kept")), Kind::folder);
  // On the scanned folder's own file system: the scan's settings left it out.
  EXPECT_EQ(tooltip(*tree, skipped), QStringLiteral("Left out by the scan (an ignored folder), not scanned"));

  // A whole-disk snapshot of this machine: /proc is a file system of its own. A cloud folder
  // that was not entered is told apart by its own mark, and a folder that is gone cannot
  // say why.
  const auto disk = tallyfox::SnapshotFile::inMemory(
      testsupport::columnsOf(
          {{-1, ""},
           {0, "proc", 0, std::uint8_t(flags::directory | flags::notDescended)},
           {0, "cloud", 0, std::uint8_t(flags::directory | flags::notDescended | flags::dataless)},
           {0, "tallyfox-gone", 0, std::uint8_t(flags::directory | flags::notDescended)}}),
      {"/", {}, 0});
  EXPECT_EQ(tooltip(*disk, 1), QStringLiteral("Another file system, not scanned"));
  EXPECT_EQ(kindOf(*disk, 2), Kind::folder);
  EXPECT_EQ(tooltip(*disk, 3), QStringLiteral("Not scanned"));
  // The chart's centre counts them for the folder shown.
  EXPECT_EQ(tallyfox::EntryNotes::notScannedChildren(*disk, 0), (std::vector<tallyfox::NodeId>{1, 3}));
  EXPECT_EQ(tallyfox::EntryNotes::notScannedChildren(*tree, 0), std::vector<tallyfox::NodeId>{skipped});
}

}  // namespace
