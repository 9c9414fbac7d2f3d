#pragma once

#include "model/BrowserModel.h"
#include "views/EntryMenus.h"

#include <QListView>
#include <QPointer>

#include <optional>

namespace tallyfox {

class RowDelegate;
class RowListModel;

// The list of the current folder. Keys and clicks become browser-model operations; the
// model's selection is the only selection, so the view's own selection is switched off.
class EntryList : public QListView {
  Q_OBJECT
 public:
  explicit EntryList(BrowserModel* browser, QWidget* parent = nullptr);

  RowListModel* rows() const { return rows_; }
  RowDelegate* rowDelegate() const { return delegate_; }
  // The rectangle of a node's row in viewport coordinates, empty when it is not listed.
  QRect rowRect(NodeId node) const;

  // "Empty" or "No matches" while there are no rows to show, else nothing.
  QString placeholderText() const;

  // Runs the key's action; false when the key has none here.
  bool handleKey(QKeyEvent* event);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  std::optional<NodeId> nodeAt(QPoint point) const;
  void setHover(std::optional<NodeId> row);
  void setHoveredIcon(std::optional<NodeId> node);
  QStyleOptionViewItem optionFor(const QModelIndex& index) const;

  QPointer<BrowserModel> browser_;
  // The row the last left press landed on: a double click opens only what both presses hit.
  std::optional<NodeId> pressed_;
  RowListModel* rows_;
  RowDelegate* delegate_;
  // A press on a row clicks it on release, unless the pointer moved off with it first.
  DragOut drag_;

 public:
  DragOut& dragOut() { return drag_; }
};

}  // namespace tallyfox
