#pragma once

#include "model/BrowserModel.h"
#include "platform/Desktop.h"

#include <QMainWindow>
#include <QSize>

#include <filesystem>
#include <optional>

namespace tallyfox {

class BrowserView;

// One snapshot's window: the browser view under the menu bar, titled with the folder shown
// and the date of the snapshot. Owns its model; closes for good when closed.
class BrowserWindow : public QMainWindow {
  Q_OBJECT
 public:
  // The menu bar is the shell's to install: a window does not know the application.
  // Shows a document that the document controller owns.
  explicit BrowserWindow(BrowserModel* browser, QWidget* parent = nullptr);
  // Opens `file` in a model of its own (a window shown apart from the application).
  BrowserWindow(const std::filesystem::path& file, Desktop desktop, QWidget* parent = nullptr);

  BrowserModel* browser() const { return browser_; }
  BrowserView* view() const { return view_; }
  const std::filesystem::path& file() const { return file_; }

  // The size a window opens at when no other is remembered.
  static constexpr QSize defaultSize{1180, 760};

  // Sizes the window for the screen it will appear on: `wanted` (else the default size)
  // within the screen's available area less the window's frame, and not below the minimum
  // sizes of its layout unless the screen itself is smaller. Before the window is shown.
  void fitToScreen(std::optional<QSize> wanted = std::nullopt);
  // What the next window should take from this one: its size when neither maximized nor
  // full screen.
  QSize sizeToRemember() const;

  // The window title: the model's title, then its subtitle after " — " (the desktop has no
  // separate subtitle line).
  static QString titleFor(const BrowserModel& browser);

 signals:
  // The window was shown for the first time.
  void appeared();
  // The window became the active one.
  void activated();
  // The window is closing, still at its last size.
  void closing();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  // The mouse's back and forward buttons, over every part of the window.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void setUp();
  void refreshTitle();

  std::filesystem::path file_;
  BrowserModel* browser_;
  BrowserView* view_ = nullptr;
  bool appeared_ = false;
};

}  // namespace tallyfox
