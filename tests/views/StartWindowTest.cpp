#include "ViewTestSupport.h"

#include "model/DocumentController.h"
#include "model/ScanController.h"
#include "model/Settings.h"
#include "shell/AppDelegate.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/SettingsView.h"
#include "views/WelcomeView.h"
#include "views/WelcomeWindow.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

using testsupport::Node;

class StartWindowTest : public ::testing::Test {
 protected:
  std::filesystem::path snapshotsFolder() const { return settings.snapshotsFolder(); }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  tallyfox::Settings settings{tallyfox::Preferences::standard()};
  tallyfox::DocumentController documents{
      settings, viewtests::recordingDesktop(std::make_shared<viewtests::DesktopLog>())};
  tallyfox::ScanController scans{documents, settings};
  tallyfox::AppDelegate app{scans, documents, settings};
};

QStringList titlesOf(const std::vector<tallyfox::TargetButton*>& buttons) {
  QStringList titles;
  for (auto* b : buttons) titles << b->title();
  return titles;
}

TEST_F(StartWindowTest, ScanFromTheStartWindowOpensTheNewSnapshot) {
  app.launch({});
  tallyfox::WelcomeWindow* welcome = app.welcomeWindow();
  ASSERT_NE(welcome, nullptr);
  EXPECT_TRUE(welcome->isVisible());
  EXPECT_EQ(welcome->windowTitle(), QStringLiteral("Welcome to Tallyfox"));
  tallyfox::WelcomeView* view = app.welcomeView();
  EXPECT_EQ(titlesOf(view->targetButtons()),
            (QStringList{QStringLiteral("Whole Disk"), QStringLiteral("Home"), QStringLiteral("Caches"),
                         QStringLiteral("Downloads"), QStringLiteral("Choose…"),
                         QStringLiteral("Remote Folder…"), QStringLiteral("Whole Disk as Administrator…")}));
  EXPECT_TRUE(view->recentRows().empty());
  EXPECT_TRUE(view->folderText().startsWith(QStringLiteral("Snapshots save to ~/")));

  // A folder of a few hundred entries, so that the scan shows progress for a moment.
  const std::filesystem::path folder = dir / "scanned";
  for (int i = 0; i < 40; ++i)
    for (int j = 0; j < 10; ++j)
      testsupport::writeFile(folder / ("d" + std::to_string(i)) / ("f" + std::to_string(j)),
                             std::string(100 * j, 'x'));

  QSignalSpy opened(&app, &tallyfox::AppDelegate::windowOpened);
  scans.scan(QString::fromStdString(folder.string()));
  EXPECT_TRUE(view->isShowingProgress());
  EXPECT_EQ(view->progressTitle(), QStringLiteral("Scanning ") + QString::fromStdString(folder.string()));
  EXPECT_TRUE(view->progressLine().endsWith(QStringLiteral("s"))) << view->progressLine().toStdString();
  EXPECT_TRUE(view->progressLine().contains(QStringLiteral(" entries · ")));

  ASSERT_TRUE(opened.wait(30000)) << "no browser window opened";
  ASSERT_EQ(app.browserWindows().size(), 1u);
  tallyfox::BrowserWindow* window = app.browserWindows().front();
  EXPECT_EQ(window->file().parent_path(), std::filesystem::weakly_canonical(snapshotsFolder()));
  ASSERT_TRUE(viewtests::waitFor([&] { return window->browser()->state().isReady(); }));
  EXPECT_EQ(window->browser()->tree()->nodeCount(), 440);
  // The start window goes when the first browser window shows.
  EXPECT_TRUE(viewtests::waitFor([&] { return app.welcomeWindow() == nullptr; }));

  // Opening the same file again brings its window forward instead of a second one.
  documents.openDocument(window->file());
  EXPECT_EQ(app.browserWindows().size(), 1u);
  EXPECT_EQ(opened.size(), 1);

  // The last browser window closing brings the start window back, with the new snapshot.
  window->close();
  ASSERT_TRUE(viewtests::waitFor([&] { return app.welcomeWindow() && app.welcomeWindow()->isVisible(); }));
  view = app.welcomeView();
  ASSERT_TRUE(viewtests::waitFor([&] { return !view->isReadingRecents(); }));
  ASSERT_EQ(view->recentRows().size(), 1u);
  EXPECT_EQ(view->recentHeadings(), QStringList{QStringLiteral("Today")});
  EXPECT_EQ(view->recentRows().front()->recent().name(), QStringLiteral("scanned"));
}

TEST_F(StartWindowTest, CancelledScanReturnsToTheTargets) {
  app.showWelcome();
  tallyfox::WelcomeView* view = app.welcomeView();
  // Large enough that the scan is still running when Cancel is clicked right after it starts.
  const std::filesystem::path folder = dir / "big";
  for (int i = 0; i < 3000; ++i)
    testsupport::writeFile(folder / ("d" + std::to_string(i % 30)) / std::to_string(i), "x");
  scans.scan(QString::fromStdString(folder.string()));
  ASSERT_TRUE(view->isShowingProgress());
  view->cancelButton()->click();
  ASSERT_TRUE(viewtests::waitFor([&] { return !scans.phase().isBusy(); }));
  EXPECT_FALSE(view->isShowingProgress());
  EXPECT_TRUE(app.browserWindows().empty());
  EXPECT_EQ(view->failureText(), QString());
}

