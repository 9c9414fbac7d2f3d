#include "ModelTestSupport.h"
#include "model/FileActions.h"

#include <tallyfox/Unicode.h>

#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QStorageInfo>
#include <QThreadPool>

#include <sys/stat.h>

using namespace tallyfox;
using testsupport::idOf;
using testsupport::loadedModel;
using testsupport::Node;
using testsupport::TempDir;

namespace {

// root ─ photos ─ 2023 ─ x.jpg, y.jpg
//      │        └ raw.jpg
//      ├ docs ─ a.pdf, b.pdf
//      └ notes.txt
const std::vector<Node> outline = {
    {-1, ""},          {0, "photos"},       {0, "docs"},      {0, "notes.txt", 10},
    {1, "2023"},       {1, "raw.jpg", 100}, {2, "a.pdf", 50}, {2, "b.pdf", 40},
    {4, "x.jpg", 300}, {4, "y.jpg", 200},
};

// root ─ home ─ big ─ f1
//             └ small.txt
const std::vector<Node> singleChild = {
    {-1, ""}, {0, "home"}, {1, "big"}, {1, "small.txt", 5}, {2, "f1", 100},
};

class BrowserNavigation : public ::testing::Test {
 protected:
  std::unique_ptr<BrowserModel> open(const std::vector<Node>& nodes, const std::string& root = "/data") {
    const auto file = dir / ("s" + std::to_string(++files) + ".tfsnap");
    testsupport::writeSnapshot(file, nodes, root);
    return loadedModel(file, desktop.desktop());
  }
  NodeId id(const BrowserModel& m, const std::string& name) { return idOf(m, name); }

