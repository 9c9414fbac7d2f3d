// The history strip in a window: shown from the View menu, a point per snapshot, and a click
// that compares.
#include "ViewTestSupport.h"

#include "model/Comparison.h"
#include "model/FolderHistory.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/HistoryStrip.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QTest>

using namespace tallyfox;

namespace {

namespace fs = std::filesystem;
using std::chrono::hours;

TEST(HistoryStripTest, ShowsEverySnapshotOfThePlaceAndComparesOnAClick) {
  testsupport::ScopedHome home;
  const fs::path folder = SnapshotsFolder::resolve(std::nullopt);
  fs::create_directories(folder);
  const auto now = std::chrono::system_clock::now();
  for (int day : {2, 1, 0})
    SnapshotFile::write(
        testsupport::columnsOf({{-1, ""}, {0, "data"}, {1, "a", std::uint64_t(1000 * (3 - day))}}),
        {"/srv", now - hours(24 * day), 1.0}, folder / ("srv-" + std::to_string(day) + ".tfsnap"));
  auto window = viewtests::openBrowser(folder / "srv-0.tfsnap");
  HistoryStrip* strip = window->view()->historyStrip();
  EXPECT_FALSE(strip->isVisible());

  auto* toggle = window->findChild<QAction*>(QStringLiteral("history"));
  ASSERT_NE(toggle, nullptr);
  EXPECT_EQ(toggle->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
  toggle->trigger();
  EXPECT_TRUE(strip->isVisible());
  EXPECT_TRUE(toggle->isChecked());
  const FolderHistory& history = window->browser()->folderHistory();
  ASSERT_TRUE(viewtests::waitFor([&] { return history.points().size() == 3 && !history.isReading(); }));

  // Oldest on the left, higher as the folder grew.
  const QPointF oldest = strip->pointPosition(0), newest = strip->pointPosition(2);
  EXPECT_LT(oldest.x(), newest.x());
  EXPECT_GT(oldest.y(), newest.y());
  EXPECT_EQ(strip->pointAt(oldest.toPoint()), 0u);
  QTest::mouseMove(strip, oldest.toPoint());
  EXPECT_EQ(strip->hovered(), 0u);

  QTest::mouseClick(strip, Qt::LeftButton, {}, oldest.toPoint());
  ASSERT_TRUE(viewtests::waitFor([&] { return window->browser()->comparing().comparison() != nullptr; }));
  EXPECT_EQ(window->browser()->comparing().comparison()->baselineURL(), folder / "srv-2.tfsnap");

  toggle->trigger();
  EXPECT_FALSE(strip->isVisible());
}

}  // namespace
