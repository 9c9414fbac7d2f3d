#include "BtrfsImage.h"
#include "CloneFixtures.h"
#include "FolderSnapshot.h"
#include "ModelTestSupport.h"
#include "Subprocess.h"
#include "model/BrowserCommands.h"
#include "model/DeleteList.h"
#include "model/DocumentController.h"
#include "model/Duplicates.h"
#include "model/Format.h"
#include "model/Settings.h"

#include <tallyfox/CloneReplacer.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotPaths.h>

#include <gtest/gtest.h>

#include <QThreadPool>

#include <fstream>

using namespace tallyfox;
using testsupport::patternedBytes;
using testsupport::putFile;
using testsupport::waitFor;
namespace fs = std::filesystem;

namespace {

int lineCount(const fs::path& file) {
  std::ifstream in(file);
  int lines = 0;
  for (std::string line; std::getline(in, line);) ++lines;
  return lines;
}

// A folder of duplicates, its snapshot (sizes as lstat gives them, so an existing clone is
// still listed at full size) and a window model on it whose clone log goes to a folder of
// its own:
//   a1, sub/a2, sub/a3   three copies of 200 kB
//   b1, b2               two copies of 100 kB
//   Tool.app/x1, x2      two copies inside a code bundle
class DuplicatesFixture {
 public:
  void build(const fs::path& folder) {
    root = folder / "dups";
    putFile(root / "a1", patternedBytes(200000, 1));
    putFile(root / "sub/a2", patternedBytes(200000, 1));
    putFile(root / "sub/a3", patternedBytes(200000, 1));
    putFile(root / "b1", patternedBytes(100000, 2));
    putFile(root / "b2", patternedBytes(100000, 2));
    putFile(root / "Tool.app/x1", patternedBytes(80000, 3));
    putFile(root / "Tool.app/x2", patternedBytes(80000, 3));
    testsupport::syncFileSystem(root);
    const fs::path file = home.path() / "dups.tfsnap";
    testsupport::snapshotOfFolder(root)->write(file);
    Preferences store(home.path() / "preferences.json");
    store.set(Preferences::snapshotsFolderKey, (home.path() / "snapshots").string());
    settings = std::make_unique<Settings>(store);
    Services services;
    services.settings = settings.get();
    model = std::make_unique<BrowserModel>(file, services);
    model->load();
    testsupport::waitUntilLoaded(*model);
  }

  Duplicates& dupes() { return model->duplicates(); }
  DuplicatesState& state() { return *dupes().state(); }
  NodeId node(const std::string& relative) {
    return *SnapshotPaths::node((root / relative).string(), *model->tree());
  }
  std::uint64_t shownSize(const std::string& relative) {
    return model->overlay().size(node(relative), *model->tree());
  }
  // Searches the root folder and waits for the groups.
  void search() {
    dupes().findDuplicates(DiskTree::root);
    ASSERT_TRUE(dupes().isOpen());
    ASSERT_TRUE(waitFor([&] { return state().phase().kind != DuplicatesState::Phase::Kind::finding; }));
    ASSERT_EQ(state().phase().kind, DuplicatesState::Phase::Kind::ready)
        << state().phase().message.toStdString();
  }
  int groupWith(const std::string& relative) {
    const std::string path = (root / relative).string();
    const auto& groups = state().groups();
    for (int k = 0; k < int(groups.size()); ++k)
      for (const auto& p : groups[std::size_t(k)].paths)
        if (p == path) return k;
    return -1;
  }
  void applyAndWait() {
    dupes().applyDuplicates();
    ASSERT_TRUE(waitFor([&] { return !state().isApplying(); }));
  }
  fs::path cloneLog() { return home.path() / "snapshots" / CloneLog::fileName; }

  testsupport::TempDir home;
  fs::path root;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<BrowserModel> model;
};

class DuplicatesOnBtrfs : public ::testing::Test, public DuplicatesFixture {
 protected:
  void SetUp() override {
    std::string why;
    image_ = testsupport::BtrfsImage::create(why);
    if (!image_) GTEST_SKIP() << why;
    build(image_->mountPoint());
  }
  void TearDown() override {
    // Released before the file system goes.
    model.reset();
    QThreadPool::globalInstance()->waitForDone();
  }

