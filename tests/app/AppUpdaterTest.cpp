#include "FolderSnapshot.h"
#include "ModelTestSupport.h"
#include "model/AppUpdater.h"
#include "model/DocumentController.h"
#include "model/Duplicates.h"
#include "model/ScanController.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>

#include <gtest/gtest.h>

#include <QTest>

#include <thread>

using namespace tallyfox;
using testsupport::waitFor;

namespace {

namespace fs = std::filesystem;

using FakeDriver = testsupport::FakeUpdaterDriver;

class AppUpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Preferences::standard()->set(Preferences::snapshotsFolderKey, (home.path() / "snapshots").string());
    updater.setIdleCheckInterval(std::chrono::milliseconds(5));
  }

  // Downloaded `version`; its installation is recorded as the version, "+relaunch" when the
  // app is to start again.
  void downloaded(const QString& version) {
    driver->listener->updateReady(version, [this, version](bool relaunch) {
      installed << version + (relaunch ? QStringLiteral("+relaunch") : QString());
    });
  }
  // Long enough for the repeating check to have run a good many times.
  void letTheCheckRun() { QTest::qWait(60); }

  testsupport::ScopedHome home;
  Settings settings{Preferences::standard()};
  DocumentController documents{settings, {}};
  ScanController scans{documents, settings};
  std::shared_ptr<FakeDriver::State> driver = std::make_shared<FakeDriver::State>();
  double idleSeconds = 0;
  QStringList logged, installed;
  AppUpdater updater{std::make_unique<FakeDriver>(driver), scans, documents, [this] { return idleSeconds; },
                     [this](const QString& line) { logged << line; }};
};

TEST_F(AppUpdaterTest, InstallsAfterTenIdleMinutesWithNothingLongRunning) {
  EXPECT_FALSE(updater.canCheckForUpdates());
  updater.start();
  ASSERT_NE(driver->listener, nullptr);
  EXPECT_TRUE(updater.isStarted());
  EXPECT_EQ(driver->checks, 1);
  updater.start();  // once only
  EXPECT_EQ(driver->checks, 1);
  EXPECT_TRUE(updater.canCheckForUpdates());
  updater.checkForUpdates();
  EXPECT_EQ(driver->checks, 2);

  driver->listener->updateFound(QStringLiteral("2.1"));
  EXPECT_FALSE(updater.isIdleCheckRunning());
  downloaded(QStringLiteral("2.1"));
  EXPECT_TRUE(updater.isUpdateWaiting());
  EXPECT_TRUE(updater.isIdleCheckRunning());
  // Already downloaded: checking again would only fetch it a second time.
  EXPECT_FALSE(updater.canCheckForUpdates());
  updater.checkForUpdates();
  EXPECT_EQ(driver->checks, 2);

  idleSeconds = 9 * 60;
  letTheCheckRun();
  EXPECT_TRUE(installed.isEmpty());
  idleSeconds = 599.9;
  letTheCheckRun();
  EXPECT_TRUE(installed.isEmpty());

  idleSeconds = 10 * 60;
  ASSERT_TRUE(waitFor([&] { return !installed.isEmpty(); }));
  EXPECT_EQ(installed, QStringList{QStringLiteral("2.1+relaunch")});
  EXPECT_FALSE(updater.isIdleCheckRunning());
  EXPECT_FALSE(updater.isUpdateWaiting());
  EXPECT_EQ(logged, (QStringList{QStringLiteral("[Tallyfox] Downloading update 2.1"),
                                 QStringLiteral("[Tallyfox] Update 2.1 ready; waiting for idle or quit"),
                                 QStringLiteral("[Tallyfox] Idle 10 min with no scan: installing update")}));
  // Nothing is left to install a second time when the app then ends.
  updater.installAtQuit();
  EXPECT_EQ(installed.size(), 1);
}

TEST_F(AppUpdaterTest, AWholeScanKeepsTheUpdateWaiting) {
  const fs::path tree = home.path() / "tree";
  for (int k = 0; k < 2000; ++k)
    testsupport::writeFile(tree / std::to_string(k % 20) / std::to_string(k), "");
  updater.start();
  downloaded(QStringLiteral("3.0"));
  idleSeconds = 3600;

  scans.scan(QString::fromStdString(tree.string()));
  ASSERT_TRUE(scans.phase().isBusy());
  updater.installIfIdle();
  EXPECT_TRUE(updater.isLongWorkRunning());
  EXPECT_TRUE(installed.isEmpty());
  // The check goes on while the scan runs and installs once it, and the saving, are done.
  ASSERT_TRUE(waitFor([&] { return !installed.isEmpty(); }));
  EXPECT_FALSE(scans.phase().isBusy());
  EXPECT_EQ(installed, QStringList{QStringLiteral("3.0+relaunch")});
  EXPECT_EQ(logged.back(), QStringLiteral("[Tallyfox] Idle 60 min with no scan: installing update"));
}

