#pragma once

#include "model/BrowserModel.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tallyfox {

// What the views of a folder's subtree share: a title with "Done", a summary line, and a
// list. Escape and "Done" close the view; the window then shows the chart and the list again.
class SubtreeView : public QWidget {
  Q_OBJECT
 public:
  QString titleText() const;
  QString summaryText() const;
  QTreeWidget* list() const { return list_; }
  QPushButton* doneButton() const { return done_; }

 protected:
  SubtreeView(BrowserModel* browser, QWidget* parent);
  void keyPressEvent(QKeyEvent* event) override;
  void setTexts(const QString& title, const QString& summary);
  virtual void close() = 0;

  QPointer<BrowserModel> browser_;
  QLabel* title_;
  QLabel* summary_;
  QPushButton* done_;
  QTreeWidget* list_;
};

// The largest files below a folder: name, folder below it, size and date. A row takes the
// list's actions on its file (keys and the context menu); Return or a double click
// shows the file in the list.
class LargestFilesView : public SubtreeView {
  Q_OBJECT
 public:
  explicit LargestFilesView(BrowserModel* browser, QWidget* parent = nullptr);
  // The file of the current row.
  std::optional<NodeId> currentFile() const;

 protected:
  void close() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refresh();
  bool runKey(QKeyEvent* event, NodeId file);
};

// Bytes per kind of file below a folder: categories, each expandable to its extensions,
// largest first with their share. Choosing a row (Return or a double click) picks that kind
// out in the list and the chart.
class FileTypesView : public SubtreeView {
  Q_OBJECT
 public:
  explicit FileTypesView(BrowserModel* browser, QWidget* parent = nullptr);
  void chooseCurrent();

 protected:
  void close() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refresh();
};

// Above the list while a kind of file is picked out: which, how much of this folder it is,
// and the button that clears it.
class FileTypeBar : public QWidget {
  Q_OBJECT
 public:
  explicit FileTypeBar(BrowserModel* browser, QWidget* parent = nullptr);
  QString text() const;

 private:
  void refresh();

  QPointer<BrowserModel> browser_;
  QLabel* label_;
};

}  // namespace tallyfox
