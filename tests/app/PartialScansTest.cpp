// Growing a snapshot from its window: rescans, additions and the rest of a partial folder
// are merged into a new snapshot that opens in place of the old window, and the folders
// around the root are browsed straight from the disk.
#include "FolderSnapshot.h"
#include "ModelTestSupport.h"
#include "model/BrowserCommands.h"
#include "model/DocumentController.h"
#include "model/OutsideModel.h"
#include "model/PartialScans.h"
#include "model/PlaceStore.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <gtest/gtest.h>

using namespace tallyfox;
using testsupport::idOf;
using testsupport::waitFor;

namespace {

namespace fs = std::filesystem;
using Relation = OutsideEntry::Relation;

std::vector<std::string> namesOf(const std::vector<OutsideEntry>& entries) {
  std::vector<std::string> names;
  for (const OutsideEntry& e : entries) names.push_back(e.name);
  return names;
}

class PartialScansTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base = home.path() / "base";
    project = base / "project";
    testsupport::writeFile(project / "src" / "main.c", std::string(5000, 'm'));
    testsupport::writeFile(project / "docs" / "guide.txt", std::string(9000, 'g'));
    testsupport::writeFile(project / "README", "readme");
    testsupport::writeFile(base / "other" / "notes.txt", std::string(3000, 'n'));
    testsupport::writeFile(base / "loose.bin", std::string(20000, 'l'));
  }

  // A whole scan of `root` written into the snapshots folder, opened as a document.
  BrowserModel* openScanOf(const fs::path& root, const ScanOptions& options = {}) {
    const fs::path file = settings.snapshotsFolder() / ("start-" + std::to_string(++scans) + ".tfsnap");
    fs::create_directories(file.parent_path());
    const DiskTreePtr tree = testsupport::scanFolder(root, options);
    SnapshotFile::Info info{root.string(), std::chrono::system_clock::now() - std::chrono::hours(1), 0.1};
    // Through the merge's copy of the whole tree: the in-memory tree has no columns of its own.
    SnapshotFile::write(SnapshotMerge::replace(DiskTree::root, *tree, *tree).columns, info, file);
    BrowserModel* browser = documents.openDocument(file);
    EXPECT_TRUE(waitFor([&] { return browser->state().isReady(); }));
    return browser;
  }

  // Waits for the window that replaces `old` after a partial scan; null when it fails.
  BrowserModel* replacement(BrowserModel* old) {
    const auto file = old->fileURL();
    if (!waitFor([&] { return documents.browsers().size() == 1 && documents.browsers().front() != old; }))
      return nullptr;
    BrowserModel* next = documents.browsers().front();
    EXPECT_TRUE(waitFor([&] { return next->state().isReady(); }));
    EXPECT_TRUE(fs::exists(*file));  // the old snapshot is kept as it was
    return next;
  }

  testsupport::ScopedHome home;
  Settings settings{Preferences::standard()};
  std::shared_ptr<PlaceStore> places = std::make_shared<PreferencesPlaceStore>(Preferences::standard());
  DocumentController documents{settings, {}, places};
  fs::path base, project;
  int scans = 0;
};

