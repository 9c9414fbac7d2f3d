#pragma once

#include "model/BrowserModel.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;

namespace tallyfox {

// The line under the browser: what is broken in a damaged snapshot, or that its file changed
// while the window had it open, the selected path (selectable), the unreadable count, the number of entries,
// when the snapshot was taken, and the hint to the key sheet.
class StatusLine : public QWidget {
  Q_OBJECT
 public:
  explicit StatusLine(BrowserModel* browser, QWidget* parent = nullptr);

  QString pathText() const;
  QString unreadableText() const;  // empty when hidden
  QString damageText() const;      // empty when hidden; also says when the file changed
  QString entriesText() const;
  QString scannedText() const;

 private:
  void refresh();
  void refreshDate();

  QPointer<BrowserModel> browser_;
  QLineEdit* path_;
  QWidget* unreadable_;
  QLabel* unreadableLabel_;
  QLabel* damage_;
  QLabel* entries_;
  QLabel* scanned_;
  QLabel* keys_;
};

}  // namespace tallyfox