 private:
  std::unique_ptr<testsupport::BtrfsImage> image_;
};

TEST_F(DuplicatesOnBtrfs, AllGroupsStartSelectedAndAppGroupsStayOutOfTotalsAndActions) {
  search();
  ASSERT_EQ(state().groups().size(), 3u);
  EXPECT_EQ(state().selected().size(), 3);
  EXPECT_TRUE(state().canShareStorage());
  const int app = groupWith("Tool.app/x1");
  ASSERT_GE(app, 0);
  EXPECT_TRUE(state().groups()[std::size_t(app)].inCodeBundle);

  // Hidden, still selected, but neither counted nor acted on.
  EXPECT_TRUE(state().selected().contains(app));
  EXPECT_EQ(state().visibleGroups().size(), 2u);
  EXPECT_EQ(state().selectedVisible().size(), 2u);
  std::uint64_t visibleSavings = 0;
  for (int k : state().visibleGroups()) visibleSavings += state().groups()[std::size_t(k)].savings();
  EXPECT_EQ(state().reclaimable(), visibleSavings);
  dupes().addDuplicateExtrasToDeleteList();
  EXPECT_FALSE(model->deleteList().isMarked(node("Tool.app/x2")));
  EXPECT_FALSE(model->deleteList().isMarked(node("Tool.app/x1")));

  state().setIncludeApps(true);
  EXPECT_EQ(state().selectedVisible().size(), 3u);
  EXPECT_GT(state().reclaimable(), visibleSavings);
  EXPECT_EQ(state().summary(),
            Format::bytes(state().reclaimable()) + QStringLiteral(" could be shared as clones · 3 selected"));
  EXPECT_EQ(state().title(), QStringLiteral("Duplicates in ") + QString::fromStdString(root.string()));
}

TEST_F(DuplicatesOnBtrfs, ExtrasGoOnTheDeleteListButNeverTheFirstCopy) {
  search();
  const int a = groupWith("a1");
  state().setSelected(groupWith("b1"), false);
  dupes().addDuplicateExtrasToDeleteList();
  const auto& paths = state().groups()[std::size_t(a)].paths;
  const auto marked = model->deleteList().markedOrder();
  EXPECT_EQ(marked.size(), paths.size() - 1);
  EXPECT_FALSE(model->deleteList().isMarked(*SnapshotPaths::node(paths.front(), *model->tree())));
  for (std::size_t k = 1; k < paths.size(); ++k)
    EXPECT_TRUE(model->deleteList().isMarked(*SnapshotPaths::node(paths[k], *model->tree())));
  EXPECT_FALSE(model->deleteList().isMarked(node("b2")));
  // Again: what is listed stays listed, nothing is taken off.
  dupes().addDuplicateExtrasToDeleteList();
  EXPECT_EQ(model->deleteList().markedOrder(), marked);
}

TEST_F(DuplicatesOnBtrfs, ReplacingFreesSpaceShrinksTheListAndLeavesDecidedGroupsAlone) {
  search();
  const int a = groupWith("a1"), b = groupWith("b1"), app = groupWith("Tool.app/x1");
  const std::uint64_t rootBefore = model->overlay().size(DiskTree::root, *model->tree());
  const auto aPaths = state().groups()[std::size_t(a)].paths;
  const auto bPaths = state().groups()[std::size_t(b)].paths;
  std::uint64_t extraSizes = 0;
  for (std::size_t k = 1; k < aPaths.size(); ++k)
    extraSizes += model->tree()->sizeOf(*SnapshotPaths::node(aPaths[k], *model->tree()));
  // Since the search, b's copy became a clone of its first copy (another tool did it).
  ASSERT_EQ(testsupport::runCommand({"cp", "--reflink=always", bPaths[0], bPaths[1]}), 0);
  testsupport::syncFileSystem(root);

  applyAndWait();

  ASSERT_TRUE(state().statusOf(a));
  EXPECT_EQ(state().statusOf(a)->kind, DuplicatesState::GroupStatus::Kind::replaced)
      << state().statusOf(a)->message.toStdString();
  EXPECT_GT(state().statusOf(a)->bytes, 0u);
  // Already sharing: nothing to free, but decided.
  ASSERT_TRUE(state().statusOf(b));
  EXPECT_EQ(*state().statusOf(b), DuplicatesState::GroupStatus::replaced(0));
  // Hidden: not touched.
  EXPECT_FALSE(state().statusOf(app));
  EXPECT_FALSE(testsupport::filefragSaysShared(root / "Tool.app/x2"));
  EXPECT_EQ(state().appliedCount(), 2);
  EXPECT_EQ(state().freed(), state().statusOf(a)->bytes);
  EXPECT_EQ(state().appliedLine().toStdString().substr(0, 17), "2 copies replaced");
  EXPECT_EQ(lineCount(cloneLog()), 2);
  for (std::size_t k = 1; k < aPaths.size(); ++k) EXPECT_TRUE(testsupport::filefragSaysShared(aPaths[k]));
  EXPECT_EQ(testsupport::sha256sumOf(aPaths[1]), testsupport::sha256sumOf(aPaths[0]));

  // The replaced copies still listed, at no size; every folder above them smaller by theirs.
  for (std::size_t k = 1; k < aPaths.size(); ++k)
    EXPECT_EQ(model->overlay().size(*SnapshotPaths::node(aPaths[k], *model->tree()), *model->tree()), 0u);
  EXPECT_GT(model->overlay().size(*SnapshotPaths::node(aPaths[0], *model->tree()), *model->tree()), 0u);
  EXPECT_EQ(model->overlay().size(DiskTree::root, *model->tree()), rootBefore - extraSizes);
  EXPECT_EQ(state().reclaimable(), 0u);

  // Decided groups drop out of the actions: a second run touches only the app group.
  EXPECT_EQ(state().selectedVisible(), std::vector<int>{});
  state().setSelected(a, false);
  state().setSelected(a, true);
  state().setIncludeApps(true);
  EXPECT_EQ(state().selectedVisible(), std::vector<int>{app});
  applyAndWait();
  EXPECT_EQ(state().statusOf(app)->kind, DuplicatesState::GroupStatus::Kind::replaced);
  EXPECT_EQ(state().appliedCount(), 3);
  EXPECT_EQ(state().freed(), state().statusOf(a)->bytes + state().statusOf(app)->bytes);
  EXPECT_EQ(lineCount(cloneLog()), 3);
}

TEST_F(DuplicatesOnBtrfs, AFailedCopyNamesItsFileAndTheOthersAreStillReplaced) {
  search();
  const int a = groupWith("a1");
  const auto paths = state().groups()[std::size_t(a)].paths;
  // A second name makes the last copy unsafe to replace; the copy before it is replaced.
  fs::create_hard_link(paths[2], root / "link");
  applyAndWait();
  const auto status = state().statusOf(a);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->kind, DuplicatesState::GroupStatus::Kind::failed);
  EXPECT_EQ(status->message,
            QString::fromStdString(fs::path(paths[2]).filename().string() + ": has hard links"));
  EXPECT_TRUE(testsupport::filefragSaysShared(paths[1]));
  EXPECT_GE(state().appliedCount(), 1);
}

