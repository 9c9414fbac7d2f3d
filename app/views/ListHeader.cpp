#include "views/ListHeader.h"

#include "model/CountMode.h"
#include "views/RowDelegate.h"

#include <QAbstractScrollArea>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

namespace tallyfox {

namespace {

QString title(ListOrder::Key key, bool countsEntries) {
  switch (key) {
    case ListOrder::Key::name:
      return QStringLiteral("Name");
    case ListOrder::Key::entries:
      return QStringLiteral("Entries");
    case ListOrder::Key::modified:
      return QStringLiteral("Modified");
    case ListOrder::Key::size:
      break;
  }
  // The column shows, and sorts by, what the window measures.
  return countsEntries ? QStringLiteral("Entries") : QStringLiteral("Size");
}

}  // namespace

ListHeader::ListHeader(BrowserModel* browser, QWidget* list, QWidget* parent)
    : QWidget(parent), browser_(browser), list_(list) {
  setAccessibleName(QStringLiteral("Sort by"));
  setToolTip(QStringLiteral("Click a column to sort by it; right-click to choose columns"));
  if (browser_) {
    connect(&browser_->listOrder(), &ListOrder::orderChanged, this, qOverload<>(&QWidget::update));
    connect(&browser_->listOrder(), &ListOrder::columnsChanged, this, qOverload<>(&QWidget::update));
    connect(&browser_->countMode(), &CountMode::measureChanged, this, qOverload<>(&QWidget::update));
  }
}

QSize ListHeader::sizeHint() const {
  return {200, fontMetrics().height() + 8};
}

QRect ListHeader::rectOf(ListOrder::Key key) const {
  if (!browser_) return {};
  QRectF row(0, 0, width(), height());
  if (auto* area = qobject_cast<QAbstractScrollArea*>(list_.data())) {
    // A sibling, not a parent: through the screen.
    const QPoint left = mapFromGlobal(area->viewport()->mapToGlobal(QPoint(0, 0)));
    row = QRectF(left.x(), 0, area->viewport()->width(), height());
  }
  const ListOrder& order = browser_->listOrder();
  const auto columns = RowDelegate::columns(row, order.showsColumn(ListOrder::Column::entries),
                                            order.showsColumn(ListOrder::Column::modified));
  switch (key) {
    case ListOrder::Key::name:
      return columns.name.toAlignedRect();
    case ListOrder::Key::entries:
      return columns.entries ? columns.entries->toAlignedRect() : QRect();
    case ListOrder::Key::modified:
      return columns.modified ? columns.modified->toAlignedRect() : QRect();
    case ListOrder::Key::size:
      break;
  }
  return columns.share.united(columns.size).toAlignedRect();
}

std::optional<ListOrder::Key> ListHeader::keyAt(QPoint point) const {
  for (auto key :
       {ListOrder::Key::name, ListOrder::Key::entries, ListOrder::Key::modified, ListOrder::Key::size})
    if (rectOf(key).contains(point)) return key;
  return std::nullopt;
}

void ListHeader::paintEvent(QPaintEvent*) {
  if (!browser_) return;
  QPainter painter(this);
  const ListOrder::Order order = browser_->listOrder().order();
  QColor dim = palette().color(QPalette::Text);
  dim.setAlphaF(0.6f);
  for (auto key :
       {ListOrder::Key::name, ListOrder::Key::entries, ListOrder::Key::modified, ListOrder::Key::size}) {
    const QRect rect = rectOf(key);
    if (rect.isEmpty()) continue;
    QString text = title(key, browser_->countMode().countsEntries());
    QFont font = this->font();
    if (key == order.key) {
      // The arrow points the way the values run down the list.
      text += order.ascending ? QStringLiteral(" ▲") : QStringLiteral(" ▼");
      font.setBold(true);
    }
    painter.setFont(font);
    painter.setPen(key == order.key ? palette().color(QPalette::Text) : dim);
    const auto align = key == ListOrder::Key::name ? Qt::AlignLeft : Qt::AlignRight;
    painter.drawText(rect, Qt::AlignVCenter | align | Qt::TextSingleLine, text);
  }
}

void ListHeader::mouseReleaseEvent(QMouseEvent* event) {
  if (!browser_ || event->button() != Qt::LeftButton) return;
  if (const auto key = keyAt(event->position().toPoint())) browser_->listOrder().sortBy(*key);
}

void ListHeader::fillMenu(QMenu& menu) {
  if (!browser_) return;
  QPointer<BrowserModel> browser = browser_;
  for (auto [column, text] : {std::pair{ListOrder::Column::entries, QStringLiteral("Entries")},
                              std::pair{ListOrder::Column::modified, QStringLiteral("Modified")}}) {
    QAction* action = menu.addAction(text);
    action->setCheckable(true);
    action->setChecked(browser_->listOrder().showsColumn(column));
    connect(action, &QAction::toggled, &menu, [browser, column](bool on) {
      if (browser) browser->listOrder().setShowsColumn(column, on);
    });
  }
}

void ListHeader::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu;
  fillMenu(menu);
  menu.exec(event->globalPos());
}

}  // namespace tallyfox
