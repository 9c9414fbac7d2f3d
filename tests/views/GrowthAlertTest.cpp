// The growth alert after a scheduled scan: `tallyfox --growth-alert` as tfscan starts it,
// talking to a fake notification server on a bus of the test's own, and the comparison its
// action opens.
#include "PrivateBus.h"
#include "ViewTestSupport.h"

#include "model/Comparison.h"
#include "model/Settings.h"
#include "shell/SingleInstance.h"
#include "views/BrowserWindow.h"

#include <tallyfox/GrowthReport.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/ScheduledSnapshots.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QVariantMap>

using namespace tallyfox;
using testsupport::Node;

namespace {

namespace fs = std::filesystem;
using std::chrono::hours;

const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString notificationsInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr std::uint64_t GB = 1'000'000'000;

// A notification server as the desktop runs one, remembering what it was asked to show.
class FakeNotificationServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  struct Shown {
    QString summary, body;
    QStringList actions;
  };
  QList<Shown> shown;

  void answer(QDBusConnection& bus, const QString& signal, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createSignal(notificationsPath, notificationsInterface, signal);
    message.setArguments(arguments);
    bus.send(message);
  }

 signals:
  void notified();

 public slots:
  Q_SCRIPTABLE QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("actions")}; }
  Q_SCRIPTABLE uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                           const QStringList& actions, const QVariantMap&, int) {
    shown << Shown{summary, body, actions};
    emit notified();
    return uint(shown.size());
  }
  Q_SCRIPTABLE void CloseNotification(uint) {}
};

class GrowthAlertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder);
    // Last week, then today: three folders grew by gigabytes, another by a few bytes.
    SnapshotFile::write(testsupport::columnsOf({{-1, ""},
                                                {0, "data"},
                                                {1, "videos"},
                                                {1, "mail"},
                                                {1, "cache"},
                                                {1, "notes"},
                                                {2, "a", 100},
                                                {3, "b", 100},
                                                {4, "c", 100},
                                                {5, "d", 100}}),
                        {"/srv", now - hours(24 * 7), 1.0}, previous);
    SnapshotFile::write(testsupport::columnsOf({{-1, ""},
                                                {0, "data"},
                                                {1, "videos"},
                                                {1, "mail"},
                                                {1, "cache"},
                                                {1, "notes"},
                                                {2, "a", 5 * GB},
                                                {3, "b", 3 * GB},
                                                {4, "c", 2 * GB},
                                                {5, "d", 105}}),
                        {"/srv", now, 1.0}, latest);
    const GrowthReport::Inputs inputs{"/srv",
                                      latest,
                                      SnapshotDump::open(latest),
                                      previous,
                                      SnapshotDump::open(previous),
                                      GrowthReport::defaultThreshold,
                                      std::nullopt,
                                      std::nullopt};
    ScheduledSnapshots::record(folder,
                               {latest.filename().string(), "/srv", now, GrowthReport::report(inputs)});
  }

  testsupport::ScopedHome home;
  Settings settings{Preferences::standard()};
  fs::path folder = settings.snapshotsFolder();
  std::chrono::system_clock::time_point now =
      std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
  fs::path previous = folder / "srv-previous.tfsnap";
  fs::path latest = folder / "srv-latest.tfsnap";
};