TEST_F(PartialScansTest, TheOutsideListingMarksTheSnapshotAndSortsLikeAFileManager) {
  testsupport::writeFile(base / "file10", std::string(100, 'x'));
  testsupport::writeFile(base / "file2", std::string(100, 'x'));
  fs::create_symlink(project, base / "link-to-project");
  const auto entries = OutsideModel::list(base.string(), project.string());
  // The root first, then folders, then files larger first and by natural name order; a
  // symbolic link to a folder is a file here.
  EXPECT_EQ(namesOf(entries), (std::vector<std::string>{"project", "other", "loose.bin", "file2", "file10",
                                                        "link-to-project"}));
  EXPECT_EQ(entries[0].relation, Relation::scannedRoot);
  EXPECT_EQ(entries[0].path, project.string());
  EXPECT_EQ(entries[1].relation, Relation::notScanned);
  EXPECT_FALSE(entries[1].fileSize.has_value());
  EXPECT_GE(*entries[2].fileSize, 20000u);

  const auto above = OutsideModel::list(home.path().string(), project.string());
  ASSERT_FALSE(above.empty());
  EXPECT_EQ(above[0].name, "base");
  EXPECT_EQ(above[0].relation, Relation::containsScan);
  EXPECT_TRUE(OutsideModel::list((base / "missing").string(), project.string()).empty());

  EXPECT_EQ(OutsideModel::commonAncestor("/a/b/c", "/a/b/d/e"), "/a/b");
  EXPECT_EQ(OutsideModel::commonAncestor("/a//b/", "/a/b"), "/a/b");
  EXPECT_EQ(OutsideModel::commonAncestor("/x", "/y"), "/");
  EXPECT_EQ(OutsideModel::parentOf("/a/b"), "/a");
  EXPECT_EQ(OutsideModel::parentOf("/a"), "/");
  EXPECT_EQ(OutsideModel::parentOf("/"), "/");
}

TEST_F(PartialScansTest, GoingUpFromTheRootLeavesTheSnapshotAndBackReturns) {
  testsupport::RecordingDesktop desktop;
  testsupport::writeFile(project / "more" / "x", "x");  // two folders: the root is shown
  BrowserModel* opened = openScanOf(project);
  BrowserModel browser(opened->fileURL(), Services(desktop.desktop()));
  browser.load();
  testsupport::waitUntilLoaded(browser);
  OutsideModel& outside = browser.outside();
  ASSERT_EQ(browser.current(), DiskTree::root);
  EXPECT_TRUE(browser.canGoUp());
  const auto ancestors = outside.outsideAncestors();
  ASSERT_GE(ancestors.size(), 2u);
  EXPECT_EQ(ancestors.front(), "/");
  EXPECT_EQ(ancestors.back(), base.string());

  browser.goUp();
  ASSERT_EQ(outside.outsidePath(), base.string());
  EXPECT_EQ(browser.windowTitle(), "base");
  EXPECT_TRUE(browser.windowSubtitle().startsWith("Outside the snapshot from "));
  // The snapshot's own folder is selected once the listing has arrived.
  ASSERT_TRUE(waitFor([&] { return !outside.outsideEntries().empty(); }));
  EXPECT_EQ(outside.outsideSelection(), project.string());
  outside.moveOutside(1);
  EXPECT_EQ(outside.outsideSelection(), (base / "other").string());
  outside.moveOutside(100);
  EXPECT_EQ(outside.outsideSelection(), outside.outsideEntries().back().path);
  // A folder that is not scanned is selected, not entered; a file does nothing.
  outside.openOutside(outside.outsideEntries()[1]);
  EXPECT_EQ(outside.outsidePath(), base.string());

  browser.goUp();  // Escape outside goes on up, the folder left selected
  EXPECT_EQ(outside.outsidePath(), home.path().string());
  EXPECT_EQ(outside.outsideSelection(), base.string());
  browser.goBack();
  EXPECT_FALSE(outside.isShown());
  EXPECT_EQ(browser.current(), DiskTree::root);

  // At "/" there is nowhere further up.
  outside.showOutside("/");
  EXPECT_FALSE(browser.canGoUp());
  browser.goUp();
  EXPECT_EQ(desktop.state->beeps, 1);
  EXPECT_EQ(outside.outsidePath(), "/");
  // The root's own entry goes back inside; so does moving anywhere in the snapshot.
  outside.showOutside(base.string());
  ASSERT_TRUE(waitFor([&] { return !outside.outsideEntries().empty(); }));
  outside.openOutside(outside.outsideEntries().front());
  EXPECT_FALSE(outside.isShown());
  EXPECT_EQ(browser.current(), DiskTree::root);
  outside.showOutside(base.string());
  browser.navigate(idOf(browser, "src"));
  EXPECT_FALSE(outside.isShown());
}

