// The D-Bus services of the desktop, played by fakes on a private session bus. CTest runs
// these under their own dbus-run-session; in any other run they are skipped, so that they
// never reach the session of the person running the tests.
#include "ViewTestSupport.h"

#include "platform/FileManager.h"
#include "platform/IdleTime.h"
#include "views/BrowserView.h"
#include "views/BrowserWindow.h"
#include "views/EntryList.h"
#include "views/Preview.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using testsupport::pathBytes;

const QString previewerService = QStringLiteral("org.gnome.NautilusPreviewer");
const QString previewerPath = QStringLiteral("/org/gnome/NautilusPreviewer");
const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");
const QString fileManagerPath = QStringLiteral("/org/freedesktop/FileManager1");

// Another connection to the private bus: the desktop's side of the conversation, as if from
// a process of its own.
class FakeBus {
 public:
  explicit FakeBus(QString name)
      : name_(std::move(name)),
        connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_)) {}
  ~FakeBus() { QDBusConnection::disconnectFromBus(name_); }
  FakeBus(const FakeBus&) = delete;
  FakeBus& operator=(const FakeBus&) = delete;

  QDBusConnection& connection() { return connection_; }
  void offer(const QString& service, const QString& path, QObject* object) {
    ASSERT_TRUE(connection_.registerObject(path, object, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(connection_.registerService(service)) << connection_.lastError().message().toStdString();
  }

 private:
  QString name_;
  QDBusConnection connection_;
};

class PrivateBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qEnvironmentVariableIsSet("TALLYFOX_TEST_PRIVATE_BUS"))
      GTEST_SKIP() << "runs only on its private session bus (ctest -R DesktopBusTest)";
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    fakeBus.emplace(QStringLiteral("fake"));
    ASSERT_TRUE(fake().connection().isConnected());
  }

  FakeBus& fake() { return *fakeBus; }

 private:
  std::optional<FakeBus> fakeBus;
};

// ---- The previewer

class FakePreviewer : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.gnome.NautilusPreviewer")
 public:
  QStringList shown;
  int closes = 0;
  bool failShowing = false;

  // What the previewer says when its window was closed with its own keys.
  void hide(QDBusConnection& bus) {
    QDBusMessage changed =
        QDBusMessage::createSignal(previewerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    changed << previewerService << QVariantMap{{QStringLiteral("Visible"), false}} << QStringList();
    bus.send(changed);
  }

 public slots:
  Q_SCRIPTABLE void ShowFile(const QString& uri, int, bool) {
    shown << uri;
    if (failShowing) sendErrorReply(QDBusError::Failed, QStringLiteral("no display"));
  }
  Q_SCRIPTABLE void Close() { ++closes; }
};

class DesktopBusPreviewer : public PrivateBusTest {
 protected:
  void SetUp() override {
    PrivateBusTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    testsupport::writeFile(dir / "real" / "caf\xe9.txt", "first line\n");
    window = viewtests::openBrowser(viewtests::writeSnapshot(
        dir / "real.tfsnap", {{-1, "real"}, {0, "caf\xe9.txt", 4096}}, (dir / "real").string()));
    list = window->view()->list();
    ASSERT_EQ(window->browser()->selectedPath(), QString::fromUtf8(pathBytes(dir / "real" / "caf\xe9.txt")));
    fake().offer(previewerService, previewerPath, &previewer);
  }

  void space() { QTest::keyClick(list, ' '); }
  bool previewing() const { return !window->browser()->previewURL().isEmpty(); }
  // The in-app window stands in only when the previewer fails.
  bool shownInApp() const {
    const tallyfox::PreviewWindow* own = window->view()->preview()->window();
    return own && own->isVisible();
  }

  testsupport::ScopedHome home;
  testsupport::TempDir dir;
  FakePreviewer previewer;
  std::unique_ptr<tallyfox::BrowserWindow> window;
  tallyfox::EntryList* list = nullptr;
  // The name's bytes, percent-encoded one by one.
  QString uri() const { return QString::fromLatin1("file://" + pathBytes(dir / "real") + "/caf%E9.txt"); }
};

