#pragma once

#include "model/Background.h"
#include "model/BrowserModel.h"

#include <QPointer>
#include <QVariantMap>
#include <QWidget>

class QStackedLayout;
class QLabel;
class QPlainTextEdit;

namespace tallyfox {

struct FilePreview;

// The in-app preview of one file: a picture, the start of a text, or else the file's facts,
// read by the FilePreview service in the thread pool.
class PreviewWindow : public QWidget {
  Q_OBJECT
 public:
  explicit PreviewWindow(QWidget* parent = nullptr);

  // `path` is the file's exact bytes.
  void showFile(const QByteArray& path);
  QByteArray path() const { return path_; }
  // "image", "text" or "facts": what the window settled on for the file; empty while it is
  // being read.
  QString kind() const { return kind_; }

 signals:
  // Space, Escape or the window's close button.
  void dismissed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void present(const FilePreview& preview);
  void showFacts(const FilePreview& preview);

  QByteArray path_;
  QString kind_;
  QStackedLayout* pages_;
  QLabel* image_;
  QPlainTextEdit* text_;
  QLabel* facts_;
  bool closingFromModel_ = false;
  // The file asked for last is the one shown, however the readings finish.
  Background::Lane reading_;
  friend class PreviewController;
};

// Binds a browser model's preview URL to a preview: GNOME's previewer when the session offers
// it, else the in-app window. Clearing the URL closes either.
class PreviewController : public QObject {
  Q_OBJECT
 public:
  PreviewController(BrowserModel* browser, QWidget* window);

  // The in-app window, once one was needed.
  PreviewWindow* window() const { return window_; }

 private slots:
  // The desktop previewer tells when it is hidden: closed with its own keys or button.
  void previewerPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                  const QStringList& invalidated);

 private:
  // The previewer went away on its own: the next Space opens a new preview at once.
  void desktopPreviewerClosed();
  void sync();
  bool showInDesktopPreviewer(const QUrl& url);
  void closeDesktopPreviewer();
  void showInApp();

  QPointer<BrowserModel> browser_;
  QPointer<QWidget> host_;
  QPointer<PreviewWindow> window_;
  bool desktopShown_ = false;
};

}  // namespace tallyfox
