#include "ViewTestSupport.h"

#include "model/BrowserCommands.h"
#include "model/Comparison.h"
#include "model/Format.h"
#include "model/Settings.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/CompareBar.h"
#include "views/TitleSwitcher.h"
#include "views/WelcomeView.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QMenu>
#include <QSignalSpy>

// Scan times read to the minute everywhere a window or the start window names a snapshot,
// and to the second only where two snapshots of one place would otherwise read the same.
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;
using tallyfox::Format::abbreviatedDateTime;

// Yesterday at 12:00:30, so that every snapshot lies in the past and on one day.
Clock::time_point yesterdayNoon() {
  const QDateTime noon(QDate::currentDate().addDays(-1), QTime(12, 0, 30));
  return Clock::time_point(std::chrono::milliseconds(noon.toMSecsSinceEpoch()));
}

class ScanTimesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(snapshots);
    // This window's snapshot; one of the same place ten seconds before, in the same minute;
    // one two days before; and one of another place in the same minute.
    write("own.tfsnap", "/data", own);
    write("twin.tfsnap", "/data", twin);
    write("older.tfsnap", "/data", older);
    write("other.tfsnap", "/srv", own - std::chrono::seconds(5));
  }

  void write(const char* name, const std::string& root, Clock::time_point started) {
    tallyfox::SnapshotFile::write(testsupport::columnsOf({{-1, "x"}, {0, "a", 10}}), {root, started, 1.0},
                                  snapshots / name);
  }

  testsupport::ScopedHome home;
  tallyfox::Settings settings{tallyfox::Preferences::standard()};
  fs::path snapshots = settings.snapshotsFolder();
  Clock::time_point own = yesterdayNoon();
  Clock::time_point twin = own - std::chrono::seconds(10);
  Clock::time_point older = own - std::chrono::hours(48);
};

TEST_F(ScanTimesTest, AWindowNamesItsSnapshotAndComparisonsToTheMinute) {
  viewtests::TestApp shell{settings};
  tallyfox::BrowserWindow* window = shell.app.openWindow(snapshots / "own.tfsnap");
  tallyfox::BrowserModel& model = *window->browser();
  testsupport::waitUntilLoaded(model);
  ASSERT_TRUE(viewtests::waitFor([&] { return model.comparing().comparisonCandidates().size() == 2; }));

  // The twin started in the same minute as this snapshot: both read to the second.
  EXPECT_EQ(model.windowSubtitle(), "Snapshot from " + abbreviatedDateTime(own, {}, true));
  EXPECT_TRUE(window->windowTitle().endsWith(abbreviatedDateTime(own, {}, true)));

  const tallyfox::BrowserCommand* compareWith = tallyfox::BrowserCommands::find("compareWith");
  QStringList titles;
  for (const auto& choice : compareWith->choices(model)) titles << choice.title;
  EXPECT_EQ(titles, (QStringList{abbreviatedDateTime(twin, {}, true) + " — /data",
                                 abbreviatedDateTime(older) + " — /data", "Other Snapshot…"}));

  auto* bar = window->view()->findChild<tallyfox::CompareBar*>();
  model.comparing().compare(snapshots / "older.tfsnap");
  ASSERT_TRUE(viewtests::waitFor([&] { return model.comparing().comparison() != nullptr; }));
  EXPECT_EQ(bar->text(), "Changes since " + abbreviatedDateTime(older));
  EXPECT_FALSE(bar->text().contains(":30"));

  model.comparing().compare(snapshots / "twin.tfsnap");
  ASSERT_TRUE(viewtests::waitFor(
      [&] { return model.comparing().comparison()->baselineURL() == snapshots / "twin.tfsnap"; }));
  EXPECT_EQ(bar->text(), "Changes since " + abbreviatedDateTime(twin, {}, true));

  // Without the twin, nothing of this place shares the minute.
  fs::remove(snapshots / "twin.tfsnap");
  model.comparing().stop();
  model.comparing().refreshCandidates();
  ASSERT_TRUE(viewtests::waitFor([&] { return model.comparing().comparisonCandidates().size() == 1; }));
  EXPECT_EQ(model.windowSubtitle(), "Snapshot from " + abbreviatedDateTime(own));
  EXPECT_TRUE(window->windowTitle().endsWith(abbreviatedDateTime(own)));
}

TEST_F(ScanTimesTest, RecentListsTellSnapshotsOfOnePlaceAndDayApart) {
  viewtests::TestApp shell{settings};
  const QString plain = tallyfox::Format::shortTime(QTime(12, 0));
  const QString ownTime = tallyfox::Format::shortTime(QTime(12, 0, 30), QLocale(), true);
  const QString twinTime = tallyfox::Format::shortTime(QTime(12, 0, 20), QLocale(), true);

  // The start window: each row carries its time beside the name.
  shell.app.showWelcome();
  tallyfox::WelcomeView* start = shell.app.welcomeView();
  QSignalSpy shown(start, &tallyfox::WelcomeView::recentsShown);
  ASSERT_TRUE(shown.wait(30000));
  std::map<fs::path, QString> times;
  for (tallyfox::RecentRow* row : start->recentRows()) {
    times[row->recent().url.filename()] = row->time();
    EXPECT_TRUE(row->accessibleName().endsWith(row->time())) << row->accessibleName().toStdString();
  }
  EXPECT_EQ(times, (std::map<fs::path, QString>{{"own.tfsnap", ownTime},
                                                {"twin.tfsnap", twinTime},
                                                {"other.tfsnap", plain},
                                                {"older.tfsnap", plain}}));

  // The title switcher, under the same day's heading.
  tallyfox::BrowserWindow* window = shell.app.openWindow(snapshots / "own.tfsnap");
  testsupport::waitUntilLoaded(*window->browser());
  QMenu menu;
  window->view()->findChild<tallyfox::TitleSwitcher*>()->fillMenu(menu);
  QStringList items;
  for (const QAction* action : menu.actions())
    if (!action->isSeparator() && action->isEnabled() && action->isCheckable()) items << action->text();
  EXPECT_EQ(items, (QStringList{"data  " + ownTime, "srv  " + plain, "data  " + twinTime, "data  " + plain}));
}

}  // namespace