TEST_F(DesktopBusPreviewer, SpaceShowsTheFileInThePreviewerAndSpaceClosesIt) {
  space();
  ASSERT_TRUE(viewtests::waitFor([&] { return previewer.shown.size() == 1; }));
  EXPECT_EQ(previewer.shown.front(), uri());
  EXPECT_TRUE(previewing());
  space();
  EXPECT_FALSE(previewing());
  EXPECT_TRUE(viewtests::waitFor([&] { return previewer.closes == 1; }));
  EXPECT_EQ(previewer.shown.size(), 1);
  EXPECT_FALSE(shownInApp());
}

TEST_F(DesktopBusPreviewer, APreviewerClosedWithItsOwnKeysIsNoticed) {
  space();
  ASSERT_TRUE(viewtests::waitFor([&] { return previewer.shown.size() == 1; }));
  previewer.hide(fake().connection());
  ASSERT_TRUE(viewtests::waitFor([&] { return !previewing(); }));
  // The next Space opens a new preview at once instead of closing the one already gone.
  space();
  EXPECT_TRUE(previewing());
  ASSERT_TRUE(viewtests::waitFor([&] { return previewer.shown.size() == 2; }));
  EXPECT_EQ(previewer.shown.back(), uri());
  EXPECT_EQ(previewer.closes, 0);
  EXPECT_FALSE(shownInApp());
}

TEST_F(DesktopBusPreviewer, APreviewerThatLeftTheBusIsNoticed) {
  space();
  ASSERT_TRUE(viewtests::waitFor([&] { return previewer.shown.size() == 1; }));
  ASSERT_TRUE(fake().connection().unregisterService(previewerService));
  ASSERT_TRUE(viewtests::waitFor([&] { return !previewing(); }));
  // Started again, as a desktop starts it on demand, in a new process: what that one says
  // is heard as well.
  FakeBus again(QStringLiteral("fake-again"));
  FakePreviewer restarted;
  again.offer(previewerService, previewerPath, &restarted);
  space();
  ASSERT_TRUE(viewtests::waitFor([&] { return restarted.shown.size() == 1; }));
  EXPECT_TRUE(previewing());
  restarted.hide(again.connection());
  ASSERT_TRUE(viewtests::waitFor([&] { return !previewing(); }));
  space();
  ASSERT_TRUE(viewtests::waitFor([&] { return restarted.shown.size() == 2; }));
  EXPECT_EQ(previewer.closes + restarted.closes, 0);
  EXPECT_EQ(previewer.shown.size(), 1);
  EXPECT_FALSE(shownInApp());
}

TEST_F(DesktopBusPreviewer, TheAppShowsTheFileItselfWhenThePreviewerFails) {
  previewer.failShowing = true;
  space();
  EXPECT_TRUE(viewtests::waitFor([&] { return shownInApp(); }));
  EXPECT_EQ(previewer.shown.size(), 1);
  EXPECT_EQ(window->view()->preview()->window()->path(), pathBytes(dir / "real" / "caf\xe9.txt"));
  space();
  EXPECT_FALSE(shownInApp());
}

// ---- The file manager

// Lives on a thread of its own, as a file manager lives in a process of its own: a caller
// that waited for its answer would hold its own thread, not the file manager's.
class FakeFileManager : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
 public:
  enum class Answer { atOnce, afterTwoSeconds, withError };
  std::atomic<Answer> answer = Answer::atOnce;
  std::atomic<int> answered = 0;

  QStringList shown() const {
    QMutexLocker lock(&mutex_);
    return shown_;
  }

 public slots:
  Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) {
    {
      QMutexLocker lock(&mutex_);
      shown_ += uris;
    }
    if (answer == Answer::afterTwoSeconds) QThread::sleep(2);
    if (answer == Answer::withError)
      sendErrorReply(QStringLiteral("org.freedesktop.DBus.Error.Failed"), QStringLiteral("no window"));
    ++answered;
  }

 private:
  mutable QMutex mutex_;
  QStringList shown_;
};

