#include "views/Preview.h"

#include "model/Format.h"
#include "platform/LocalPath.h"

#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDateTime>
#include <QFile>
#include <QFontDatabase>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QStackedLayout>
#include <QStringDecoder>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace tallyfox {

namespace {

constexpr qint64 textPreviewBytes = 64 * 1024;
const QSize largestPicture(900, 700);

const QString previewerService = QStringLiteral("org.gnome.NautilusPreviewer");
const QString previewerPath = QStringLiteral("/org/gnome/NautilusPreviewer");

}  // namespace

// ---- PreviewWindow

PreviewWindow::PreviewWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  image_ = new QLabel(this);
  image_->setAlignment(Qt::AlignCenter);
  text_ = new QPlainTextEdit(this);
  text_->setReadOnly(true);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  facts_ = new QLabel(this);
  facts_->setAlignment(Qt::AlignCenter);
  facts_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  facts_->setMargin(24);
  pages_ = new QStackedLayout(this);
  pages_->addWidget(image_);
  pages_->addWidget(text_);
  pages_->addWidget(facts_);
  // Space must reach this window, not the text field inside it.
  text_->setFocusPolicy(Qt::NoFocus);
}

void PreviewWindow::showFile(const QByteArray& path) {
  path_ = path;
  setWindowTitle(displayLastComponent(path));
  if (!tryImage() && !tryText()) showFacts();
  show();
  raise();
  activateWindow();
}

namespace {

// Opened by its bytes: QFile would take the name as text and miss a name that is not UTF-8.
bool openByBytes(const QByteArray& path, QFile& file) {
  const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return false;
  }
  return true;
}

bool isRegularFile(const QByteArray& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::path(path.toStdString()), error);
}

}  // namespace

bool PreviewWindow::tryImage() {
  QFile file;
  if (!isRegularFile(path_) || !openByBytes(path_, file)) return false;
  QImageReader reader(&file);
  if (!reader.canRead()) return false;
  QSize size = reader.size();
  if (size.isValid() && (size.width() > largestPicture.width() || size.height() > largestPicture.height())) {
    size.scale(largestPicture, Qt::KeepAspectRatio);
    reader.setScaledSize(size);
  }
  const QImage picture = reader.read();
  if (picture.isNull()) return false;
  image_->setPixmap(QPixmap::fromImage(picture));
  pages_->setCurrentWidget(image_);
  kind_ = QStringLiteral("image");
  resize(std::max(picture.width(), 320), std::max(picture.height(), 240));
  return true;
}

bool PreviewWindow::tryText() {
  QFile file;
  if (!isRegularFile(path_) || !openByBytes(path_, file)) return false;
  const QByteArray head = file.read(textPreviewBytes);
  if (head.contains('\0')) return false;
  QStringDecoder decoder(QStringDecoder::Utf8);
  QString text = decoder.decode(head);
  // A cut in the middle of a character is fine; bytes that are not UTF-8 anywhere else are not.
  if (decoder.hasError() && head.size() < textPreviewBytes) return false;
  if (file.size() > textPreviewBytes) text += QStringLiteral("\n…");
  text_->setPlainText(text);
  pages_->setCurrentWidget(text_);
  kind_ = QStringLiteral("text");
  resize(720, 560);
  return true;
}

