#include "ModelTestSupport.h"
#include "model/BrowserModel.h"
#include "model/DocumentController.h"
#include "model/Format.h"
#include "model/RecentSnapshot.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <QLocale>

#include <cstdlib>
#include <stdexcept>

using namespace tallyfox;
using namespace std::chrono_literals;
using testsupport::Node;

namespace {

namespace fs = std::filesystem;

const std::vector<Node> small = {{-1, ""}, {0, "a", 1000}, {0, "b", 234}};

TEST(RecentSnapshot, FindsFinishedSnapshotsNewestFirst) {
  testsupport::ScopedHome home;
  const fs::path snapshots = home.path() / "snaps";
  fs::create_directories(snapshots);
  Preferences::standard()->set(Preferences::snapshotsFolderKey, snapshots.string());
  const auto now = std::chrono::system_clock::now();
  testsupport::writeSnapshot(snapshots / "old.tfsnap", small, "/data", now - 48h);
  testsupport::writeSnapshot(snapshots / "new.tfsnap", small, "/data", now - 1h);
  testsupport::writeFile(snapshots / "notes.txt", "not a snapshot");

  // Still being written: the header says the scan is not finished.
  testsupport::writeSnapshot(snapshots / "unfinished.tfsnap", small, "/data", now);
  auto bytes = testsupport::readBytes(snapshots / "unfinished.tfsnap");
  const auto header =
      SnapshotFile::header(SnapshotFile::State::scanning, 3, {"/data", now, 0}, SnapshotFile::layout(3, 2));
  std::copy(header.begin(), header.end(), bytes.begin());
  testsupport::writeBytes(snapshots / "unfinished.tfsnap", bytes);

  // The sibling tool's folder and file; ours cannot read them, so they list as vok.
  testsupport::writeFile(home.path() / ".local/share/vok-snap/home.vok", "VOKSNAP");
  testsupport::writeFile(home.path() / ".vok", "VOKSNAP");

  // Recent documents: one in a temporary place, one already listed, one gone, one elsewhere.
  testsupport::TempDir temporary;
  testsupport::writeSnapshot(temporary / "tmp.tfsnap", small, "/data", now);
  testsupport::writeSnapshot(home.path() / "elsewhere.tfsnap", small, "/elsewhere", now - 30min);
  Settings settings(Preferences::standard());
  DocumentController documents(settings, {});
  documents.noteRecentDocument(temporary / "tmp.tfsnap");
  documents.noteRecentDocument(snapshots / "new.tfsnap");
  documents.noteRecentDocument(home.path() / "gone.tfsnap");
  documents.noteRecentDocument(home.path() / "elsewhere.tfsnap");

  const auto found = RecentSnapshot::find(12, snapshots, documents.recentDocuments());
  std::vector<std::string> names;
  for (const auto& r : found) names.push_back(r.url.filename().string());
  // The vok files carry their modification time, which is now.
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(std::vector(names.begin() + 2, names.end()),
            (std::vector<std::string>{"elsewhere.tfsnap", "new.tfsnap", "old.tfsnap"}));
  EXPECT_TRUE(found[0].isVok && found[1].isVok);
  EXPECT_EQ(found[4].entries, 2);
  EXPECT_EQ(found[4].totalBytes, 1234u);
  EXPECT_EQ(found[4].root, "/data");
  EXPECT_FALSE(found[0].entries.has_value());
  EXPECT_FALSE(found[0].totalBytes.has_value());

  EXPECT_EQ(RecentSnapshot::find(2, snapshots, documents.recentDocuments()).size(), 2u);
}

TEST(RecentSnapshot, NamesAndDetails) {
  RecentSnapshot own{"/s/x.tfsnap", "/data/projects", {}, 1234567, 4'500'000'000ull, false};
  EXPECT_EQ(own.name(), "projects");
  EXPECT_EQ(own.detail(), "/data/projects \u00B7 " + Format::bytes(4'500'000'000ull) + " \u00B7 " +
                              Format::compactCount(1234567) + " items");

  const QString volume = BrowserModel::displayName("/");
  EXPECT_EQ((RecentSnapshot{"/s/r.tfsnap", "/", {}, 1, 1, false}).name(), volume);
  EXPECT_EQ((RecentSnapshot{"/s/d.tfsnap", "/System/Volumes/Data", {}, 1, 1, false}).name(), volume);

  testsupport::ScopedHome home;
  RecentSnapshot vok{
      home.path() / "p.vok", (home.path() / "Projects").string(), {}, std::nullopt, std::nullopt, true};
  EXPECT_EQ(vok.detail(), "~/Projects \u00B7 vok");
  RecentSnapshot unnamed{"/s/mystery.vok", "", {}, std::nullopt, std::nullopt, true};
  EXPECT_EQ(unnamed.name(), "mystery.vok");
  EXPECT_EQ(unnamed.detail(), "vok");
}

TEST(RecentSnapshot, ExportsShowTheirScannedPathAndTime) {
  testsupport::TempDir temp;
  const fs::path file = temp / "server.json";
  testsupport::writeFile(file, R"([1,2,{"progname":"ncdu","timestamp":1700000000},
[{"name":"/srv/www"},{"name":"index.html","dsize":4096}]])");
  const auto recent = RecentSnapshot::from(file);
  ASSERT_TRUE(recent);
  EXPECT_EQ(recent->root, "/srv/www");
  EXPECT_EQ(recent->date, std::chrono::system_clock::time_point(std::chrono::seconds(1700000000)));
  EXPECT_FALSE(recent->isVok);
  EXPECT_EQ(recent->detail(), "/srv/www");

  testsupport::writeFile(file, "[1,2,{\"progname\":");  // cut short: not listed
  EXPECT_FALSE(RecentSnapshot::from(file));
}

TEST(RecentSnapshot, DayHeadings) {
  const QDateTime now(QDate(2024, 3, 15), QTime(10, 0));  // a Friday
  auto at = [](QDate day, QTime time) {
    return std::chrono::system_clock::time_point(
        std::chrono::milliseconds(QDateTime(day, time).toMSecsSinceEpoch()));
  };
  auto heading = [&](QDate day, QTime time = QTime(23, 59)) {
    return RecentSnapshot{"/x", "", at(day, time), {}, {}, false}.dayHeading(now);
  };
  EXPECT_EQ(heading(QDate(2024, 3, 15), QTime(0, 1)), "Today");
  EXPECT_EQ(heading(QDate(2024, 3, 14)), "Yesterday");
  EXPECT_EQ(heading(QDate(2024, 3, 12)), QLocale().dayName(2));
  EXPECT_EQ(heading(QDate(2024, 3, 9)), QLocale().dayName(6));
  EXPECT_EQ(heading(QDate(2024, 3, 8)), Format::abbreviatedDate(QDate(2024, 3, 8)));
  EXPECT_EQ(heading(QDate(2024, 3, 20)), Format::abbreviatedDate(QDate(2024, 3, 20)));
  // A file whose date could not be read still gets a heading.
  EXPECT_EQ(
      (RecentSnapshot{"/x", "", std::chrono::system_clock::time_point::min(), {}, {}, true}).dayHeading(now),
      "Earlier");
}

TEST(Format, DatesFollowTheLocale) {
  const QDate date(2024, 1, 5);
  EXPECT_EQ(Format::abbreviatedDate(date, QLocale(QLocale::English, QLocale::UnitedKingdom)), "5 Jan 2024");
  EXPECT_EQ(Format::abbreviatedDate(date, QLocale(QLocale::English, QLocale::UnitedStates)), "Jan 5, 2024");
  const QString german = Format::abbreviatedDate(date, QLocale(QLocale::German, QLocale::Germany));
  EXPECT_TRUE(german.startsWith(QStringLiteral("5. Jan")) && german.endsWith(QStringLiteral("2024")))
      << german.toStdString();
  const QString japanese = Format::abbreviatedDate(date, QLocale(QLocale::Japanese, QLocale::Japan));
  EXPECT_TRUE(japanese.startsWith(QStringLiteral("2024")) && !japanese.contains(QStringLiteral("金")))
      << japanese.toStdString();
}

// Scan times read to the minute, whatever the locale's own short style says (the C locale's
// has seconds); seconds come in only where asked for.
TEST(Format, TimesLeaveOutSecondsUnlessAskedFor) {
  const QTime time(13, 45, 18);
  const QLocale c = QLocale::c();
  EXPECT_EQ(Format::shortTime(time, c), "13:45");
  EXPECT_EQ(Format::shortTime(time, c, true), "13:45:18");
  const QLocale us(QLocale::English, QLocale::UnitedStates);
  const QString afternoon = Format::shortTime(time, us);
  EXPECT_TRUE(afternoon.startsWith("1:45") && afternoon.endsWith("PM") && !afternoon.contains("18"))
      << afternoon.toStdString();
  const QString toTheSecond = Format::shortTime(time, us, true);
  EXPECT_TRUE(toTheSecond.startsWith("1:45:18") && toTheSecond.endsWith("PM")) << toTheSecond.toStdString();
  const QLocale finnish(QLocale::Finnish, QLocale::Finland);  // minutes after a full stop
  EXPECT_EQ(Format::shortTime(time, finnish), "13.45");
  EXPECT_EQ(Format::shortTime(time, finnish, true), "13.45.18");

  const auto when = std::chrono::system_clock::time_point(
      std::chrono::milliseconds(QDateTime(QDate(2026, 12, 10), time).toMSecsSinceEpoch()));
  const QLocale uk(QLocale::English, QLocale::UnitedKingdom);
  EXPECT_EQ(Format::abbreviatedDateTime(when, uk), "10 Dec 2026, 13:45");
  EXPECT_EQ(Format::abbreviatedDateTime(when, c),
            Format::abbreviatedDate(QDate(2026, 12, 10), c) + ", 13:45");
  EXPECT_EQ(Format::abbreviatedDateTime(when, uk, true), "10 Dec 2026, 13:45:18");
}

TEST(Format, SecondsOnlyForLabelsThatWouldReadAlike) {
  const std::vector<int> seconds{5, 40, 40, 59};
  std::vector<int> minutes{1, 1, 2, 2};
  const auto label = [&](std::size_t i, bool withSeconds) {
    QString text = QString::number(minutes[i]);
    if (withSeconds) text += ":" + QString::number(seconds[i]);
    return text;
  };
  EXPECT_EQ(Format::labelsApart(4, label), (std::vector<QString>{"1:5", "1:40", "2:40", "2:59"}));
  minutes[1] = 9;
  EXPECT_EQ(Format::labelsApart(4, label), (std::vector<QString>{"1", "9", "2:40", "2:59"}));
  EXPECT_TRUE(Format::labelsApart(0, label).empty());
}

TEST(RecentSnapshot, TimesTellSnapshotsOfOnePlaceAndDayApart) {
  const QDateTime now(QDate(2024, 3, 15), QTime(18, 0));
  const auto at = [](QTime time, int daysAgo = 0) {
    return std::chrono::system_clock::time_point(
        std::chrono::milliseconds(QDateTime(QDate(2024, 3, 15).addDays(-daysAgo), time).toMSecsSinceEpoch()));
  };
  const auto snapshot = [&](const std::string& root, QTime time, int daysAgo = 0) {
    return RecentSnapshot{"/s/" + root + ".tfsnap", root, at(time, daysAgo), 1, 1, false};
  };
  const std::vector<RecentSnapshot> recents{
      snapshot("/data/photos", QTime(14, 3, 10)),     // two of photos in one minute today
      snapshot("/data/photos", QTime(14, 3, 52)),     //
      snapshot("/data/music", QTime(14, 3, 30)),      // the same minute, another place
      snapshot("/data/photos", QTime(14, 3, 10), 1),  // the same time yesterday
  };
  const QString plain = Format::shortTime(QTime(14, 3));
  EXPECT_EQ(RecentSnapshot::times(recents, now),
            (std::vector<QString>{Format::shortTime(QTime(14, 3, 10), QLocale(), true),
                                  Format::shortTime(QTime(14, 3, 52), QLocale(), true), plain, plain}));
  const std::vector<QString> titles = RecentSnapshot::timedNames(recents, now);
  EXPECT_EQ(titles[2], "music  " + plain);
  EXPECT_EQ(titles[3], "photos  " + plain);
  EXPECT_NE(titles[0], titles[1]);
}

}  // namespace