TEST_F(AppUpdaterTest, ADuplicateSearchKeepsTheUpdateWaiting) {
  const fs::path folder = home.path() / "copies";
  testsupport::writeFile(folder / "a", std::string(50000, 'x'));
  testsupport::writeFile(folder / "b", std::string(50000, 'x'));
  testsupport::snapshotOfFolder(folder)->write(home.path() / "copies.tfsnap");
  BrowserModel* browser = documents.openDocument(home.path() / "copies.tfsnap");
  testsupport::waitUntilLoaded(*browser);
  updater.start();
  downloaded(QStringLiteral("3.1"));
  idleSeconds = 700;

  browser->duplicates().findDuplicates(DiskTree::root);
  ASSERT_TRUE(documents.isDuplicatesWorkRunning());
  updater.installIfIdle();
  EXPECT_TRUE(installed.isEmpty());
  ASSERT_TRUE(waitFor([&] { return !installed.isEmpty(); }));
  EXPECT_FALSE(documents.isDuplicatesWorkRunning());
  EXPECT_EQ(installed, QStringList{QStringLiteral("3.1+relaunch")});
}

TEST_F(AppUpdaterTest, ASecondDownloadReplacesTheFirst) {
  updater.start();
  downloaded(QStringLiteral("4.0"));
  idleSeconds = 300;
  letTheCheckRun();
  downloaded(QStringLiteral("4.1"));
  EXPECT_TRUE(updater.isIdleCheckRunning());
  idleSeconds = 600;
  ASSERT_TRUE(waitFor([&] { return !installed.isEmpty(); }));
  letTheCheckRun();
  EXPECT_EQ(installed, QStringList{QStringLiteral("4.1+relaunch")});
}

TEST_F(AppUpdaterTest, AFailedCycleDropsTheWaitingUpdateButNoUpdateIsNoFailure) {
  updater.start();
  downloaded(QStringLiteral("5.0"));
  driver->listener->updateCycleFailed({.noUpdateAvailable = true, .description = QStringLiteral("none")});
  EXPECT_TRUE(updater.isUpdateWaiting());
  EXPECT_TRUE(updater.isIdleCheckRunning());
  EXPECT_EQ(logged.size(), 1);

  driver->listener->updateCycleFailed(
      {.noUpdateAvailable = false, .description = QStringLiteral("bad signature")});
  EXPECT_EQ(logged.back(), QStringLiteral("[Tallyfox] Update failed: bad signature"));
  EXPECT_FALSE(updater.isUpdateWaiting());
  EXPECT_FALSE(updater.isIdleCheckRunning());
  EXPECT_TRUE(updater.canCheckForUpdates());
  idleSeconds = 1000;
  updater.installIfIdle();
  updater.installAtQuit();
  EXPECT_TRUE(installed.isEmpty());
}

TEST_F(AppUpdaterTest, AnUpdateWaitingAtQuitIsInstalledWithoutRelaunch) {
  updater.start();
  downloaded(QStringLiteral("6.0"));
  updater.installAtQuit();
  EXPECT_EQ(installed, QStringList{QStringLiteral("6.0")});
  EXPECT_FALSE(updater.isIdleCheckRunning());
}

TEST_F(AppUpdaterTest, ReportsFromTheDriversOwnThreadArriveOnTheMainThread) {
  updater.start();
  Qt::HANDLE installedOn = nullptr;
  std::thread([&] {
    driver->listener->updateFound(QStringLiteral("7.0"));
    driver->listener->updateReady(QStringLiteral("7.0"),
                                  [&](bool) { installedOn = QThread::currentThreadId(); });
  }).join();
  EXPECT_FALSE(updater.isUpdateWaiting());
  ASSERT_TRUE(waitFor([&] { return updater.isUpdateWaiting(); }));
  EXPECT_TRUE(updater.isIdleCheckRunning());
  EXPECT_EQ(logged.size(), 2);
  updater.installAtQuit();
  EXPECT_EQ(installedOn, QThread::currentThreadId());
}

TEST_F(AppUpdaterTest, TheShippedDriverFailsToStartAndSaysSo) {
  QStringList lines;
  AppUpdater shipped(
      std::make_unique<FeedlessUpdaterDriver>(), scans, documents, [] { return 0.0; },
      [&](const QString& line) { lines << line; });
  shipped.start();
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("[Tallyfox] Updater failed to start: ")))
      << lines[0].toStdString();
  EXPECT_GT(lines[0].size(), QStringLiteral("[Tallyfox] Updater failed to start: ").size());
  EXPECT_FALSE(shipped.isStarted());
  EXPECT_FALSE(shipped.canCheckForUpdates());
  shipped.checkForUpdates();  // does nothing, and does not fail
  EXPECT_EQ(lines.size(), 1);
}

}  // namespace