TEST_F(StartWindowTest, SpeedPickers) {
  app.showWelcome();
  tallyfox::WelcomeView* view = app.welcomeView();
  EXPECT_EQ(view->speedCaption(), QString());
  view->savedSpeedPicker()->pick(tallyfox::ScanSpeed::gentle);
  EXPECT_EQ(settings.scanSpeed(), tallyfox::ScanSpeed::gentle);
  EXPECT_EQ(view->speedCaption(), QStringLiteral("barely noticeable, ~3× slower"));

  // The picker of a running scan changes that scan only, not the saved speed.
  const std::filesystem::path folder = dir / "some";
  for (int i = 0; i < 100; ++i) testsupport::writeFile(folder / std::to_string(i), "x");
  scans.scan(QString::fromStdString(folder.string()));
  view->runningSpeedPicker()->pick(tallyfox::ScanSpeed::fast);
  EXPECT_EQ(scans.speed(), tallyfox::ScanSpeed::fast);
  EXPECT_EQ(settings.scanSpeed(), tallyfox::ScanSpeed::gentle);
  if (const auto& scanner = scans.scanner()) scanner->cancel();
  ASSERT_TRUE(viewtests::waitFor([&] { return !scans.phase().isBusy(); }));
}

TEST_F(StartWindowTest, ClosingTheStartWindowAloneQuits) {
  QSignalSpy quit(&app, &tallyfox::AppDelegate::quitRequested);
  app.showWelcome();
  app.welcomeWindow()->close();
  EXPECT_EQ(quit.size(), 1);
}

TEST_F(StartWindowTest, ClosingTheStartWindowDuringAScanKeepsTheScan) {
  QSignalSpy quit(&app, &tallyfox::AppDelegate::quitRequested);
  QSignalSpy opened(&app, &tallyfox::AppDelegate::windowOpened);
  int asked = 0;
  bool answerQuit = false;
  app.setQuitDuringScanQuestion([&](QWidget*) {
    ++asked;
    return answerQuit;
  });
  const std::filesystem::path folder = dir / "tree";
  for (int i = 0; i < 200; ++i)
    testsupport::writeFile(folder / ("d" + std::to_string(i % 20)) / std::to_string(i), "x");

  // Kept: the snapshot opens when the scan is done, after the start window has gone.
  app.showWelcome();
  scans.scan(QString::fromStdString(folder.string()));
  app.welcomeWindow()->close();
  EXPECT_EQ(asked, app.hasTray() ? 0 : 1);
  EXPECT_EQ(quit.size(), 0);
  ASSERT_TRUE(opened.wait(30000)) << "the finished scan opened no window";
  EXPECT_EQ(app.browserWindows().size(), 1u);
  EXPECT_EQ(app.browserWindows().front()->file().extension(), ".tfsnap");
  app.browserWindows().front()->close();
  ASSERT_TRUE(viewtests::waitFor([&] { return app.browserWindows().empty(); }));

  // Asked and answered with Quit: the scan stops and nothing opens.
  if (app.hasTray()) return;
  answerQuit = true;
  app.showWelcome();
  scans.scan(QString::fromStdString(folder.string()));
  app.welcomeWindow()->close();
  EXPECT_EQ(quit.size(), 1);
  ASSERT_NE(scans.scanner(), nullptr);
  EXPECT_TRUE(scans.scanner()->isCancelled());
  ASSERT_TRUE(viewtests::waitFor([&] { return !scans.phase().isBusy(); }));
}

TEST_F(StartWindowTest, FilesAtLaunchOpenWithoutTheStartWindow) {
  const auto a = viewtests::writeSnapshot(dir / "a.tfsnap", {{-1, "a"}, {0, "x", 10}});
  const auto b = viewtests::writeSnapshot(dir / "b.tfsnap", {{-1, "b"}, {0, "y", 10}});
  app.launch({a, b});
  EXPECT_EQ(app.browserWindows().size(), 2u);
  EXPECT_TRUE(app.welcomeWindow() == nullptr || !app.welcomeWindow()->isVisible());
  ASSERT_NE(app.windowFor(a), nullptr);
  // One of two windows closing leaves the start window away.
  app.windowFor(a)->close();
  QCoreApplication::processEvents();
  EXPECT_TRUE(viewtests::waitFor([&] { return app.browserWindows().size() == 1; }));
  EXPECT_TRUE(app.welcomeWindow() == nullptr || !app.welcomeWindow()->isVisible());
}

