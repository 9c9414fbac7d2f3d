#include "platform/Clipboard.h"

#include "platform/LocalPath.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

namespace tallyfox {

namespace {

class DesktopClipboard : public Clipboard {
 public:
  void copyFileReference(const QByteArray& path) override {
    QClipboard* clipboard = board();
    if (!clipboard) return;
    const QByteArray uri = fileUri(path);
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/uri-list"), uri + "\r\n");
    // GNOME's and KDE's file managers paste files from these; text fields take the path.
    data->setData(QStringLiteral("x-special/gnome-copied-files"), QByteArray("copy\n") + uri);
    data->setData(QStringLiteral("application/x-kde-cutselection"), QByteArray("0"));
    data->setText(displayPath(path));
    clipboard->clear();
    clipboard->setMimeData(data);
  }

  void copyText(const QString& text) override {
    QClipboard* clipboard = board();
    if (!clipboard) return;
    clipboard->clear();
    clipboard->setText(text);
  }

 private:
  static QClipboard* board() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard()
                                                                        : nullptr;
  }
};

}  // namespace

std::shared_ptr<Clipboard> Clipboard::system() {
  return std::make_shared<DesktopClipboard>();
}

}  // namespace tallyfox
