#pragma once

#include "model/BrowserModel.h"
#include "platform/Desktop.h"

#include <QMainWindow>

#include <filesystem>

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

  // The window title: the model's title, then its subtitle after " — " (the desktop has no
  // separate subtitle line).
  static QString titleFor(const BrowserModel& browser);

 signals:
  // The window was shown for the first time.
  void appeared();
  // The window became the active one.
  void activated();

 protected:
  void showEvent(QShowEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void setUp();
  void refreshTitle();

  std::filesystem::path file_;
  BrowserModel* browser_;
  BrowserView* view_ = nullptr;
  bool appeared_ = false;
};

}  // namespace tallyfox
