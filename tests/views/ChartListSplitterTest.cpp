#include "ViewTestSupport.h"

#include "model/Comparison.h"
#include "model/Settings.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/ChartListSplitter.h"
#include "views/EntryList.h"
#include "views/RowDelegate.h"
#include "views/RowListModel.h"
#include "views/SunburstView.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QSplitterHandle>
#include <QTest>

// The border between the chart and the list: where it starts, how the person moves it, what
// the next window takes from it, and which of the list's columns its width makes room for.
namespace {

namespace fs = std::filesystem;
using tallyfox::BrowserWindow;
using tallyfox::ChartListSplitter;

void settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

// Drags the handle by `dx` pixels, as a person does with the mouse.
void dragHandle(ChartListSplitter* splitter, int dx) {
  QSplitterHandle* handle = splitter->handle(1);
  const QPoint from = handle->rect().center();
  QTest::mousePress(handle, Qt::LeftButton, {}, from);
  QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(dx, 0)),
                   handle->mapToGlobal(QPointF(from + QPoint(dx, 0))), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QCoreApplication::sendEvent(handle, &move);
  QTest::mouseRelease(handle, Qt::LeftButton, {}, from + QPoint(dx, 0));
  settle();
}

// How a row of the list is laid out at the list's present width.
tallyfox::RowDelegate::Layout rowLayout(BrowserWindow& window, const std::string& name) {
  tallyfox::EntryList* list = window.view()->list();
  QStyleOptionViewItem option;
  option.initFrom(list->viewport());
  option.rect = list->rowRect(viewtests::idOf(*window.browser(), name));
  option.font = list->font();
  const auto& rows = list->rows()->rows();
  const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& r) {
    return r.node == viewtests::idOf(*window.browser(), name);
  });
  EXPECT_NE(row, rows.end()) << name;
  return list->rowDelegate()->layout(option, window.browser()->rowValues(*row));
}

class ChartListSplitterTest : public ::testing::Test {
 protected:
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
};

TEST_F(ChartListSplitterTest, TheListTakesHalfTheRoomWithinItsBoundsUntilMoved) {
  auto window = viewtests::openBrowser(viewtests::writeSnapshot(dir / "s.tfsnap", viewtests::photoLibrary()));
  ChartListSplitter* splitter = window->view()->splitter();
  for (const int width : {900, 1180, 1600, 2400}) {
    window->resize(width, 760);
    settle();
    SCOPED_TRACE(width);
    EXPECT_EQ(splitter->listWidth(), ChartListSplitter::unchosenListWidth(splitter->width()));
    EXPECT_GE(splitter->listWidth(), 380);
    EXPECT_LE(splitter->listWidth(), 620);
  }
  window->resize(1180, 760);
  settle();
  EXPECT_GT(splitter->listWidth(), 460) << "a wider window gives the list more than its ideal width";

  // Moved by hand, the list keeps its width and the chart alone follows the window.
  const int chosen = splitter->listWidth() + 200;
  QSignalSpy chosenSpy(splitter, &ChartListSplitter::listWidthChosen);
  dragHandle(splitter, -200);
  EXPECT_EQ(splitter->listWidth(), chosen);
  ASSERT_EQ(chosenSpy.count(), 1);
  EXPECT_EQ(chosenSpy.front().front().toInt(), chosen);
  const int chart = window->view()->chart()->width();
  window->resize(1500, 760);
  settle();
  EXPECT_EQ(splitter->listWidth(), chosen);
  EXPECT_GT(window->view()->chart()->width(), chart);

  // Neither side is pushed below its minimum, however far the handle goes.
  dragHandle(splitter, -5000);
  EXPECT_GE(window->view()->chart()->width(), 320);
  dragHandle(splitter, 5000);
  EXPECT_GE(splitter->listWidth(), 380);
  window->resize(window->minimumSize());
  settle();
  EXPECT_GE(window->view()->chart()->width(), 320);
  EXPECT_GE(splitter->listWidth(), 380);
}

