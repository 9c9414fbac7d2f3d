#include "platform/FileManager.h"

#include "platform/LocalPath.h"
#include "platform/Opener.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QStringList>

namespace tallyfox {

namespace {

// A file manager that is starting up may take a while; one that never answers is as good as none.
constexpr int answerWithinMs = 10000;

class DesktopFileManager : public FileManager {
 public:
  DesktopFileManager(QString connection, std::shared_ptr<Opener> folders)
      : connection_(std::move(connection)), folders_(std::move(folders)) {}

  void reveal(const QByteArray& path) override {
    const std::shared_ptr<Opener> folders = folders_;
    const QByteArray folder = parentPath(path);
    auto openFolder = [folders, folder] {
      if (folders) folders->open(folder);
    };
    QDBusConnection bus =
        connection_.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(connection_);
    if (!bus.isConnected()) {
      openFolder();
      return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromLatin1(fileUri(path))} << QString();
    // The window stays responsive while a file manager starts; the folder opens only when
    // none answers.
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call, answerWithinMs), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [openFolder](QDBusPendingCallWatcher* answered) {
                       if (answered->isError()) openFolder();
                       answered->deleteLater();
                     });
  }

 private:
  QString connection_;
  std::shared_ptr<Opener> folders_;
};

}  // namespace

std::shared_ptr<FileManager> FileManager::system() {
  return onBus({}, Opener::system());
}

std::shared_ptr<FileManager> FileManager::onBus(const QString& connectionName,
                                                std::shared_ptr<Opener> folders) {
  return std::make_shared<DesktopFileManager>(connectionName, std::move(folders));
}

}  // namespace tallyfox
