// The folders around a snapshot in a real window: going up from the root shows them from the
// disk with their own keys and buttons, and a partial folder lists what it lacks.
#include "ViewTestSupport.h"

#include "model/OutsideModel.h"
#include "model/PartialScans.h"
#include "views/Breadcrumbs.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/EntryList.h"
#include "views/OutsideViews.h"

#include <tallyfox/TreeColumns.h>

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

using tallyfox::OutsideModel;
using testsupport::Node;
using testsupport::waitFor;

class OutsideViewTest : public ::testing::Test {
 protected:
  void open(std::uint8_t rootFlags = 0) {
    base = dir.path() / "base";
    testsupport::writeFile(base / "data" / "photos" / "a.jpg", "a");
    testsupport::writeFile(base / "data" / "music.mp3", "m");
    testsupport::writeFile(base / "other" / "o.txt", "o");
    testsupport::writeFile(base / "zz.txt", std::string(5000, 'z'));
    const std::vector<Node> nodes = {
        {-1, "data", 0, std::uint8_t(tallyfox::EntryFlags::directory | rootFlags)},
        {0, "photos"},
        {0, "gone", 0, tallyfox::EntryFlags::directory},
        {1, "a.jpg", 4096},
    };
    const auto file = viewtests::writeSnapshot(dir.path() / "s.tfsnap", nodes, (base / "data").string());
    window = viewtests::openBrowser(file, viewtests::recordingDesktop(log));
    model = window->browser();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  std::filesystem::path base;
  std::shared_ptr<viewtests::DesktopLog> log = std::make_shared<viewtests::DesktopLog>();
  std::unique_ptr<tallyfox::BrowserWindow> window;
  tallyfox::BrowserModel* model = nullptr;
};

TEST_F(OutsideViewTest, EscapeAtTheRootShowsTheFolderAroundItWithItsOwnKeys) {
  open();
  tallyfox::BrowserView* view = window->view();
  ASSERT_EQ(model->current(), tallyfox::DiskTree::root);
  QTest::keyClick(view->list(), Qt::Key_Escape);
  tallyfox::OutsideView* outside = view->outsideView();
  ASSERT_EQ(view->currentCentre(), outside);
  EXPECT_TRUE(outside->list()->hasFocus());
  EXPECT_EQ(window->windowTitle().section(QStringLiteral(" — "), 0, 0), QStringLiteral("base"));
  EXPECT_TRUE(outside->explanation()->text().startsWith(QStringLiteral("This snapshot covers ")));
  EXPECT_EQ(outside->scanRestButton()->text(), QStringLiteral("Scan the Rest of base"));
  EXPECT_EQ(outside->rescanAllButton()->text(), QStringLiteral("Rescan All of base"));
  EXPECT_EQ(outside->backInsideButton()->text(), QStringLiteral("Back into data"));
  // The crumbs run from "/" to the root, the snapshot reduced to its root crumb.
  const QStringList crumbs = view->breadcrumbs()->labels();
  EXPECT_EQ(crumbs.front(), QStringLiteral("/"));
  EXPECT_EQ(crumbs.back(), QStringLiteral("data"));
  EXPECT_EQ(crumbs[crumbs.size() - 2], QStringLiteral("base"));

  ASSERT_TRUE(waitFor([&] { return outside->list()->count() == 3; }));
  ASSERT_TRUE(outside->list()->selectedEntry());
  EXPECT_EQ(outside->list()->selectedEntry()->name, "data");
  EXPECT_FALSE(outside->list()->scanAndAddButton()->isVisible());
  QTest::keyClick(outside->list(), Qt::Key_Down);
  EXPECT_EQ(outside->list()->selectedEntry()->name, "other");
  // A folder the snapshot lacks offers to be added; Return only selects it.
  EXPECT_TRUE(outside->list()->scanAndAddButton()->isVisible());
  QTest::keyClick(outside->list(), Qt::Key_Return);
  EXPECT_EQ(model->outside().outsidePath(), base.string());

  // Escape goes on up; the first row ("base", which leads to the root) opens it again.
  QTest::keyClick(outside->list(), Qt::Key_Escape);
  EXPECT_EQ(model->outside().outsidePath(), dir.path().string());
  ASSERT_TRUE(waitFor([&] { return outside->list()->count() > 0; }));
  EXPECT_EQ(outside->list()->selectedEntry()->name, "base");
  QTest::keyClick(outside->list(), Qt::Key_Return);
  EXPECT_EQ(model->outside().outsidePath(), base.string());

  // "Back into" returns to the chart and list.
  QTest::mouseClick(outside->backInsideButton(), Qt::LeftButton);
  EXPECT_FALSE(model->outside().isShown());
  EXPECT_NE(view->currentCentre(), outside);
  EXPECT_TRUE(view->list()->hasFocus());
}

TEST_F(OutsideViewTest, APartialFolderListsWhatItLacksAndAFailedRescanSaysWhy) {
  open(tallyfox::EntryFlags::partial);
  tallyfox::BrowserView* view = window->view();
  auto* section = view->findChild<tallyfox::NotScannedSection*>();
  ASSERT_NE(section, nullptr);
  ASSERT_TRUE(waitFor([&] { return section->isVisible(); }));
  EXPECT_EQ(section->heading()->text(), QStringLiteral("Not in this snapshot (1)"));
  EXPECT_EQ(section->list()->entries().front().name, "music.mp3");
  EXPECT_EQ(section->scanRestButton()->text(), QStringLiteral("Scan the Rest of data"));

  // "gone" is not on disk: its rescan fails and the window stays, saying why.
  // The list column's own progress line (the outside view has another).
  tallyfox::AddScanProgress* progress = nullptr;
  for (auto* candidate : view->findChildren<tallyfox::AddScanProgress*>())
    if (!view->outsideView()->isAncestorOf(candidate)) progress = candidate;
  ASSERT_NE(progress, nullptr);
  model->partialScans().rescanFolder(viewtests::idOf(*model, "gone"));
  EXPECT_TRUE(model->partialScans().isRunning());
  ASSERT_TRUE(waitFor([&] { return !model->partialScans().isRunning(); }));
  EXPECT_TRUE(model->partialScans().addingScanError().has_value());
  EXPECT_TRUE(progress->isVisible());
  EXPECT_EQ(progress->errorText(), QString::fromStdString((base / "data" / "gone").string()) +
                                       QStringLiteral(": No such file or directory"));
  EXPECT_TRUE(window->isVisible());
}

}  // namespace