TEST_F(PartialScansTest, RescanningAFolderOpensTheNewSnapshotWhereTheWindowWas) {
  BrowserModel* old = openScanOf(project);
  const fs::path oldFile = *old->fileURL();
  const auto oldBytes = testsupport::readBytes(oldFile);
  const DiskTreePtr oldTree = old->tree();
  const NodeId src = idOf(*old, "src");
  const NodeId docs = idOf(*old, "docs");
  old->navigate(src, idOf(*old, "main.c"));
  testsupport::writeFile(project / "src" / "added.c", std::string(70000, 'a'));

  // A file is not rescanned; a folder is, once.
  old->partialScans().rescanFolder(idOf(*old, "README"));
  EXPECT_FALSE(old->partialScans().isRunning());
  ASSERT_TRUE(BrowserCommands::run(*BrowserCommands::find("rescan"), *old));
  EXPECT_EQ(old->partialScans().addingScanPath(), project.string() + "/src");
  old->partialScans().scanAndAdd((base / "other").string());  // one at a time
  // Its speed changes the running scan at once.
  ASSERT_NE(old->partialScans().addingScanner(), nullptr);
  old->partialScans().setAddingScanSpeed(ScanSpeed::gentle);
  EXPECT_EQ(old->partialScans().addingScanner()->speed(), ScanSpeed::gentle);
  EXPECT_EQ(old->partialScans().addingScanPath(), project.string() + "/src");
  EXPECT_FALSE(BrowserCommands::find("rescan")->isEnabled(*old));

  BrowserModel* next = replacement(old);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(testsupport::readBytes(oldFile), oldBytes);
  EXPECT_EQ(next->fileURL()->parent_path(), settings.snapshotsFolder());
  EXPECT_EQ(next->tree()->rootPath(), project.string());
  EXPECT_EQ(next->tree()->name(next->current()), "src");
  ASSERT_TRUE(next->selection());
  EXPECT_EQ(next->tree()->name(*next->selection()), "main.c");
  // The new file is there, and the totals above it include it.
  EXPECT_GT(next->tree()->sizeOf(next->current()), oldTree->sizeOf(src) + 60000);
  EXPECT_GT(next->tree()->sizeOf(DiskTree::root), oldTree->sizeOf(DiskTree::root) + 60000);
  EXPECT_EQ(next->tree()->sizeOf(idOf(*next, "docs")), oldTree->sizeOf(docs));
}

TEST_F(PartialScansTest, RescanningTheRootOrAVanishedFolder) {
  BrowserModel* old = openScanOf(project);
  // A folder renamed since the scan cannot be rescanned: the window stays, with the error.
  fs::rename(project / "docs", project / "documents");
  old->partialScans().rescanFolder(idOf(*old, "docs"));
  ASSERT_TRUE(waitFor([&] { return !old->partialScans().isRunning(); }));
  ASSERT_TRUE(old->partialScans().addingScanError().has_value());
  EXPECT_FALSE(old->partialScans().addingScanError()->isEmpty());
  EXPECT_EQ(documents.browsers(), std::vector<BrowserModel*>{old});

  // A snapshots folder the result could not be saved in is reported before anything is scanned.
  const fs::path folder = settings.snapshotsFolder();
  testsupport::writeFile(home.path() / "plain-file", "x");
  Preferences::standard()->set(Preferences::snapshotsFolderKey, (home.path() / "plain-file" / "s").string());
  old->partialScans().rescanFolder(DiskTree::root);
  EXPECT_FALSE(old->partialScans().isRunning());
  ASSERT_TRUE(old->partialScans().addingScanError().has_value());
  EXPECT_TRUE(old->partialScans().addingScanError()->startsWith("snapshots folder "));
  Preferences::standard()->set(Preferences::snapshotsFolderKey, folder.string());

  // The next scan clears the error; rescanning the root takes the renamed folder in.
  old->partialScans().rescanFolder(DiskTree::root);
  EXPECT_FALSE(old->partialScans().addingScanError().has_value());
  BrowserModel* next = replacement(old);
  ASSERT_NE(next, nullptr);
  EXPECT_GT(idOf(*next, "documents"), 0);
  EXPECT_EQ(next->tree()->rootPath(), project.string());
}