TEST_F(StartWindowTest, RecentSnapshotsAreReadOnceAndReachableByKeys) {
  std::filesystem::create_directories(snapshotsFolder());
  for (const char* name : {"one", "two", "three"})
    viewtests::writeSnapshot(snapshotsFolder() / (std::string(name) + ".tfsnap"), {{-1, name}, {0, "x", 10}},
                             std::string("/srv/") + name);
  app.showWelcome();
  tallyfox::WelcomeView* view = app.welcomeView();
  QSignalSpy shown(view, &tallyfox::WelcomeView::recentsShown);
  ASSERT_TRUE(shown.wait(30000));
  QCoreApplication::processEvents();
  EXPECT_EQ(shown.size(), 1) << "listed more than once at start";
  ASSERT_EQ(view->recentRows().size(), 3u);

  app.welcomeWindow()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(app.welcomeWindow()));
  tallyfox::RecentRow* first = view->recentRows().front();
  first->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(first->hasFocus());
  QTest::keyClick(first, Qt::Key_Down);
  tallyfox::RecentRow* second = view->recentRows()[1];
  EXPECT_TRUE(second->hasFocus());
  QTest::keyClick(second, Qt::Key_Up);
  EXPECT_TRUE(first->hasFocus());
  QSignalSpy opened(&app, &tallyfox::AppDelegate::windowOpened);
  QTest::keyClick(first, Qt::Key_Down);
  QTest::keyClick(second, Qt::Key_Return);
  ASSERT_EQ(opened.size(), 1);
  EXPECT_NE(app.windowFor(second->recent().url), nullptr);
}

TEST_F(StartWindowTest, TrayMenuOffersScansAndRecentSnapshots) {
  const auto file = viewtests::writeSnapshot(dir / "recent.tfsnap", {{-1, "r"}, {0, "x", 10}}, "/srv/media");
  documents.noteRecentDocument(file);
  QMenu menu;
  app.fillTrayMenu(&menu);
  QStringList texts;
  for (QAction* action : menu.actions())
    if (!action->isSeparator()) texts << action->text();
  ASSERT_GE(texts.size(), 8);
  EXPECT_EQ(texts.mid(0, 7), (QStringList{QStringLiteral("Start Window"), QStringLiteral("New Scan…"),
                                          QStringLiteral("Scan Whole Disk"), QStringLiteral("Scan Home"),
                                          QStringLiteral("Scan Caches"), QStringLiteral("Scan Downloads"),
                                          QStringLiteral("Scan Folder…")}));
  EXPECT_TRUE(texts[7].startsWith(QStringLiteral("media — Today, "))) << texts[7].toStdString();

  for (QAction* action : menu.actions())
    if (action->text() == texts[7]) action->trigger();
  EXPECT_NE(app.windowFor(file), nullptr);
}

}  // namespace

namespace {

TEST_F(StartWindowTest, SettingsWriteTheSharedSpeedAndSnapshotsFolder) {
  app.launch({});
  // Settings… (Ctrl+,) in the start window's menu opens one window, brought forward after.
  QAction* settingsItem = nullptr;
  for (QAction* menu : app.welcomeWindow()->menuBar()->actions())
    for (QAction* item : menu->menu()->actions())
      if (item->text() == QStringLiteral("Settings…")) settingsItem = item;
  ASSERT_NE(settingsItem, nullptr);
  EXPECT_EQ(settingsItem->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
  settingsItem->trigger();
  tallyfox::SettingsView* view = app.settingsView();
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->isVisible());
  settingsItem->trigger();
  EXPECT_EQ(app.settingsView(), view);

  // The speed goes to the store tfscan reads.
  EXPECT_TRUE(view->speedPicker()->button(int(tallyfox::ScanSpeed::fast))->isChecked());
  view->speedPicker()->button(int(tallyfox::ScanSpeed::gentle))->click();
  EXPECT_EQ(tallyfox::Preferences::standard()->getString(tallyfox::Preferences::scanSpeedKey), "gentle");

  // A folder in the home folder is kept with "~"; the default comes back with Use Default.
  EXPECT_TRUE(view->useDefaultButton()->isHidden());
  const std::filesystem::path chosen = home.path() / "Snaps";
  view->setChooser([&](tallyfox::Settings& s, QWidget*) {
    s.setSnapshotsFolder(chosen);
    return true;
  });
  view->chooseButton()->click();
  EXPECT_EQ(tallyfox::Preferences::standard()->getString(tallyfox::Preferences::snapshotsFolderKey),
            "~/Snaps");
  EXPECT_EQ(view->folderLabel()->text(), QStringLiteral("~/Snaps"));
  EXPECT_FALSE(view->useDefaultButton()->isHidden());

  // Reveal makes the folder first, so that there is something to show.
  auto log = std::make_shared<viewtests::DesktopLog>();
  testsupport::RecordingDesktop recorder;
  recorder.state = log;
  tallyfox::SettingsView::revealSnapshotsFolder(settings, *recorder.desktop().fileManager);
  EXPECT_TRUE(std::filesystem::is_directory(chosen));
  EXPECT_EQ(log->revealed, QByteArrayList{QByteArray::fromStdString(chosen.string())});

  view->useDefaultButton()->click();
  EXPECT_FALSE(tallyfox::Preferences::standard()->get(tallyfox::Preferences::snapshotsFolderKey));
  EXPECT_EQ(view->folderLabel()->text(), settings.snapshotsFolderText());
  EXPECT_TRUE(view->useDefaultButton()->isHidden());
}

}  // namespace
