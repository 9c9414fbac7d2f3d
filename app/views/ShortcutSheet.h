#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

class QFrame;
class QPushButton;
class QScrollArea;

namespace tallyfox {

// The list of the browser's keys from the command table, with the key names of this
// desktop, as a sheet over the window: a framed, shadowed panel on a dimmed backdrop that
// takes the keyboard until it closes with Escape, "?", Return or "Done".
//
// It lives inside the window rather than as a dialog of its own because a dialog's frame
// and shadow are the window manager's to draw, and some draw a modal dialog without either
// (or there is no window manager at all): the panel then read as a glitch on the chart.
class ShortcutSheet : public QWidget {
  Q_OBJECT
 public:
  // Covers `window` until closed; deletes itself when closed.
  explicit ShortcutSheet(QWidget* window);

  // Key text and what it does, in the order shown.
  static QList<QPair<QString, QString>> rows();

  QFrame* panel() const { return panel_; }
  QPushButton* doneButton() const { return done_; }

 signals:
  void closed();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // Tab and Backtab stay on the sheet instead of reaching the list behind it.
  bool focusNextPrevChild(bool next) override;

 private:
  void placePanel();

  QFrame* panel_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QPushButton* done_ = nullptr;
  bool closed_ = false;
};

}  // namespace tallyfox
