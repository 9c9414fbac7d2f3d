#include "platform/FileManager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace tallyfox {

namespace {

class DesktopFileManager : public FileManager {
 public:
  void reveal(const QString& path) override {
    const QString uri = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{uri} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage) return;
    // No file manager answers on the bus: open the folder that holds it instead.
    const QFileInfo info(path);
    const QString folder = path == QLatin1String("/") ? path : info.absolutePath();
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
  }
};

}  // namespace

std::shared_ptr<FileManager> FileManager::system() {
  return std::make_shared<DesktopFileManager>();
}

}  // namespace tallyfox