TEST_F(PartialScansTest, AddingASiblingAFolderLeftOutAndTheRestOfAPartialFolder) {
  testsupport::writeFile(base / "third" / "t.txt", std::string(4000, 't'));
  BrowserModel* first = openScanOf(project);
  // A folder the snapshot holds already is not added twice; the merge says why.
  first->partialScans().scanAndAdd((project / "docs").string());
  ASSERT_TRUE(waitFor([&] { return !first->partialScans().isRunning(); }));
  ASSERT_TRUE(first->partialScans().addingScanError().has_value());
  EXPECT_TRUE(first->partialScans().addingScanError()->contains("already in this snapshot"));

  // A sibling: the new snapshot is rooted at the common parent, which is only partly
  // scanned, and opens at the parent with the added folder selected.
  first->partialScans().scanAndAdd((base / "other").string());
  BrowserModel* second = replacement(first);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->tree()->rootPath(), base.string());
  EXPECT_TRUE(second->tree()->isPartial(DiskTree::root));
  EXPECT_EQ(second->current(), DiskTree::root);
  ASSERT_TRUE(second->selection());
  EXPECT_EQ(second->tree()->name(*second->selection()), "other");

  // What that partial folder lacks is listed from the disk, folders first.
  OutsideModel& outside = second->outside();
  ASSERT_TRUE(waitFor([&] { return !outside.unscannedEntries().empty(); }));
  EXPECT_EQ(namesOf(outside.unscannedEntries()), (std::vector<std::string>{"third", "loose.bin"}));
  EXPECT_EQ(outside.unscannedEntries()[0].relation, Relation::notScanned);

  // A folder left out below the root is added under the same root.
  second->partialScans().scanAndAdd((base / "third").string());
  BrowserModel* third = replacement(second);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->tree()->rootPath(), base.string());
  EXPECT_GT(third->tree()->sizeOf(idOf(*third, "third")), 3000u);
  ASSERT_TRUE(waitFor([&] { return third->outside().unscannedEntries().size() == 1; }));

  // Scanning the rest adds what is still missing and keeps what was there.
  const std::uint64_t projectSize = third->tree()->sizeOf(idOf(*third, "project"));
  third->partialScans().scanRest(DiskTree::root);
  BrowserModel* fourth = replacement(third);
  ASSERT_NE(fourth, nullptr);
  EXPECT_EQ(fourth->tree()->childCount(DiskTree::root), 4);
  EXPECT_GT(fourth->tree()->sizeOf(idOf(*fourth, "loose.bin")), 0u);
  EXPECT_EQ(fourth->tree()->sizeOf(idOf(*fourth, "project")), projectSize);
}

TEST_F(PartialScansTest, FromTheOutsideViewTheRestOrTheWholeFolder) {
  testsupport::writeFile(project / "more" / "x", "x");
  BrowserModel* first = openScanOf(project);
  first->goUp();
  ASSERT_EQ(first->outside().outsidePath(), base.string());
  const std::uint64_t projectSize = first->tree()->sizeOf(DiskTree::root);
  first->partialScans().scanRestOfOutside();
  BrowserModel* second = replacement(first);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->tree()->rootPath(), base.string());
  EXPECT_EQ(second->tree()->childCount(DiskTree::root), 3);  // project, other, loose.bin
  EXPECT_EQ(second->tree()->sizeOf(idOf(*second, "project")), projectSize);

  // The rescan command outside rescans the whole outside folder.
  testsupport::writeFile(home.path() / "beside.txt", "beside");
  second->goUp();
  ASSERT_EQ(second->outside().outsidePath(), home.path().string());
  ASSERT_TRUE(BrowserCommands::run(*BrowserCommands::find("rescan"), *second));
  EXPECT_EQ(second->partialScans().addingScanPath(), home.path().string());
  BrowserModel* third = replacement(second);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->tree()->rootPath(), home.path().string());
  EXPECT_FALSE(third->tree()->isPartial(DiskTree::root));
  EXPECT_GT(idOf(*third, "beside.txt"), 0);
}

}  // namespace
