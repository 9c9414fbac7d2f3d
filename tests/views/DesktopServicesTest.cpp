// The real desktop services on names that are not UTF-8: the clipboard on the offscreen
// platform, reveal on a private D-Bus with a stand-in file manager.
#include "AppTestSupport.h"
#include "TestSupport.h"
#include "platform/Clipboard.h"
#include "platform/FileManager.h"
#include "platform/Opener.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>

using testsupport::waitFor;

namespace {

const QByteArray latin1Name = "/tmp/d\xfcr/caf\xe9.txt";

TEST(DesktopServices, AFileReferenceOnTheClipboardKeepsTheNameBytes) {
  tallyfox::Clipboard::system()->copyFileReference(latin1Name);
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->data(QStringLiteral("text/uri-list")).trimmed(), "file:///tmp/d%FCr/caf%E9.txt");
  EXPECT_EQ(data->data(QStringLiteral("x-special/gnome-copied-files")), "copy\nfile:///tmp/d%FCr/caf%E9.txt");
  EXPECT_EQ(data->text(), QStringLiteral("/tmp/d\uFFFDr/caf\uFFFD.txt"));
}

// Answers ShowItems only when told to, as a file manager that is still starting up.
class StandInFileManager : public QDBusVirtualObject {
 public:
  QStringList shown;
  QList<QDBusMessage> waiting;

  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
    if (message.member() != QLatin1String("ShowItems")) return false;
    shown << message.arguments().value(0).toStringList();
    waiting << message;
    return true;
  }
};

struct Folders : tallyfox::Opener {
  QByteArrayList opened;
  void open(const QByteArray& path) override { opened << path; }
};

class PrivateBus : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) GTEST_SKIP() << "no dbus-daemon";
    // A bus of its own, that starts no services: the desktop's file manager must not answer.
    const auto config = dir.path() / "bus.conf";
    testsupport::writeFile(
        config,
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
        "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:dir=" +
            dir.path().string() +
            "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
            "<allow own=\"*\"/></policy></busconfig>\n");
    bus.start(daemon, {QStringLiteral("--config-file=") + QString::fromStdString(config.string()),
                       QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    ASSERT_TRUE(bus.waitForStarted());
    ASSERT_TRUE(waitFor([&] { return bus.canReadLine(); })) << "dbus-daemon gave no address";
    const QString address = QString::fromUtf8(bus.readLine().trimmed());
    ASSERT_TRUE(QDBusConnection::connectToBus(address, QStringLiteral("tf-app")).isConnected());
    fileManagerSide = QDBusConnection::connectToBus(address, QStringLiteral("tf-file-manager"));
    ASSERT_TRUE(fileManagerSide.isConnected());
  }
  void TearDown() override {
    QDBusConnection::disconnectFromBus(QStringLiteral("tf-app"));
    QDBusConnection::disconnectFromBus(QStringLiteral("tf-file-manager"));
    if (bus.state() != QProcess::NotRunning) {
      bus.kill();
      bus.waitForFinished();
    }
  }

  testsupport::TempDir dir;
  QProcess bus;
  QDBusConnection fileManagerSide{QString()};
};

TEST_F(PrivateBus, RevealAsksTheFileManagerWithoutWaitingForIt) {
  StandInFileManager fileManager;
  ASSERT_TRUE(
      fileManagerSide.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &fileManager));
  ASSERT_TRUE(fileManagerSide.registerService(QStringLiteral("org.freedesktop.FileManager1")));
  auto folders = std::make_shared<Folders>();
  const auto reveal = tallyfox::FileManager::onBus(QStringLiteral("tf-app"), folders);

  // The stand-in runs on this thread: a reveal that waited for the answer would get none.
  reveal->reveal(latin1Name);
  ASSERT_TRUE(waitFor([&] { return !fileManager.waiting.isEmpty(); })) << "the file manager was not asked";
  EXPECT_EQ(fileManager.shown, QStringList{QStringLiteral("file:///tmp/d%FCr/caf%E9.txt")});
  fileManagerSide.send(fileManager.waiting.takeFirst().createReply());

  // Once the file manager is gone, the folder that holds the file opens instead.
  fileManagerSide.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
  reveal->reveal(latin1Name);
  ASSERT_TRUE(waitFor([&] { return !folders->opened.isEmpty(); })) << "no folder opened";
  EXPECT_EQ(folders->opened, QByteArrayList{"/tmp/d\xfcr"});
  EXPECT_EQ(fileManager.shown.size(), 1);
}

}  // namespace
