#include "ViewTestSupport.h"

#include "model/DocumentController.h"
#include "model/ScanController.h"
#include "model/Settings.h"
#include "shell/AppDelegate.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/EntryList.h"
#include "views/SunburstView.h"

#include <gtest/gtest.h>

#include <QScreen>

// Run on the default offscreen screen (narrower than the window's minimum width) and again,
// by CTest, on the screens TALLYFOX_TEST_SCREEN names.
namespace {

class WindowSizeTest : public ::testing::Test {
 protected:
  tallyfox::BrowserWindow* open(const std::string& name) {
    const auto file = viewtests::writeSnapshot(dir / name, {{-1, "r"}, {0, "a", 10}, {0, "b", 5}});
    tallyfox::BrowserWindow* window = app.openWindow(file);
    EXPECT_TRUE(viewtests::waitFor([&] { return window->browser()->state().isReady(); }));
    return window;
  }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  tallyfox::Settings settings{tallyfox::Preferences::standard()};
  tallyfox::DocumentController documents{
      settings, viewtests::recordingDesktop(std::make_shared<viewtests::DesktopLog>())};
  tallyfox::ScanController scans{documents, settings};
  tallyfox::AppDelegate app{scans, documents, settings};
};

// The whole window lies on the screen, and so does the list with its size column; where the
// screen has room the chart and the list keep their minimum sizes.
void expectFits(tallyfox::BrowserWindow& window) {
  const QRect available = window.screen()->availableGeometry();
  SCOPED_TRACE(QStringLiteral("screen %1x%2, window %3x%4")
                   .arg(available.width())
                   .arg(available.height())
                   .arg(window.width())
                   .arg(window.height())
                   .toStdString());
  EXPECT_LE(window.frameGeometry().width(), available.width());
  EXPECT_LE(window.frameGeometry().height(), available.height());
  tallyfox::EntryList* list = window.view()->list();
  const QRect listInWindow(list->mapTo(&window, QPoint(0, 0)), list->size());
  EXPECT_FALSE(listInWindow.isEmpty());
  EXPECT_TRUE(window.rect().contains(listInWindow));
  if (available.width() >= 900 && available.height() >= 640) {
    EXPECT_GE(window.view()->width(), 820);
    EXPECT_GE(window.view()->height(), 520);
    EXPECT_GE(list->width(), 380);
    EXPECT_GE(window.view()->chart()->width(), 320);
  }
}

TEST_F(WindowSizeTest, NewWindowFitsTheScreenAndTakesTheLastOnesSize) {
  tallyfox::BrowserWindow* first = open("first.tfsnap");
  expectFits(*first);

  // A window made smaller is where the next one starts.
  const QSize smaller = (first->size() - QSize(30, 20)).expandedTo(first->minimumSize());
  first->resize(smaller);
  first->close();
  EXPECT_EQ(settings.browserWindowSize(), smaller);
  tallyfox::BrowserWindow* second = open("second.tfsnap");
  EXPECT_EQ(second->size(), smaller);

  // A size remembered from a larger screen is cut down to this one.
  settings.setBrowserWindowSize({5000, 4000});
  expectFits(*open("third.tfsnap"));
}

}  // namespace
