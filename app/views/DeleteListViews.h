#pragma once

#include "model/BrowserModel.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

class QLabel;
class QMenu;
class QPushButton;
class QToolButton;
class QTreeWidget;

namespace tallyfox {

class DeleteList;

// "One per Line", "Shell-Quoted" and "Save List…", as the bar and the sheet offer them.
QMenu* copyPathsMenu(DeleteList& list, QWidget* parent);

// Below the list while the delete list holds something: how much, and what to do with it.
class DeleteListBar : public QWidget {
  Q_OBJECT
 public:
  explicit DeleteListBar(BrowserModel* browser, QWidget* parent = nullptr);

  QString text() const;
  QPushButton* reviewButton() const { return review_; }
  QPushButton* trashButton() const { return trash_; }
  QToolButton* copyButton() const { return copy_; }

 private:
  void refresh();

  QPointer<BrowserModel> browser_;
  QLabel* text_;
  QPushButton* review_;
  QToolButton* copy_;
  QPushButton* trash_;
};

// Below that, what the last move to the Trash or emptying came to, or that one is running.
class TrashResultRow : public QWidget {
  Q_OBJECT
 public:
  explicit TrashResultRow(BrowserModel* browser, QWidget* parent = nullptr);

  QString text() const;
  QString failuresText() const;
  QString failuresTooltip() const;
  QPushButton* emptyButton() const { return empty_; }
  // Offered while items the Trash could not take are listed.
  QPushButton* deleteButton() const { return delete_; }
  QToolButton* dismissButton() const { return dismiss_; }

 private:
  void refresh();

  QPointer<BrowserModel> browser_;
  QWidget* busy_;
  QLabel* busyText_;
  QWidget* result_;
  QLabel* symbol_;
  QLabel* text_;
  QWidget* failures_;
  QLabel* failuresText_;
  QPushButton* empty_;
  QPushButton* delete_;
  QToolButton* dismiss_;
};

// The "Delete List" sheet: every top-level item with its size, to review before the Trash.
class DeleteListDialog : public QDialog {
  Q_OBJECT
 public:
  explicit DeleteListDialog(BrowserModel* browser, QWidget* parent = nullptr);

  QTreeWidget* items() const { return items_; }
  QString headline() const;
  QString note() const;
  // The context menu of the item at `row`, built as the sheet shows it.
  QMenu* menuFor(int row);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void refresh();

  QPointer<BrowserModel> browser_;
  QLabel* headline_;
  QTreeWidget* items_;
  QLabel* note_;
  QPushButton* clear_;
  QPushButton* trash_;
};

}  // namespace tallyfox