class DesktopBusFileManager : public PrivateBusTest {
 protected:
  void SetUp() override {
    PrivateBusTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    fs::create_directory(dir / "d\xfcr");
    testsupport::writeFile(dir / "d\xfcr" / "caf\xe9.txt", "x");
    thread.start();
    files->moveToThread(&thread);
  }

  void TearDown() override {
    if (!thread.isRunning()) {
      delete files;
      return;
    }
    fake().connection().unregisterObject(fileManagerPath);
    QObject::connect(&thread, &QThread::finished, files, &QObject::deleteLater);
    thread.quit();
    thread.wait();
  }

  testsupport::TempDir dir;
  testsupport::RecordingDesktop recorder;
  std::shared_ptr<tallyfox::FileManager> manager =
      tallyfox::FileManager::onBus({}, recorder.desktop().opener);
  QThread thread;
  FakeFileManager* files = new FakeFileManager;
  const QByteArray file = pathBytes(dir / "d\xfcr" / "caf\xe9.txt");
  QByteArrayList opened() const { return recorder.state->opened; }
};

TEST_F(DesktopBusFileManager, RevealSendsTheNameBytesAndDoesNotWaitForTheAnswer) {
  fake().offer(fileManagerService, fileManagerPath, files);
  files->answer = FakeFileManager::Answer::afterTwoSeconds;
  manager->reveal(file);
  // Returned before the file manager answered, and the caller's events go on meanwhile.
  EXPECT_EQ(files->answered, 0);
  ASSERT_TRUE(viewtests::waitFor([&] { return !files->shown().isEmpty(); }));
  bool ticked = false;
  QTimer::singleShot(0, [&] { ticked = true; });
  EXPECT_TRUE(viewtests::waitFor([&] { return ticked; }));
  EXPECT_EQ(files->answered, 0);
  EXPECT_EQ(files->shown(),
            QStringList{QString::fromLatin1("file://" + pathBytes(dir.path()) + "/d%FCr/caf%E9.txt")});
  ASSERT_TRUE(viewtests::waitFor([&] { return files->answered == 1; }));

  // A failure opens the folder instead, and only a failure: the answers arrive in order, so
  // once the folder opened for the second call the first one's answer was in.
  files->answer = FakeFileManager::Answer::withError;
  manager->reveal(file);
  ASSERT_TRUE(viewtests::waitFor([&] { return !opened().isEmpty(); }));
  EXPECT_EQ(opened(), QByteArrayList{pathBytes(dir / "d\xfcr")});
  EXPECT_EQ(files->shown().size(), 2);
}

TEST_F(DesktopBusFileManager, WithNoFileManagerOnTheBusTheFolderOpens) {
  manager->reveal(file);
  ASSERT_TRUE(viewtests::waitFor([&] { return !opened().isEmpty(); }));
  EXPECT_EQ(opened(), QByteArrayList{pathBytes(dir / "d\xfcr")});
}

// ---- GNOME's idle monitor

const QString idleMonitorService = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString idleMonitorPath = QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");

// On a thread of its own, as the compositor is a process of its own: it can hold a question
// while the app goes on.
class FakeIdleMonitor : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.IdleMonitor")
 public:
  std::atomic<bool> failing = false;
  // Questions wait for a release while set.
  std::atomic<bool> holding = false;
  QSemaphore release;
  std::atomic<int> asked = 0;
  std::atomic<int> answered = 0;

 public slots:
  Q_SCRIPTABLE qulonglong GetIdletime() {
    ++asked;
    // Bounded, so that a failed test cannot leave the thread stuck.
    if (holding) release.tryAcquire(1, 30000);
    ++answered;
    if (failing) sendErrorReply(QDBusError::Failed, QStringLiteral("no seat"));
    return 42000;
  }
};

class DesktopBusIdleTime : public PrivateBusTest {
 protected:
  void SetUp() override {
    // The X server, when the tests run on one, would answer before GNOME's monitor is asked.
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY")) savedWayland = wayland;
    ::setenv("WAYLAND_DISPLAY", "tallyfox-test-no-wayland", 1);
    PrivateBusTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    thread.start();
    monitor->moveToThread(&thread);
  }

