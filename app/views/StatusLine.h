#pragma once

#include "model/BrowserModel.h"

#include <QPointer>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QLineEdit;

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

 private:
  void refresh();
  void refreshDate();

  QPointer<BrowserModel> browser_;
  QLineEdit* path_;
  QWidget* unreadable_;
  QLabel* unreadableLabel_;
  MessageText* damage_;
  QLabel* entries_;
  QLabel* scanned_;
  QLabel* keys_;
  QHBoxLayout* items_;
};

}  // namespace tallyfox