  TempDir dir;
  int files = 0;
  testsupport::RecordingDesktop desktop;
};

TEST_F(BrowserNavigation, OpensInTheRootsOnlyChildWhichCannotGoUp) {
  auto m = open(singleChild);
  ASSERT_TRUE(m->state().isReady());
  EXPECT_EQ(m->current(), id(*m, "home"));
  EXPECT_EQ(m->selection(), id(*m, "big"));
  EXPECT_FALSE(m->canGoUp());
  m->goUp();
  m->collapseOrAscend();  // Left on a direct child goes up, which is not possible here
  EXPECT_EQ(m->current(), id(*m, "home"));
  EXPECT_EQ(m->windowTitle(), "home");
}

TEST_F(BrowserNavigation, OpensAtTheRootWithTheLargestChildSelected) {
  auto m = open(outline);
  EXPECT_EQ(m->current(), DiskTree::root);
  EXPECT_EQ(m->selection(), id(*m, "photos"));
  EXPECT_TRUE(m->canGoUp());  // to "/", outside the snapshot
  EXPECT_EQ(m->windowTitle(), "data");
  EXPECT_TRUE(m->windowSubtitle().startsWith("Snapshot from "));
}

TEST_F(BrowserNavigation, NavigateRecordsHistoryOnlyWhenTheFolderChanges) {
  auto m = open(outline);
  const NodeId photos = id(*m, "photos");
  m->navigate(photos);
  EXPECT_EQ(m->current(), photos);
  EXPECT_EQ(m->selection(), id(*m, "2023"));
  EXPECT_TRUE(m->canGoUp());

  m->toggleExpanded(id(*m, "2023"));
  m->setIsFiltering(true);
  m->setFilter("raw");
  m->navigate(photos, id(*m, "raw.jpg"));  // same folder: expansion and history stay
  EXPECT_TRUE(m->expanded().contains(id(*m, "2023")));
  EXPECT_EQ(m->filter(), "");
  EXPECT_FALSE(m->isFiltering());
  EXPECT_EQ(m->selection(), id(*m, "raw.jpg"));

  m->navigate(id(*m, "y.jpg"));  // a file: its folder, with the file selected
  EXPECT_EQ(m->current(), id(*m, "2023"));
  EXPECT_EQ(m->selection(), id(*m, "y.jpg"));
  EXPECT_TRUE(m->expanded().isEmpty());

  m->goBack();
  EXPECT_EQ(m->current(), photos);
  EXPECT_EQ(m->selection(), id(*m, "raw.jpg"));
  m->goBack();
  EXPECT_EQ(m->current(), DiskTree::root);
  EXPECT_EQ(m->selection(), photos);
}

TEST_F(BrowserNavigation, HistoryKeepsFiveHundredPlaces) {
  auto m = open(outline);
  const NodeId photos = id(*m, "photos"), docs = id(*m, "docs");
  for (int i = 0; i < 501; ++i) m->navigate(i % 2 == 0 ? photos : docs);
  EXPECT_EQ(m->current(), photos);
  for (int i = 0; i < 500; ++i) m->goBack();
  // The place before the first navigation (the root) was dropped.
  EXPECT_EQ(m->current(), photos);

  // Back with an empty history climbs one level and leaves no history behind.
  m->goBack();
  EXPECT_EQ(m->current(), DiskTree::root);
  EXPECT_EQ(m->selection(), photos);
  m->goForward();
  EXPECT_EQ(desktop.state->beeps, 1);
  EXPECT_EQ(m->current(), DiskTree::root);
  m->goBack();  // and once more: nowhere to climb from the root
  EXPECT_EQ(m->current(), DiskTree::root);
}

TEST_F(BrowserNavigation, ForwardAfterBackAndNavigatingClearsForward) {
  auto m = open(outline);
  const NodeId photos = id(*m, "photos"), year = id(*m, "2023");
  m->navigate(photos);
  m->navigate(year, id(*m, "y.jpg"));
  m->goBack();
  EXPECT_EQ(m->current(), photos);
  m->goForward();
  EXPECT_EQ(m->current(), year);
  EXPECT_EQ(m->selection(), id(*m, "y.jpg"));
  EXPECT_EQ(desktop.state->beeps, 0);

  m->goBack();
  m->navigate(id(*m, "docs"));
  m->goForward();
  EXPECT_EQ(desktop.state->beeps, 1);
  EXPECT_EQ(m->current(), id(*m, "docs"));

  m->goUp();  // selects the folder just left
  EXPECT_EQ(m->current(), DiskTree::root);
  EXPECT_EQ(m->selection(), id(*m, "docs"));
  m->goBack();
  EXPECT_EQ(m->current(), id(*m, "docs"));
}

TEST_F(BrowserNavigation, ArrowKeysWalkAnOutlineTwoLevelsDeep) {
  auto m = open(outline);
  const NodeId photos = id(*m, "photos"), year = id(*m, "2023"), x = id(*m, "x.jpg");
  EXPECT_FALSE(m->isExpandable(id(*m, "notes.txt")));

  m->expandOrDescend();  // expands photos
  EXPECT_TRUE(m->expanded().contains(photos));
  m->expandOrDescend();  // into its largest child
  EXPECT_EQ(m->selection(), year);
  m->expandOrDescend();
  m->expandOrDescend();
  EXPECT_EQ(m->selection(), x);

  std::vector<BrowserModel::Row> expected = {{photos, 0},
                                             {year, 1},
                                             {x, 2},
                                             {id(*m, "y.jpg"), 2},
                                             {id(*m, "raw.jpg"), 1},
                                             {id(*m, "docs"), 0},
                                             {id(*m, "notes.txt"), 0}};
  EXPECT_EQ(m->visibleRows(), expected);
  m->move(1);
  EXPECT_EQ(m->selection(), id(*m, "y.jpg"));
  m->move(-1);

  m->collapseOrAscend();  // two levels deep: up to the parent row
  EXPECT_EQ(m->selection(), year);
  m->collapseOrAscend();  // expanded: collapses
  EXPECT_FALSE(m->expanded().contains(year));
  m->collapseOrAscend();
  EXPECT_EQ(m->selection(), photos);
  m->collapseOrAscend();
  EXPECT_TRUE(m->expanded().isEmpty());
  m->collapseOrAscend();  // a direct child of the root: up, which the root cannot
  EXPECT_EQ(m->current(), DiskTree::root);
  EXPECT_EQ(m->selection(), photos);
}

TEST_F(BrowserNavigation, CollapsingMovesASelectionInsideToTheFolder) {
  auto m = open(outline);
  const NodeId photos = id(*m, "photos"), x = id(*m, "x.jpg");
  m->toggleExpanded(photos);
  m->toggleExpanded(id(*m, "2023"));
  m->setSelection(x);
  EXPECT_TRUE(m->isDescendant(x, photos));
  EXPECT_FALSE(m->isDescendant(photos, photos));
  EXPECT_FALSE(m->isDescendant(photos, x));
  m->toggleExpanded(photos);
  EXPECT_EQ(m->selection(), photos);
  EXPECT_EQ(m->visibleRows().size(), 3u);
}

TEST_F(BrowserNavigation, EnterOpensFoldersAndPreviewsFiles) {
  auto m = open(outline);
  m->enter();
  EXPECT_EQ(m->current(), id(*m, "photos"));
  m->click(id(*m, "raw.jpg"));
  EXPECT_EQ(m->selection(), id(*m, "raw.jpg"));
  m->enter();  // a file that is not on this disk: nothing to preview
  EXPECT_EQ(desktop.state->beeps, 1);
  EXPECT_TRUE(m->previewURL().isEmpty());
  m->click(id(*m, "2023"));
  EXPECT_EQ(m->current(), id(*m, "2023"));
  m->backToTop();
  EXPECT_EQ(m->current(), DiskTree::root);
  EXPECT_EQ(m->selection(), id(*m, "photos"));
}

TEST_F(BrowserNavigation, TitlesOfTheDiskRootAndOfAJoinedSnapshot) {
  auto disk = open(outline, "/");
  const QString volume = QStorageInfo::root().name();
  EXPECT_EQ(disk->windowTitle(), volume.isEmpty() ? QString("/") : volume);
  EXPECT_EQ(disk->path(id(*disk, "x.jpg")), "/photos/2023/x.jpg");

  auto joined = open(outline, "");
  EXPECT_EQ(joined->windowTitle(), "All roots");
  joined->navigate(id(*joined, "docs"));
  EXPECT_EQ(joined->windowTitle(), "docs");
}

TEST_F(BrowserNavigation, AFailedLoadKeepsNoTreeAndShowsTheFileName) {
  const auto file = dir / "broken.tfsnap";
  testsupport::writeFile(file, "this is not a snapshot at all");
  auto m = loadedModel(file, desktop.desktop());
  EXPECT_TRUE(m->state().isFailed());
  EXPECT_TRUE(m->state().message.startsWith("Not a readable vok snapshot: "))
      << m->state().message.toStdString();
  EXPECT_EQ(m->tree(), nullptr);
  EXPECT_EQ(m->windowTitle(), "broken.tfsnap");
  EXPECT_EQ(m->windowSubtitle(), "");
  EXPECT_TRUE(m->visibleRows().empty());
  m->navigate(0);
  m->move(1);
  EXPECT_EQ(m->selection(), std::nullopt);

  auto missing = loadedModel(dir / "gone.tfsnap");
  EXPECT_TRUE(missing->state().isFailed());
  EXPECT_FALSE(missing->state().message.isEmpty());

  BrowserModel nothing(std::nullopt);
  nothing.load();
  EXPECT_EQ(nothing.state(), LoadState::failed("This window has no file."));
  EXPECT_EQ(nothing.windowTitle(), "Tallyfox");
}

TEST_F(BrowserNavigation, AnUnfinishedSnapshotFailsToLoad) {
  const auto file = dir / "unfinished.tfsnap";
  testsupport::writeSnapshot(file, outline);
  auto bytes = testsupport::readBytes(file);
  const auto empty = SnapshotFile::header(SnapshotFile::State::scanning, 0, {}, {});
  std::copy(empty.begin(), empty.end(), bytes.begin());
  testsupport::writeBytes(file, bytes);
  auto m = loadedModel(file);
  EXPECT_TRUE(m->state().isFailed());
  EXPECT_TRUE(m->state().message.startsWith("Not a readable Tallyfox snapshot: "));
}

TEST_F(BrowserNavigation, LoadingReportsOnlyToALiveModel) {
  const auto file = dir / "s.tfsnap";
  testsupport::writeSnapshot(file, outline);
  {
    BrowserModel gone(file);
    gone.load();
  }
  QThreadPool::globalInstance()->waitForDone();
  QCoreApplication::processEvents();  // the late result finds no model and is dropped

  BrowserModel m(file);
  QSignalSpy states(&m, &BrowserModel::stateChanged);
  m.load();
  m.load();  // a second call while reading starts nothing new
  ASSERT_TRUE(testsupport::waitFor([&] { return m.state().isReady(); }));
  EXPECT_EQ(states.count(), 2);  // loading(1.0), then ready
  m.load();
  EXPECT_TRUE(m.state().isReady());
}

TEST_F(BrowserNavigation, SettersNotifyOnlyOnARealChange) {
  auto m = open(outline);
  QSignalSpy selection(m.get(), &BrowserModel::selectionChanged);
  QSignalSpy expanded(m.get(), &BrowserModel::expandedChanged);
  m->setSelection(m->selection());
  m->setExpanded({});
  m->navigate(DiskTree::root);  // already there, already selected
  EXPECT_EQ(selection.count(), 0);
  EXPECT_EQ(expanded.count(), 0);
  m->setSelection(id(*m, "docs"));
  EXPECT_EQ(selection.count(), 1);
}

TEST_F(BrowserNavigation, FileActionsReachTheFilesOnDisk) {
  const auto root = dir / "place";
  testsupport::writeFile(root / "kept" / "here.txt", "x");
  const std::vector<Node> nodes = {
      {-1, ""}, {0, "kept"}, {0, "gone"}, {1, "here.txt", 9}, {2, "lost.txt", 8}};
  auto m = open(nodes, root.string());
  const QString base = QString::fromStdString(root.string());
  EXPECT_EQ(m->currentFolderURL(), QUrl::fromLocalFile(base));

  m->files().revealInFinder(idOf(*m, "lost.txt"));  // gone: its nearest existing ancestor
  EXPECT_EQ(desktop.state->revealed, QByteArrayList{base.toUtf8()});

  m->navigate(idOf(*m, "here.txt"));
  EXPECT_EQ(m->selectedPath(), base + "/kept/here.txt");
  m->files().openSelection();
  m->files().copyFileReference();
  EXPECT_EQ(desktop.state->opened, QByteArrayList{(base + "/kept/here.txt").toUtf8()});
  EXPECT_EQ(desktop.state->copiedReferences, QByteArrayList{(base + "/kept/here.txt").toUtf8()});
  m->togglePreview();
  EXPECT_EQ(m->previewURL(), QUrl::fromLocalFile(base + "/kept/here.txt"));
  m->togglePreview();
  EXPECT_TRUE(m->previewURL().isEmpty());

  m->files().openSelection(idOf(*m, "lost.txt"));
  EXPECT_EQ(desktop.state->beeps, 1);
  m->navigate(idOf(*m, "gone"));
  EXPECT_TRUE(m->currentFolderURL().isEmpty());
}

// Names are bytes on disk; Latin-1 names from an old disk are not UTF-8 and must still reach
// the very file.
TEST_F(BrowserNavigation, FileActionsCarryNamesThatAreNotUTF8) {
  const std::string folderName = "d\xfcr", fileName = "caf\xe9.txt";
  const auto root = dir / "place";
  testsupport::writeFile(root / folderName / fileName, "x");
  const std::vector<Node> nodes = {{-1, ""}, {0, folderName}, {1, fileName, 1}, {1, "gone\xff", 1}};
  auto m = open(nodes, root.string());
  const QByteArray folder = QByteArray::fromStdString((root / folderName).string());
  const QByteArray file = QByteArray::fromStdString((root / folderName / fileName).string());
  auto onDisk = [](const QByteArray& path) {
    struct stat facts {};
    return ::stat(path.constData(), &facts) == 0;
  };

  // Nodes are found by the names shown.
  auto node = [&](const std::string& name) { return idOf(*m, Unicode::decodeLossy(name)); };
  m->files().revealInFinder(node("gone\xff"));
  m->navigate(node(fileName));
  m->files().revealInFinder();
  m->files().openSelection();
  m->files().copyFileReference();
  m->files().copyPath();
  EXPECT_EQ(desktop.state->revealed, (QByteArrayList{folder, file}));
  EXPECT_EQ(desktop.state->opened, QByteArrayList{file});
  EXPECT_EQ(desktop.state->copiedReferences, QByteArrayList{file});
  EXPECT_TRUE(onDisk(desktop.state->opened.value(0)));
  EXPECT_EQ(desktop.state->beeps, 0);
  // The plain-text path is for reading: it says where the file is, bytes aside.
  ASSERT_EQ(desktop.state->copiedTexts.size(), 1);
  EXPECT_TRUE(desktop.state->copiedTexts[0].endsWith(QStringLiteral("/caf\uFFFD.txt")));

  m->togglePreview();
  EXPECT_EQ(m->previewPath(), file);
  m->togglePreview();
  EXPECT_TRUE(m->previewPath().isEmpty());
}

}  // namespace
