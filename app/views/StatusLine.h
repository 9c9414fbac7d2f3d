#pragma once

#include "model/BrowserModel.h"

#include <QPointer>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QToolButton;

namespace tallyfox {

class MessageText;

// The line under the browser: the selected path (selectable), the unreadable count, the
// number of entries, when the snapshot was taken, and the hint to the key sheet; above it,
// for a damaged snapshot or one whose file changed while the window had it open, what is
// wrong, whole.
class StatusLine : public QWidget {
  Q_OBJECT
 public:
  explicit StatusLine(BrowserModel* browser, QWidget* parent = nullptr);

  QString pathText() const;
  QString unreadableText() const;  // empty when hidden
  QString damageText() const;      // empty when hidden; also says when the file changed
  MessageText* damageMessage() const { return damage_; }
  QString entriesText() const;
  QString scannedText() const;
  // The measure's two buttons, "Size" and "Entries"; the checked one is the window's.
  QToolButton* sizeButton() const { return bySize_; }
  QToolButton* entriesButton() const { return byEntries_; }

 private:
  void refresh();
  void refreshDate();
  void refreshMeasure();

  QPointer<BrowserModel> browser_;
  QLineEdit* path_;
  QWidget* unreadable_;
  QLabel* unreadableLabel_;
  MessageText* damage_;
  QLabel* entries_;
  QLabel* scanned_;
  QLabel* keys_;
  QToolButton* bySize_;
  QToolButton* byEntries_;
  QHBoxLayout* items_;
};

}  // namespace tallyfox
