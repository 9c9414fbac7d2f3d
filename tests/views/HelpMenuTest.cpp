#include "ViewTestSupport.h"

#include "model/AppUpdater.h"
#include "model/DocumentController.h"
#include "model/ScanController.h"
#include "model/Settings.h"
#include "shell/AppDelegate.h"
#include "views/BrowserWindow.h"
#include "views/WelcomeWindow.h"

#include <tallyfox/Preferences.h>

#include <gtest/gtest.h>

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace {

QStringList menuTitles(QMainWindow* window) {
  QStringList titles;
  for (QAction* action : window->menuBar()->actions()) titles << action->text();
  return titles;
}

QAction* checkForUpdates(QMainWindow* window) {
  const QList<QAction*> menus = window->menuBar()->actions();
  if (menus.isEmpty() || !menus.back()->menu()) return nullptr;
  for (QAction* item : menus.back()->menu()->actions())
    if (item->text() == QStringLiteral("Check for Updates…")) return item;
  return nullptr;
}

class HelpMenuTest : public ::testing::Test {
 protected:
  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  tallyfox::Settings settings{tallyfox::Preferences::standard()};
  viewtests::TestApp shell{settings};
  std::shared_ptr<testsupport::FakeUpdaterDriver::State>& driver = shell.driver;
  tallyfox::AppUpdater& updater = shell.updater;
  tallyfox::AppDelegate& app = shell.app;
};

TEST_F(HelpMenuTest, CheckForUpdatesIsOfferedWhileNothingWaits) {
  updater.start();
  app.launch({});
  tallyfox::WelcomeWindow* welcome = app.welcomeWindow();
  ASSERT_NE(welcome, nullptr);
  EXPECT_EQ(menuTitles(welcome), (QStringList{QStringLiteral("&File"), QStringLiteral("&Navigate"),
                                              QStringLiteral("&Window"), QStringLiteral("&Help")}));
  QAction* check = checkForUpdates(welcome);
  ASSERT_NE(check, nullptr);
  EXPECT_TRUE(check->isEnabled());
  check->trigger();
  EXPECT_EQ(driver->checks, 2);  // the one at start, then this

  tallyfox::BrowserWindow* window =
      app.openWindow(viewtests::writeSnapshot(dir / "s.tfsnap", {{-1, "data"}, {0, "a", 10}}));
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(menuTitles(window).back(), QStringLiteral("&Help"));
  QAction* inBrowser = checkForUpdates(window);
  ASSERT_NE(inBrowser, nullptr);
  EXPECT_TRUE(inBrowser->isEnabled());

  // A downloaded update waits: the item stays, but asks nothing of the driver.
  driver->listener->updateReady(QStringLiteral("2.0"), [](bool) {});
  EXPECT_TRUE(inBrowser->isEnabled());
  inBrowser->trigger();
  EXPECT_EQ(driver->checks, 2);
  driver->listener->updateCycleFailed({.noUpdateAvailable = false, .description = QStringLiteral("gone")});
  inBrowser->trigger();
  EXPECT_EQ(driver->checks, 3);
}

TEST_F(HelpMenuTest, AnUpdaterThatDidNotStartIgnoresTheCheck) {
  driver->startError = QStringLiteral("no feed");
  updater.start();
  app.launch({});
  QAction* check = checkForUpdates(app.welcomeWindow());
  ASSERT_NE(check, nullptr);
  EXPECT_TRUE(check->isEnabled());
  check->trigger();
  EXPECT_EQ(driver->checks, 0);
}

}  // namespace
