#pragma once

#include "model/BrowserModel.h"
#include "views/ChangeColumns.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;

namespace tallyfox {

class MessageText;

// Below the list while comparing: since when, the current folder's net change and "Stop".
// Without a comparison, the reason the last one failed stands in its place; with neither
// the bar is hidden.
class CompareBar : public QWidget {
  Q_OBJECT
 public:
  explicit CompareBar(BrowserModel* browser, QWidget* parent = nullptr);

  QString text() const;
  QString changeText() const;
  QString errorText() const;

 private:
  void refresh();

  QPointer<BrowserModel> browser_;
  QWidget* bar_;
  QLabel* symbol_;
  QLabel* since_;
  QLabel* change_;
  QPushButton* stop_;
  QWidget* errorLine_;
  MessageText* error_;
};

// Below the rows while comparing: what is no longer there, struck through, with its change.
class GoneSection : public QWidget {
  Q_OBJECT
 public:
  explicit GoneSection(BrowserModel* browser, QWidget* parent = nullptr);

  // The names listed, in order.
  QStringList names() const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void refresh();
  double rowHeight() const;
  double headingHeight() const;
  ChangeColumns::Layout columnsAt(double y) const;

  QPointer<BrowserModel> browser_;
  std::vector<SnapshotDiff::Entry> entries_;
  std::uint64_t largestChange_ = 1;
  bool counting_ = false;
};

}  // namespace tallyfox
