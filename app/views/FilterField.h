#pragma once

#include "model/BrowserModel.h"

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class QLabel;
class QToolButton;

namespace tallyfox {

// The name filter of the current folder, bound to the model's filter text. Return keeps the
// filter and hands the keys back to the list, Escape clears it (the age too), Down moves into
// the list.
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

// The filter's age, beside the name: a button whose menu keeps only entries not modified for
// 30 days, a year, three years or since a chosen day, and names the choice; what the current
// folder holds of it; and a button that clears it.
class AgeControls : public QWidget {
  Q_OBJECT
 public:
  explicit AgeControls(BrowserModel* browser, QWidget* parent = nullptr);

  QToolButton* chooser() const { return chooser_; }
  QString choiceText() const;
  QString summaryText() const;

 private:
  void refresh();
  void chooseDate();

  QPointer<BrowserModel> browser_;
  QToolButton* chooser_;
  QLabel* summary_;
  QToolButton* clear_;
};

}  // namespace tallyfox
