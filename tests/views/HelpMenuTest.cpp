#include "ViewTestSupport.h"

#include "model/AppUpdater.h"
#include "model/DocumentController.h"
#include "model/ScanController.h"
#include "model/Settings.h"
#include "shell/AppDelegate.h"
#include "views/AboutWindow.h"
#include "views/BrowserWindow.h"
#include "views/WelcomeWindow.h"

#include <tallyfox/Preferences.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace {

QStringList menuTitles(QMainWindow* window) {
  QStringList titles;
  for (QAction* action : window->menuBar()->actions()) titles << action->text();
  return titles;
}

QAction* helpItem(QMainWindow* window, const QString& title) {
  const QList<QAction*> menus = window->menuBar()->actions();
  if (menus.isEmpty() || !menus.back()->menu()) return nullptr;
  for (QAction* item : menus.back()->menu()->actions())
    if (item->text() == title) return item;
  return nullptr;
}

QAction* checkForUpdates(QMainWindow* window) {
  return helpItem(window, QStringLiteral("Check for Updates…"));
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
  EXPECT_EQ(menuTitles(welcome),
            (QStringList{QStringLiteral("&File"), QStringLiteral("&View"), QStringLiteral("&Navigate"),
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

TEST_F(HelpMenuTest, AboutNamesTheVersionLicenceAndWhereFilesLive) {
  app.launch({});
  QAction* about = helpItem(app.welcomeWindow(), QStringLiteral("About Tallyfox"));
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(about->isEnabled());
  about->trigger();
  tallyfox::AboutWindow* window = app.aboutWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("About Tallyfox"));
  EXPECT_EQ(window->versionLabel()->text(), QStringLiteral("Version " TALLYFOX_VERSION));
  EXPECT_FALSE(window->licenceLabel()->text().isEmpty());
  const QString home = QString::fromStdString(this->home.path().string());
  EXPECT_EQ(window->snapshotsLabel()->text(), home + QStringLiteral("/.local/share/tallyfox"));
  EXPECT_TRUE(window->settingsLabel()->text().startsWith(
      home + QStringLiteral("/.config/io.quillon.Tallyfox/preferences.json")));

  // A snapshots folder chosen meanwhile, in a snapshot window's menu: one window, the new folder.
  settings.setSnapshotsFolder(dir / "elsewhere");
  window->close();
  tallyfox::BrowserWindow* browser =
      app.openWindow(viewtests::writeSnapshot(dir / "s.tfsnap", {{-1, "data"}, {0, "a", 10}}));
  ASSERT_NE(browser, nullptr);
  helpItem(browser, QStringLiteral("About Tallyfox"))->trigger();
  tallyfox::AboutWindow* again = app.aboutWindow();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->snapshotsLabel()->text(), QString::fromStdString((dir / "elsewhere").string()));
  helpItem(browser, QStringLiteral("About Tallyfox"))->trigger();
  EXPECT_EQ(app.aboutWindow(), again);
  int shown = 0;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (qobject_cast<tallyfox::AboutWindow*>(top) && top->isVisible()) ++shown;
  EXPECT_EQ(shown, 1);
}

TEST(AboutFactsTest, WithoutAHomeNothingIsKeptAndItSaysSo) {
  tallyfox::Settings none(std::nullopt);
  const tallyfox::AboutFacts facts = tallyfox::AboutFacts::of(none);
  EXPECT_EQ(facts.version, QStringLiteral(TALLYFOX_VERSION));
  EXPECT_TRUE(facts.settingsFile.isEmpty());
  tallyfox::AboutWindow window(none);
  EXPECT_TRUE(window.settingsLabel()->text().contains(QStringLiteral("not kept")));
}

}  // namespace
