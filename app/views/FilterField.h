#pragma once

#include "model/BrowserModel.h"

#include <QLineEdit>
#include <QPointer>

namespace tallyfox {

// The name filter of the current folder, bound to the model's filter text. Return keeps the
// filter and hands the keys back to the list, Escape clears it, Down moves into the list.
class FilterField : public QLineEdit {
  Q_OBJECT
 public:
  explicit FilterField(BrowserModel* browser, QWidget* parent = nullptr);

 signals:
  // The list should take the keyboard (the field may stay open).
  void focusListRequested();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QPointer<BrowserModel> browser_;
};

}  // namespace tallyfox