// After the search the folder holding two copies became a link to a folder outside, with
// the same names and contents: that group is skipped at its first copy below the link, and
// nothing outside is shared. The other group is replaced as usual.
TEST_F(DuplicatesOnBtrfs, AFolderSwappedForALinkSkipsItsGroupAndNothingOutsideIsCloned) {
  search();
  const int a = groupWith("a1"), b = groupWith("b1");
  const fs::path outside = root.parent_path() / "outside";
  putFile(outside / "a2", patternedBytes(200000, 1));
  putFile(outside / "a3", patternedBytes(200000, 1));
  fs::rename(root / "sub", root / "sub_real");
  fs::create_symlink("../outside", root / "sub");
  applyAndWait();
  ASSERT_TRUE(state().statusOf(a));
  EXPECT_EQ(state().statusOf(a)->kind, DuplicatesState::GroupStatus::Kind::failed);
  EXPECT_EQ(state().statusOf(a)->message,
            QStringLiteral("a2: a folder on its path has become a link since the search"));
  EXPECT_EQ(state().statusOf(b)->kind, DuplicatesState::GroupStatus::Kind::replaced);
  for (const char* name : {"outside/a2", "outside/a3", "dups/sub_real/a2", "dups/sub_real/a3"})
    EXPECT_FALSE(testsupport::filefragSaysShared(root.parent_path() / name)) << name;
  EXPECT_EQ(lineCount(cloneLog()), 1);
}

