#include "AppTestSupport.h"
#include "RandomTree.h"
#include "TestSupport.h"
#include "ViewTestSupport.h"

#include "model/AgeFilter.h"
#include "model/BrowserCommands.h"
#include "model/CountMode.h"
#include "model/DeleteList.h"
#include "model/FileTypes.h"
#include "model/LargestFiles.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/FilterField.h"
#include "views/StatusLine.h"
#include "views/SubtreeViews.h"

#include <gtest/gtest.h>

#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

namespace {

namespace fs = std::filesystem;
using namespace tallyfox;

class SubtreeViewsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 random(1434);
    const fs::path file = dir.path() / "random.tfsnap";
    testsupport::randomTree(random, 2000, "/random")->write(file);
    window = viewtests::openBrowser(file);
    model = window->browser();
  }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  std::unique_ptr<BrowserWindow> window;
  BrowserModel* model = nullptr;
};

}  // namespace

TEST_F(SubtreeViewsTest, LargestFilesTakeTheCentreUntilEscapeAndReturnShowsTheFileInTheList) {
  BrowserView* view = window->view();
  ASSERT_TRUE(BrowserCommands::run(QStringLiteral("largestFiles"), *model));
  EXPECT_EQ(view->currentCentre(), view->largestFilesView());
  ASSERT_TRUE(testsupport::waitFor([&] { return !model->largestFiles().isFinding(); }));
  QTreeWidget* list = view->largestFilesView()->list();
  EXPECT_EQ(std::size_t(list->topLevelItemCount()), model->largestFiles().files().size());
  EXPECT_TRUE(view->largestFilesView()->titleText().startsWith("Largest files in"));

  // "d" marks the row's file for deletion, as in the list.
  const NodeId first = *view->largestFilesView()->currentFile();
  QTest::keyClick(list, Qt::Key_D);
  EXPECT_TRUE(model->deleteList().isMarked(first));
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_NE(view->currentCentre(), view->largestFilesView());
  EXPECT_EQ(model->selection(), first);

  ASSERT_TRUE(BrowserCommands::run(QStringLiteral("largestFiles"), *model));
  QTest::keyClick(view->largestFilesView(), Qt::Key_Escape);
  EXPECT_FALSE(model->largestFiles().isOpen());
}

TEST_F(SubtreeViewsTest, ChoosingACategoryPicksItOutUntilCleared) {
  BrowserView* view = window->view();
  ASSERT_TRUE(BrowserCommands::run(QStringLiteral("fileTypes"), *model));
  EXPECT_EQ(view->currentCentre(), view->fileTypesView());
  ASSERT_TRUE(testsupport::waitFor([&] { return !model->fileTypes().isCounting(); }));
  QTreeWidget* list = view->fileTypesView()->list();
  ASSERT_GT(list->topLevelItemCount(), 0);
  // Largest first, each category holding its extensions.
  EXPECT_EQ(list->topLevelItem(0)->text(0),
            FileTypes::label({model->fileTypes().totals().categories.front().category, std::nullopt}));
  EXPECT_GT(list->topLevelItem(0)->childCount(), 0);
  const QString chosen = list->topLevelItem(0)->text(0);
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_NE(view->currentCentre(), view->fileTypesView());
  ASSERT_TRUE(model->fileTypes().chosen().has_value());
  ASSERT_TRUE(testsupport::waitFor([&] { return model->fileTypes().isHighlightReady(); }));
  auto* bar = view->findChild<FileTypeBar*>();
  ASSERT_NE(bar, nullptr);
  EXPECT_TRUE(bar->isVisible());
  EXPECT_TRUE(bar->text().startsWith("Showing " + chosen)) << bar->text().toStdString();
  ASSERT_TRUE(BrowserCommands::run(QStringLiteral("clearFileType"), *model));
  EXPECT_FALSE(bar->isVisible());
}

// The filter's age is chosen in the filter bar, which names it and stays while it holds;
// Escape in the field ends it with the name. The status line's switch and the menu item
// move the measure together.
TEST_F(SubtreeViewsTest, TheFilterBarShowsTheAgeAndTheStatusLineSwitchesTheMeasure) {
  BrowserView* view = window->view();
  AgeControls* age = view->ageControls();
  EXPECT_FALSE(view->filterField()->isVisibleTo(view));
  AgeFilter::of(*model).set({AgeFilter::Span::years3, {}});
  EXPECT_TRUE(view->filterField()->isVisibleTo(view));
  EXPECT_EQ(age->choiceText(), QStringLiteral("Not modified for 3 years"));
  ASSERT_TRUE(testsupport::waitFor([&] { return AgeFilter::of(*model).isReady(); }));
  EXPECT_TRUE(age->summaryText().endsWith(QStringLiteral("here")) ||
              age->summaryText() == QStringLiteral("None here"));
  QTest::keyClick(view->filterField(), Qt::Key_Escape);
  EXPECT_FALSE(AgeFilter::of(*model).isSet());
  EXPECT_FALSE(view->filterField()->isVisibleTo(view));

  StatusLine* status = view->statusLine();
  EXPECT_TRUE(status->sizeButton()->isChecked());
  QTest::mouseClick(status->entriesButton(), Qt::LeftButton);
  EXPECT_TRUE(model->countMode().countsEntries());
  EXPECT_FALSE(status->sizeButton()->isChecked());
  ASSERT_TRUE(BrowserCommands::run(QStringLiteral("countEntries"), *model));
  EXPECT_TRUE(status->sizeButton()->isChecked());
  EXPECT_FALSE(status->entriesButton()->isChecked());
}
