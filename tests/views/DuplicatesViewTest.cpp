#include "AppTestSupport.h"
#include "CloneFixtures.h"
#include "FolderSnapshot.h"
#include "TestSupport.h"
#include "ViewTestSupport.h"

#include "model/BrowserCommands.h"
#include "model/DeleteList.h"
#include "model/Duplicates.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/DuplicatesView.h"

#include <tallyfox/CloneReplacer.h>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

namespace fs = std::filesystem;
using tallyfox::DuplicatesState;

// A folder with two groups of copies, one of them inside an application bundle, in a
// window; the folder is in the temporary folder, whose file system may not share storage,
// so nothing here replaces.
class DuplicatesViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir.path() / "tree";
    testsupport::putFile(root / "a1", testsupport::patternedBytes(100000, 1));
    testsupport::putFile(root / "copies/a2", testsupport::patternedBytes(100000, 1));
    testsupport::putFile(root / "Tool.app/x1", testsupport::patternedBytes(70000, 2));
    testsupport::putFile(root / "Tool.app/x2", testsupport::patternedBytes(70000, 2));
    const fs::path file = dir.path() / "tree.tfsnap";
    testsupport::snapshotOfFolder(root)->write(file);
    window = viewtests::openBrowser(file);
    model = window->browser();
    view = window->view()->findChild<tallyfox::DuplicatesView*>();
    ASSERT_NE(view, nullptr);
  }

  void openAndWait() {
    ASSERT_TRUE(tallyfox::BrowserCommands::run(*tallyfox::BrowserCommands::find("findDuplicates"), *model));
    ASSERT_TRUE(testsupport::waitFor(
        [&] { return model->duplicates().state()->phase().kind == DuplicatesState::Phase::Kind::ready; }));
  }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  fs::path root;
  std::unique_ptr<tallyfox::BrowserWindow> window;
  tallyfox::BrowserModel* model = nullptr;
  tallyfox::DuplicatesView* view = nullptr;
};

TEST_F(DuplicatesViewTest, ShowsTheGroupsInPlaceOfTheChartAndEscapeGoesBack) {
  model->navigate(tallyfox::DiskTree::root);
  openAndWait();
  EXPECT_EQ(window->view()->currentCentre(), view);
  EXPECT_FALSE(tallyfox::BrowserCommands::find("findDuplicates")->isEnabled(*model));
  EXPECT_EQ(view->titleText(), QStringLiteral("Duplicates in ") + QString::fromStdString(root.string()));
  // The app group is hidden until asked for.
  ASSERT_EQ(view->list()->topLevelItemCount(), 1);
  EXPECT_EQ(view->list()->topLevelItem(0)->text(0), QStringLiteral("2 × 100.0 kB"));
  // The headline promises clones only where the file system can make them.
  const QString headline = tallyfox::CloneReplacer::canShareStorage(root.string())
                               ? QStringLiteral(" could be shared as clones · 1 selected")
                               : QStringLiteral("Deleting the 1 extra copy would free ");
  EXPECT_TRUE(view->pageText().contains(headline)) << view->pageText().toStdString();
  view->includeAppsBox()->click();
  EXPECT_EQ(view->list()->topLevelItemCount(), 2);
  EXPECT_TRUE(view->pageText().contains(QStringLiteral("2 selected")));

  // Unticking a group takes it out of the actions.
  view->list()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  EXPECT_TRUE(view->pageText().contains(QStringLiteral("1 selected")));
  view->list()->topLevelItem(0)->setExpanded(true);
  const auto* first = view->list()->topLevelItem(0);
  ASSERT_EQ(first->childCount(), 2);
  EXPECT_EQ(first->child(0)->text(1), QStringLiteral("keep"));
  EXPECT_EQ(first->child(1)->text(1), QStringLiteral("clone"));

  QTest::keyClick(view, Qt::Key_Escape);
  EXPECT_FALSE(model->duplicates().isOpen());
  EXPECT_NE(window->view()->currentCentre(), view);
}

TEST_F(DuplicatesViewTest, WhereStorageCannotBeSharedReplacingPointsToTheDeleteList) {
  if (tallyfox::CloneReplacer::canShareStorage(root.string()))
    GTEST_SKIP() << "the temporary folder's file system can share storage";
  model->navigate(tallyfox::DiskTree::root);
  openAndWait();
  EXPECT_FALSE(view->pageText().contains(QStringLiteral("clones"))) << view->pageText().toStdString();
  view->replaceButton()->click();
  EXPECT_TRUE(view->pageText().contains(QStringLiteral("can't share storage between files")));
  view->deleteListButton()->click();
  EXPECT_EQ(model->deleteList().markedOrder().size(), 1u);
}

}  // namespace
