#include "views/Preview.h"

#include "model/Background.h"
#include "model/Format.h"
#include "platform/FilePreview.h"
#include "platform/LocalPath.h"

#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QStackedLayout>

#include <algorithm>

namespace tallyfox {

namespace {

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
  kind_.clear();
  setWindowTitle(displayLastComponent(path));
  // The window answers at once; what it shows follows once the file is read.
  Background::run(
      this, reading_, [path] { return FilePreview::read(path); },
      [this](const FilePreview& preview) { present(preview); });
  show();
  raise();
  activateWindow();
}

void PreviewWindow::present(const FilePreview& preview) {
  switch (preview.kind) {
    case FilePreview::Kind::image:
      image_->setPixmap(QPixmap::fromImage(preview.image));
      pages_->setCurrentWidget(image_);
      kind_ = QStringLiteral("image");
      resize(std::max(preview.image.width(), 320), std::max(preview.image.height(), 240));
      break;
    case FilePreview::Kind::text:
      text_->setPlainText(preview.text);
      pages_->setCurrentWidget(text_);
      kind_ = QStringLiteral("text");
      resize(720, 560);
      break;
    case FilePreview::Kind::facts:
      showFacts(preview);
      break;
  }
}

void PreviewWindow::showFacts(const FilePreview& preview) {
  const QString name = displayLastComponent(path_);
  QStringList lines{QStringLiteral("<b>") + name.toHtmlEscaped() + QStringLiteral("</b>"),
                    preview.description.toHtmlEscaped()};
  if (preview.size) lines << Format::bytes(*preview.size);
  if (preview.modified)
    lines << QStringLiteral("Modified ") +
                 QLocale().toString(*preview.modified, QLocale::LongFormat).toHtmlEscaped();
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