TEST_F(ChartListSplitterTest, EachWindowKeepsItsBorderAndTheLastMovedOneIsTheNextWindows) {
  tallyfox::Settings settings{tallyfox::Preferences::standard()};
  viewtests::TestApp shell{settings};
  // Wider than the test screen, so that the border has room to move.
  const auto open = [&](const char* name) {
    BrowserWindow* window =
        shell.app.openWindow(viewtests::writeSnapshot(dir / name, viewtests::photoLibrary()));
    testsupport::waitUntilLoaded(*window->browser());
    window->resize(1400, 800);
    settle();
    return window;
  };
  BrowserWindow* first = open("first.tfsnap");
  EXPECT_EQ(settings.browserListWidth(), std::nullopt);
  ChartListSplitter* firstSplitter = first->view()->splitter();
  const int wide = firstSplitter->listWidth() + 150;
  dragHandle(firstSplitter, -150);
  EXPECT_EQ(settings.browserListWidth(), wide);

  BrowserWindow* second = open("second.tfsnap");
  ChartListSplitter* secondSplitter = second->view()->splitter();
  EXPECT_EQ(secondSplitter->listWidth(), wide);

  dragHandle(secondSplitter, 100);
  EXPECT_EQ(secondSplitter->listWidth(), wide - 100);
  EXPECT_EQ(firstSplitter->listWidth(), wide) << "the first window keeps its own";
  EXPECT_EQ(settings.browserListWidth(), wide - 100);
  // Read again as a new start of the app would.
  EXPECT_EQ(tallyfox::Settings(tallyfox::Preferences::standard()).browserListWidth(), wide - 100);
}

// The optional columns come as the list gets room for them, and go again: the share of the
// folder always in sizes; while comparing the change first, then the share, then the old and
// new sizes, each only while the name keeps room to be read.
TEST_F(ChartListSplitterTest, ColumnsComeAndGoWithTheListsWidth) {
  std::vector<testsupport::Node> earlier = viewtests::photoLibrary();
  earlier[7].size = 3000;  // a.raw grew since
  earlier[3].name = "old.txt";
  const fs::path earlierFile = dir / "earlier.tfsnap";
  tallyfox::SnapshotFile::write(testsupport::columnsOf(earlier),
                                {"/data", std::chrono::system_clock::now() - std::chrono::hours(48), 1.0},
                                earlierFile);
  auto window = viewtests::openBrowser(viewtests::writeSnapshot(dir / "s.tfsnap", viewtests::photoLibrary()));
  window->resize(1600, 900);
  ChartListSplitter* splitter = window->view()->splitter();

  struct Expected {
    int listWidth;
    bool shareWhileComparing;
    bool sizesWhileComparing;
  };
  const auto check = [&](const Expected& e) {
    splitter->setChosenListWidth(e.listWidth);
    settle();
    SCOPED_TRACE(e.listWidth);
    ASSERT_EQ(splitter->listWidth(), e.listWidth);
    const bool comparing = window->browser()->comparing().comparison() != nullptr;
    const auto layout = rowLayout(*window, "photos");
    EXPECT_FALSE(layout.size.isEmpty());
    EXPECT_EQ(!layout.percent.isEmpty(), comparing ? e.shareWhileComparing : true);
    EXPECT_EQ(!layout.bar.isEmpty(), comparing ? e.shareWhileComparing : true);
    EXPECT_EQ(layout.change.has_value(), comparing);
    if (layout.change) {
      EXPECT_EQ(!layout.change->sizes.isEmpty(), e.sizesWhileComparing);
    }
    // An optional column comes only while the name keeps room beside it.
    if (layout.change && (!layout.percent.isEmpty() || !layout.change->sizes.isEmpty())) {
      EXPECT_GE(layout.change->left - layout.name.left(), tallyfox::ChangeColumns::nameRoom);
    }
  };
  const std::vector<Expected> widths{
      {380, false, false}, {460, false, false}, {620, true, false}, {760, true, true}, {900, true, true}};
  for (const Expected& e : widths) check(e);

  window->browser()->comparing().compare(earlierFile);
  ASSERT_TRUE(viewtests::waitFor([&] { return window->browser()->comparing().comparison() != nullptr; }));
  for (const Expected& e : widths) check(e);
  for (auto e = widths.rbegin(); e != widths.rend(); ++e) check(*e);
}

}  // namespace
