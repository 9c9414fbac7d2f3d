#pragma once

#include "model/BrowserModel.h"
#include "model/ListOrder.h"

#include <QPointer>
#include <QWidget>

#include <optional>

namespace tallyfox {

// The list's header: the column names over the rows, aligned with what RowDelegate paints.
// A click on a name sorts by it (again: the other way round); the context menu shows or
// hides the optional columns "Entries" and "Modified".
class ListHeader : public QWidget {
  Q_OBJECT
 public:
  ListHeader(BrowserModel* browser, QWidget* list, QWidget* parent = nullptr);

  QSize sizeHint() const override;
  // The column under a point, for clicks and tests.
  std::optional<ListOrder::Key> keyAt(QPoint point) const;
  QRect rectOf(ListOrder::Key key) const;
  // The menu the header offers on a right click.
  void fillMenu(QMenu& menu);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  QPointer<BrowserModel> browser_;
  // The list below: its rows are narrower by a visible scroll bar, and the header follows.
  QPointer<QWidget> list_;
};

}  // namespace tallyfox