TEST_F(GrowthAlertTest, NotifiesOnceAndItsActionHandsTheComparisonToTheRunningTallyfox) {
  testsupport::PrivateBus bus;
  ASSERT_FALSE(bus.address().isEmpty()) << bus.why().toStdString();
  QDBusConnection server =
      QDBusConnection::connectToBus(bus.address(), QStringLiteral("notification-server"));
  FakeNotificationServer notifications;
  ASSERT_TRUE(
      server.registerObject(notificationsPath, &notifications, QDBusConnection::ExportScriptableSlots));
  ASSERT_TRUE(server.registerService(notificationsInterface));

  // The Tallyfox already running, as far as the hand-over goes.
  testsupport::TempDir runtime;
  SingleInstance running(QString::fromStdString((runtime / "io.quillon.Tallyfox.socket").string()));
  ASSERT_TRUE(running.listen());
  std::vector<SingleInstance::Comparison> handed;
  QObject::connect(&running, &SingleInstance::comparisonRequested,
                   [&handed](const SingleInstance::Comparison& comparison) { handed.push_back(comparison); });

  const auto alert = [&] {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime.path().string()));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(TALLYFOX_PATH),
                   {QStringLiteral("--growth-alert"), QString::fromStdString(latest.string())});
    return process;
  };

  // Clicked: one notification naming the three folders that grew most, by how much; its
  // action hands the comparison at the first of them to the running instance.
  auto clicked = alert();
  ASSERT_TRUE(viewtests::waitFor([&] { return !notifications.shown.isEmpty(); }))
      << clicked->readAllStandardError().toStdString();
  ASSERT_EQ(notifications.shown.size(), 1);
  const auto& shown = notifications.shown.front();
  EXPECT_EQ(shown.summary, QStringLiteral("Folders grew in /srv"));
  EXPECT_EQ(shown.body, QStringLiteral("/srv/data/videos grew by 5.0 GB\n/srv/data/mail grew by 3.0 GB\n"
                                       "/srv/data/cache grew by 2.0 GB"));
  EXPECT_EQ(shown.actions, (QStringList{"default", "Show Changes"}));
  notifications.answer(server, QStringLiteral("ActionInvoked"), {1u, QStringLiteral("default")});
  ASSERT_TRUE(viewtests::waitFor([&] { return handed.size() == 1; }));
  EXPECT_EQ(handed.front(), (SingleInstance::Comparison{latest, previous, "/srv/data/videos"}));
  ASSERT_TRUE(viewtests::waitFor([&] { return clicked->state() == QProcess::NotRunning; }));
  EXPECT_EQ(clicked->exitCode(), 0) << clicked->readAllStandardError().toStdString();

  // Closed unanswered: the process ends and opens nothing.
  auto dismissed = alert();
  ASSERT_TRUE(viewtests::waitFor([&] { return notifications.shown.size() == 2; }));
  notifications.answer(server, QStringLiteral("NotificationClosed"), {2u, 2u});
  ASSERT_TRUE(viewtests::waitFor([&] { return dismissed->state() == QProcess::NotRunning; }));
  EXPECT_EQ(dismissed->exitCode(), 0);
  EXPECT_EQ(handed.size(), 1u);
  QDBusConnection::disconnectFromBus(QStringLiteral("notification-server"));
}

TEST_F(GrowthAlertTest, ASnapshotTheScheduleDidNotMakeIsRefused) {
  const fs::path other = folder / "by-hand.tfsnap";
  fs::copy_file(latest, other);
  QProcess process;
  process.start(QStringLiteral(TALLYFOX_PATH),
                {QStringLiteral("--growth-alert"), QString::fromStdString(other.string())});
  ASSERT_TRUE(process.waitForFinished(30000));
  EXPECT_EQ(process.exitCode(), 1);
  EXPECT_TRUE(process.readAllStandardError().contains("is not a scheduled snapshot"));
}

TEST_F(GrowthAlertTest, TheComparisonOpensAtTheFolderThatGrewMost) {
  viewtests::TestApp app(settings);
  BrowserWindow* window = app.app.openComparison(latest, previous, "/srv/data/videos");
  ASSERT_NE(window, nullptr);
  BrowserModel& browser = *window->browser();
  ASSERT_TRUE(viewtests::waitFor([&] { return browser.comparing().comparison() != nullptr; }));
  EXPECT_EQ(browser.comparing().comparison()->baselineURL(), previous);
  EXPECT_EQ(browser.path(browser.current()), QStringLiteral("/srv/data/videos"));
  // The running instance takes the same request from a later launch.
  browser.comparing().stop();
  app.app.openComparison(latest, previous, "/srv/data/mail");
  ASSERT_TRUE(viewtests::waitFor([&] { return browser.comparing().comparison() != nullptr; }));
  EXPECT_EQ(browser.path(browser.current()), QStringLiteral("/srv/data/mail"));
}

}  // namespace

#include "GrowthAlertTest.moc"
