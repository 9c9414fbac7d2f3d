#include "views/EntryList.h"

#include "model/BrowserCommands.h"
#include "model/DeleteList.h"
#include "model/FileActions.h"
#include "model/FileTypes.h"
#include "views/RowDelegate.h"
#include "views/RowListModel.h"

#include <QContextMenuEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <utility>

namespace tallyfox {

EntryList::EntryList(BrowserModel* browser, QWidget* parent)
    : QListView(parent),
      browser_(browser),
      rows_(new RowListModel(browser, this)),
      delegate_(new RowDelegate(browser, this)),
      drag_(browser) {
  setModel(rows_);
  setItemDelegate(delegate_);
  // Every row has the same height, which keeps a folder of a million entries cheap to lay out.
  setUniformItemSizes(true);
  setLayoutMode(QListView::SinglePass);
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setFrameShape(QFrame::NoFrame);
  setMouseTracking(true);
  viewport()->setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(QStringLiteral("Entries"));

  connect(rows_, &RowListModel::selectedRowChanged, this, [this](int previous, int row) {
    for (int changed : {previous, row})
      if (changed >= 0) viewport()->update(visualRect(rows_->index(changed)));
    if (row >= 0) scrollTo(rows_->index(row), QAbstractItemView::EnsureVisible);
    // The view's current item follows the selection (the view selects nothing itself), so
    // that assistive technology hears which row the keys are on.
    if (row >= 0 && currentIndex().row() != row)
      selectionModel()->setCurrentIndex(rows_->index(row), QItemSelectionModel::NoUpdate);
  });
  connect(rows_, &RowListModel::appearanceChanged, viewport(), qOverload<>(&QWidget::update));
  connect(&browser->fileTypes(), &FileTypes::chosenChanged, viewport(), qOverload<>(&QWidget::update));
}

QRect EntryList::rowRect(NodeId node) const {
  const auto& all = rows_->rows();
  for (std::size_t i = 0; i < all.size(); ++i)
    if (all[i].node == node) return visualRect(rows_->index(int(i)));
  return {};
}

std::optional<NodeId> EntryList::nodeAt(QPoint point) const {
  const auto row = rows_->rowAt(indexAt(point).row());
  if (!row) return std::nullopt;
  return row->node;
}

QStyleOptionViewItem EntryList::optionFor(const QModelIndex& index) const {
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(index);
  return option;
}

bool EntryList::handleKey(QKeyEvent* event) {
  if (!browser_) return false;
  const BrowserCommand* command = BrowserCommands::forListKey(event->keyCombination(), event->text());
  if (!command) return false;
  // A known key that cannot act now is still this list's key, not its parent's.
  BrowserCommands::run(*command, *browser_);
  return true;
}

void EntryList::keyPressEvent(QKeyEvent* event) {
  if (handleKey(event))
    event->accept();
  else
    event->ignore();
}

void EntryList::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  event->accept();
  const QModelIndex index = indexAt(event->position().toPoint());
  const auto row = rows_->rowAt(index.row());
  pressed_ = row && event->button() == Qt::LeftButton ? std::optional<NodeId>(row->node) : std::nullopt;
  if (!row || !browser_ || event->button() != Qt::LeftButton) return;
  const RowDelegate::Part part = delegate_->partAt(optionFor(index), index, event->position());
  // Alt-click marks as on other desktops' lists; Ctrl-click too, for window managers that
  // take Alt-drag for moving windows. Neither moves the selection.
  const bool marking = event->modifiers() & (Qt::AltModifier | Qt::ControlModifier);
  if (part == RowDelegate::Part::chevron && !marking)
    browser_->toggleExpanded(row->node);
  else if (part == RowDelegate::Part::icon || marking)
    browser_->deleteList().toggleMark(row->node);
  else
    drag_.press(event->position(), row->node);
}

void EntryList::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  const std::optional<NodeId> clicked = drag_.release();
  if (clicked && browser_ && event->button() == Qt::LeftButton) browser_->click(*clicked);
}

void EntryList::mouseDoubleClickEvent(QMouseEvent* event) {
  // The second half of a double click arrives here instead of as a press. On a folder the
  // first click already entered it, and the row now under the pointer belongs to the folder
  // entered: only a file that both presses landed on is opened.
  event->accept();
  drag_.cancel();
  const std::optional<NodeId> first = std::exchange(pressed_, std::nullopt);
  if (!browser_ || event->button() != Qt::LeftButton || event->modifiers() != Qt::NoModifier) return;
  const auto node = nodeAt(event->position().toPoint());
  const DiskTreePtr tree = browser_->tree();
  if (node && node == first && tree && !tree->isDirectory(*node) && browser_->selection() == node)
    browser_->files().openSelection(node);
}

void EntryList::mouseMoveEvent(QMouseEvent* event) {
  if (drag_.move(this, *event)) return;
  const QPoint point = event->position().toPoint();
  const QModelIndex index = indexAt(point);
  const auto row = rows_->rowAt(index.row());
  setHover(row ? std::optional<NodeId>(row->node) : std::nullopt);
  std::optional<NodeId> icon;
  if (row && delegate_->partAt(optionFor(index), index, event->position()) == RowDelegate::Part::icon)
    icon = row->node;
  setHoveredIcon(icon);
  QListView::mouseMoveEvent(event);
}

void EntryList::contextMenuEvent(QContextMenuEvent* event) {
  if (!browser_) return;
  // From the keyboard's menu key: the selected row, where it is drawn.
  const bool fromKeyboard = event->reason() == QContextMenuEvent::Keyboard;
  const std::optional<NodeId> node = fromKeyboard ? browser_->selection() : nodeAt(event->pos());
  if (!node) return;
  const QPoint at = fromKeyboard ? rowRect(*node).bottomLeft() : event->pos();
  QMenu menu(this);
  fillEntryMenu(menu, *browser_, *node);
  if (!menu.isEmpty()) menu.exec(viewport()->mapToGlobal(at));
  event->accept();
}

void EntryList::leaveEvent(QEvent* event) {
  if (browser_) setHover(std::nullopt);
  setHoveredIcon(std::nullopt);
  QListView::leaveEvent(event);
}

void EntryList::setHover(std::optional<NodeId> row) {
  if (browser_) browser_->setHoveredRow(row);
}

void EntryList::setHoveredIcon(std::optional<NodeId> node) {
  const std::optional<NodeId> before = delegate_->hoveredIcon();
  if (before == node) return;
  delegate_->setHoveredIcon(node);
  for (const auto changed : {before, node})
    if (changed) viewport()->update(rowRect(*changed));
}

QString EntryList::placeholderText() const {
  if (rows_->rowCount() > 0 || !browser_ || !browser_->tree()) return {};
  return browser_->filter().trimmed().isEmpty() ? QStringLiteral("Empty") : QStringLiteral("No matches");
}

void EntryList::paintEvent(QPaintEvent* event) {
  QListView::paintEvent(event);
  const QString text = placeholderText();
  if (text.isEmpty()) return;
  QPainter painter(viewport());
  QColor dim = palette().color(QPalette::Text);
  dim.setAlphaF(0.55f);
  painter.setPen(dim);
  painter.drawText(viewport()->rect(), Qt::AlignCenter, text);
}

}  // namespace tallyfox