void PreviewWindow::showFacts() {
  const QLocale locale;
  const std::filesystem::path onDisk(path_.toStdString());
  std::error_code error;
  const auto status = std::filesystem::symlink_status(onDisk, error);
  const QString name = displayLastComponent(path_);
  QString kind;
  if (std::filesystem::is_symlink(status)) {
    const auto target = std::filesystem::read_symlink(onDisk, error);
    kind = QStringLiteral("Symbolic link to ") + displayPath(QByteArray::fromStdString(target.native()));
  } else if (std::filesystem::is_directory(status)) {
    kind = QStringLiteral("Folder");
  } else {
    QFile file;
    const bool readable = std::filesystem::is_regular_file(status) && openByBytes(path_, file);
    kind = (readable ? QMimeDatabase().mimeTypeForFileNameAndData(name, &file)
                     : QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension))
               .comment();
  }
  QStringList lines{QStringLiteral("<b>") + name.toHtmlEscaped() + QStringLiteral("</b>"),
                    kind.toHtmlEscaped()};
  if (std::filesystem::is_regular_file(status)) {
    const auto size = std::filesystem::file_size(onDisk, error);
    if (!error) lines << Format::bytes(std::uint64_t(size));
  }
  struct stat facts {};
  if (::lstat(path_.constData(), &facts) == 0) {
    const QDateTime modified = QDateTime::fromSecsSinceEpoch(facts.st_mtim.tv_sec);
    lines << QStringLiteral("Modified ") + locale.toString(modified, QLocale::LongFormat).toHtmlEscaped();
  }
  lines << QStringLiteral("<small>") + displayPath(path_).toHtmlEscaped() + QStringLiteral("</small>");
  facts_->setText(lines.join(QStringLiteral("<br>")));
  pages_->setCurrentWidget(facts_);
  kind_ = QStringLiteral("facts");
  resize(420, 260);
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Escape) {
    emit dismissed();
    return;
  }
  QWidget::keyPressEvent(event);
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
  if (!closingFromModel_) emit dismissed();
  QWidget::closeEvent(event);
}

// ---- PreviewController

PreviewController::PreviewController(BrowserModel* browser, QWidget* window)
    : QObject(window), browser_(browser), host_(window) {
  connect(browser, &BrowserModel::previewURLChanged, this, &PreviewController::sync);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  // The previewer's own window has its own keys: closing there must reach the model, or the
  // next Space would only "close" a preview that is no longer shown.
  bus.connect(previewerService, previewerPath, QStringLiteral("org.freedesktop.DBus.Properties"),
              QStringLiteral("PropertiesChanged"), this,
              SLOT(previewerPropertiesChanged(QString, QVariantMap, QStringList)));
  auto* watcher =
      new QDBusServiceWatcher(previewerService, bus, QDBusServiceWatcher::WatchForUnregistration, this);
  connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this,
          &PreviewController::desktopPreviewerClosed);
}

void PreviewController::previewerPropertiesChanged(const QString&, const QVariantMap& changed,
                                                   const QStringList&) {
  const auto visible = changed.find(QStringLiteral("Visible"));
  if (visible != changed.end() && !visible->toBool()) desktopPreviewerClosed();
}

void PreviewController::desktopPreviewerClosed() {
  if (!desktopShown_) return;
  desktopShown_ = false;
  if (browser_) browser_->setPreviewURL(QUrl());
}

void PreviewController::sync() {
  if (!browser_) return;
  const QUrl url = browser_->previewURL();
  if (url.isEmpty()) {
    if (desktopShown_) closeDesktopPreviewer();
    if (window_ && window_->isVisible()) {
      window_->closingFromModel_ = true;
      window_->close();
      window_->closingFromModel_ = false;
    }
    return;
  }
  if (!showInDesktopPreviewer(url)) showInApp();
}

bool PreviewController::showInDesktopPreviewer(const QUrl& url) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || !bus.interface()) return false;
  const bool running = bus.interface()->isServiceRegistered(previewerService);
  const bool startable =
      running || bus.interface()->activatableServiceNames().value().contains(previewerService);
  if (!startable) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(previewerService, previewerPath, previewerService,
                                                     QStringLiteral("ShowFile"));
  call << QString::fromLatin1(fileUri(browser_->previewPath())) << 0 << false;
  // The previewer may take a moment to start; the window stays responsive meanwhile, and the
  // in-app preview takes over if it fails while the file is still wanted.
  desktopShown_ = true;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, url](QDBusPendingCallWatcher* answered) {
    answered->deleteLater();
    if (!answered->isError()) return;
    desktopShown_ = false;
    if (browser_ && browser_->previewURL() == url) showInApp();
  });
  return true;
}

void PreviewController::closeDesktopPreviewer() {
  desktopShown_ = false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  bus.asyncCall(QDBusMessage::createMethodCall(previewerService, previewerPath, previewerService,
                                               QStringLiteral("Close")));
}

void PreviewController::showInApp() {
  if (!window_) {
    window_ = new PreviewWindow(host_);
    connect(window_, &PreviewWindow::dismissed, this, [this] {
      if (browser_) browser_->setPreviewURL(QUrl());
      if (host_) host_->activateWindow();
    });
  }
  window_->showFile(browser_->previewPath());
}

}  // namespace tallyfox