// A link planted as the clone log: no group is replaced without its record.
TEST_F(DuplicatesOnBtrfs, ACloneLogThatCannotBeWrittenStopsEveryGroup) {
  search();
  fs::create_directories(cloneLog().parent_path());
  putFile(home.path() / "target", "precious");
  fs::create_symlink(home.path() / "target", cloneLog());
  applyAndWait();
  for (int k : {groupWith("a1"), groupWith("b1")}) {
    ASSERT_TRUE(state().statusOf(k));
    EXPECT_EQ(*state().statusOf(k), DuplicatesState::GroupStatus::failed(QStringLiteral(
                                        "Can't write the clone log: it is not a regular file")));
  }
  EXPECT_EQ(state().appliedCount(), 0);
  EXPECT_FALSE(testsupport::filefragSaysShared(root / "b2"));
  EXPECT_EQ(testsupport::readBytes(home.path() / "target").size(), 8u);
}

TEST_F(DuplicatesOnBtrfs, ClosingStopsTheSearchButTheWindowCountsAReplacementRun) {
  dupes().findDuplicates(DiskTree::root);
  EXPECT_TRUE(dupes().isBusy());
  EXPECT_FALSE(BrowserCommands::find("findDuplicates")->isEnabled(*model));
  dupes().close();
  EXPECT_FALSE(dupes().isOpen());
  EXPECT_FALSE(dupes().isBusy());
  EXPECT_TRUE(BrowserCommands::find("findDuplicates")->isEnabled(*model));
  // No search thread stays behind.
  EXPECT_TRUE(waitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; }));

  // A replacement run goes on after the view closed, and is still seen as work.
  search();
  dupes().applyDuplicates();
  QPointer<DuplicatesState> running(dupes().state());
  ASSERT_TRUE(running->isApplying());
  dupes().close();
  EXPECT_TRUE(dupes().isBusy());
  EXPECT_TRUE(waitFor([&] { return running.isNull(); }));
  EXPECT_FALSE(dupes().isBusy());
  EXPECT_EQ(lineCount(cloneLog()), 3);
}

// On tmpfs or ext4 the search works and shows what duplicates cost, but replacing is
// refused once, before any file is touched.
class DuplicatesWithoutSharing : public ::testing::Test, public DuplicatesFixture {
 protected:
  void SetUp() override {
    if (CloneReplacer::canShareStorage(home.path().string()))
      GTEST_SKIP() << "the temporary folder's file system can share storage";
    build(home.path());
  }
};

TEST_F(DuplicatesWithoutSharing, SearchesButRefusesToReplace) {
  search();
  EXPECT_EQ(state().groups().size(), 3u);
  EXPECT_EQ(state().visibleGroups().size(), 2u);
  EXPECT_FALSE(state().canShareStorage());
  EXPECT_GT(state().reclaimable(), 0u);
  // What can be done here is deleting: the headline promises no clones.
  EXPECT_EQ(state().summary(), QStringLiteral("Deleting the 3 extra copies would free ") +
                                   Format::bytes(state().reclaimable()) + QStringLiteral(" · 2 selected"));
  const auto before = fs::last_write_time(root / "b2");
  dupes().applyDuplicates();
  EXPECT_FALSE(state().isApplying());
  EXPECT_FALSE(state().refusal().isEmpty());
  EXPECT_TRUE(state().status().empty());
  EXPECT_EQ(state().selectedVisible().size(), 2u);
  EXPECT_FALSE(fs::exists(cloneLog()));
  EXPECT_EQ(fs::last_write_time(root / "b2"), before);
  // The delete list is the way out.
  dupes().addDuplicateExtrasToDeleteList();
  EXPECT_EQ(model->deleteList().markedOrder().size(), 3u);
}

TEST_F(DuplicatesWithoutSharing, TheDocumentControllerSeesASearchRun) {
  DocumentController documents(*settings, {});
  BrowserModel* browser = documents.openDocument(home.path() / "dups.tfsnap");
  testsupport::waitUntilLoaded(*browser);
  EXPECT_FALSE(documents.isDuplicatesWorkRunning());
  int changes = 0;
  QObject::connect(&documents, &DocumentController::duplicatesWorkChanged, [&] { ++changes; });
  browser->duplicates().findDuplicates(DiskTree::root);
  EXPECT_TRUE(documents.isDuplicatesWorkRunning());
  ASSERT_TRUE(waitFor([&] { return !documents.isDuplicatesWorkRunning(); }));
  EXPECT_GT(changes, 0);
  EXPECT_EQ(browser->duplicates().state()->phase().kind, DuplicatesState::Phase::Kind::ready);
}

}  // namespace