  void TearDown() override {
    if (savedWayland)
      ::setenv("WAYLAND_DISPLAY", savedWayland->c_str(), 1);
    else
      ::unsetenv("WAYLAND_DISPLAY");
    if (!thread.isRunning()) {
      delete monitor;
      return;
    }
    monitor->holding = false;
    monitor->release.release(100);
    fake().connection().unregisterObject(idleMonitorPath);
    QObject::connect(&thread, &QThread::finished, monitor, &QObject::deleteLater);
    thread.quit();
    thread.wait();
  }

  void offerMonitor() { fake().offer(idleMonitorService, idleMonitorPath, monitor); }
  // Asks the monitor itself and waits for its answer: the app's questions sent before this
  // one have all reached it by then.
  void askDirectly() {
    const QDBusMessage reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
        idleMonitorService, idleMonitorPath, idleMonitorService, QStringLiteral("GetIdletime")));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
  }

  std::optional<std::string> savedWayland;
  QThread thread;
  FakeIdleMonitor* monitor = new FakeIdleMonitor;
};

TEST_F(DesktopBusIdleTime, TheMonitorsAnswerCountsFromTheNextCallAndAnErrorGivesTheAppsOwnCount) {
  offerMonitor();
  tallyfox::IdleTime idle;
  ASSERT_TRUE(viewtests::waitFor([&] { return idle.secondsInApp() > 0; }));
  // Nothing heard yet: present, not the app's own count.
  EXPECT_EQ(idle.seconds(), 0.0);
  ASSERT_TRUE(viewtests::waitFor([&] { return idle.seconds() == 42.0; }));

  monitor->failing = true;
  ASSERT_TRUE(viewtests::waitFor([&] { return idle.seconds() != 42.0; }));
  const double fallback = idle.seconds();
  EXPECT_GT(fallback, 0.0);
  EXPECT_LE(fallback, idle.secondsInApp());

  // Asked on after an error, and heard again once the monitor recovers.
  monitor->failing = false;
  EXPECT_TRUE(viewtests::waitFor([&] { return idle.seconds() == 42.0; }));
}

TEST_F(DesktopBusIdleTime, ASlowMonitorIsNotWaitedForNorAskedTwiceAtOnce) {
  offerMonitor();
  monitor->holding = true;
  tallyfox::IdleTime idle;
  EXPECT_EQ(idle.seconds(), 0.0);
  ASSERT_TRUE(viewtests::waitFor([&] { return monitor->asked == 1; }));
  // The question is held and the app's events go on.
  bool ticked = false;
  QTimer::singleShot(0, [&] { ticked = true; });
  EXPECT_TRUE(viewtests::waitFor([&] { return ticked; }));
  EXPECT_EQ(idle.seconds(), 0.0);
  EXPECT_EQ(idle.seconds(), 0.0);
  EXPECT_EQ(monitor->answered, 0);

  monitor->holding = false;
  monitor->release.release();
  ASSERT_TRUE(viewtests::waitFor([&] { return idle.seconds() == 42.0; }));
  // The held question, the one sent by the call that heard its answer, and this one.
  askDirectly();
  EXPECT_EQ(monitor->asked, 3);
}

TEST_F(DesktopBusIdleTime, WithNoMonitorOnTheBusTheAppsOwnCountStandsInAndTheBusIsNotAskedAgain) {
  tallyfox::IdleTime idle;
  ASSERT_TRUE(viewtests::waitFor([&] { return idle.secondsInApp() > 0; }));
  EXPECT_EQ(idle.seconds(), 0.0);
  ASSERT_TRUE(viewtests::waitFor([&] { return idle.seconds() > 0.0; }));
  const double fallback = idle.seconds();
  EXPECT_LE(fallback, idle.secondsInApp());

  // A session whose compositor is not GNOME does not grow one later.
  offerMonitor();
  for (int i = 0; i < 3; ++i) {
    EXPECT_GT(idle.seconds(), 0.0);
    QCoreApplication::processEvents();
  }
  askDirectly();
  EXPECT_EQ(monitor->asked, 1);
}

}  // namespace

#include "DesktopBusTest.moc"
