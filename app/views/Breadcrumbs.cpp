#include "views/Breadcrumbs.h"

#include "model/OutsideModel.h"
#include "model/RemoteBrowsing.h"
#include "model/SshTarget.h"

#include "model/Labels.h"
#include "views/EntryMenus.h"
#include "views/Icons.h"

#include <tallyfox/SnapshotPaths.h>

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace tallyfox {

namespace {

constexpr double padding = 6;     // inside a crumb, left and right
constexpr double separator = 14;  // room of a chevron between two crumbs
constexpr double edge = 10;       // before the first crumb

}  // namespace

Breadcrumbs::Breadcrumbs(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  setMouseTracking(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setAccessibleName(QStringLiteral("Path"));
  setFocusPolicy(Qt::TabFocus);
  AccessibleParts::expose(this, QAccessible::ToolBar, QAccessible::Button);
  for (auto signal : {&BrowserModel::treeChanged, &BrowserModel::currentChanged})
    connect(browser, signal, this, &Breadcrumbs::rebuild);
  connect(&browser->outside(), &OutsideModel::outsidePathChanged, this, &Breadcrumbs::rebuild);
  rebuild();
}

std::vector<NodeId> Breadcrumbs::crumbs() const {
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  if (!tree) return {};
  std::vector<NodeId> ids{DiskTree::root};
  // While a folder outside is shown, the snapshot is only its root.
  if (browser_->outside().isShown()) return ids;
  for (NodeId id : tree->lineage(browser_->current())) ids.push_back(id);
  return ids;
}

QStringList Breadcrumbs::labels() const {
  QStringList all;
  for (const Placed& p : placed_) all << p.label;
  return all;
}

QRect Breadcrumbs::outsideCrumbRect(const std::string& path) const {
  for (const Placed& p : placed_)
    if (p.outside == path) return p.rect.toAlignedRect();
  return {};
}

QSize Breadcrumbs::sizeHint() const {
  return {400, fontMetrics().height() + 14};
}
QSize Breadcrumbs::minimumSizeHint() const {
  return {100, fontMetrics().height() + 14};
}

void Breadcrumbs::rebuild() {
  placed_.clear();
  hovered_ = -1;
  here_ = -1;
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  if (tree) {
    const auto& shown = browser_->outside().outsidePath();
    for (const std::string& path : browser_->outside().outsideAncestors()) {
      if (shown == path) here_ = int(placed_.size());
      placed_.push_back({-1, BrowserModel::displayName(QString::fromStdString(path)), {}, path});
    }
    // A snapshot of another machine says whose folder it starts at: "web:/srv › data".
    const std::optional<QString> host = RemoteBrowsing::hostOf(*browser_);
    for (NodeId id : crumbs()) {
      const QString label =
          host && id == DiskTree::root
              ? RemoteSnapshots::displayPath(
                    host, QString::fromStdString(SnapshotPaths::canonical(tree->rootPath())))
              : Labels::node(*tree, id);
      placed_.push_back({id, label, {}, std::nullopt});
    }
    if (here_ < 0) here_ = int(placed_.size()) - 1;
  }
  ++generation_;
  keyCrumb_ = hasFocus() ? here_ : -1;
  place();
  update();
}

void Breadcrumbs::resizeEvent(QResizeEvent* event) {
  place();
  QWidget::resizeEvent(event);
}

void Breadcrumbs::place() {
  chevrons_.clear();
  ellipses_.clear();
  if (placed_.empty()) return;
  QFont bold = font();
  bold.setBold(true);
  const QFontMetricsF plain(font()), strong(bold);
  const std::size_t count = placed_.size();
  std::vector<double> widths;
  for (std::size_t i = 0; i < count; ++i) {
    const auto& metrics = int(i) == here_ ? strong : plain;
    widths.push_back(metrics.horizontalAdvance(placed_[i].label) + 2 * padding);
  }
  const double ellipsisWidth = plain.horizontalAdvance(QStringLiteral("…")) + 2 * padding;
  // Each run of crumbs that gave way is drawn as one ellipsis.
  std::vector<bool> hidden(count, false);
  const auto needed = [&] {
    double total = edge;
    for (std::size_t i = 0; i < count; ++i) {
      if (hidden[i] && i > 0 && hidden[i - 1]) continue;
      total += (i > 0 ? separator : 0) + (hidden[i] ? ellipsisWidth : widths[i]);
    }
    return total;
  };
  // The folders above the root give way first, then the snapshot's crumbs after its root;
  // the root, the last crumb and the one shown now always stay.
  std::size_t root = 0;
  while (root < count && placed_[root].outside) ++root;
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < root; ++i) order.push_back(i);
  for (std::size_t i = root + 1; i + 1 < count; ++i) order.push_back(i);
  for (std::size_t i : order) {
    if (needed() <= width()) break;
    if (int(i) != here_) hidden[i] = true;
  }

  const double h = height();
  double x = edge;
  for (std::size_t i = 0; i < count; ++i) {
    if (hidden[i] && i > 0 && hidden[i - 1]) {
      placed_[i].rect = QRectF();
      continue;
    }
    if (i > 0) {
      chevrons_.push_back(x);
      x += separator;
    }
    if (hidden[i]) {
      placed_[i].rect = QRectF();
      ellipses_.push_back(QRectF(x, 0, ellipsisWidth, h));
      x += ellipsisWidth;
      continue;
    }
    // The last crumb takes what is left when even the crumbs that stay do not fit.
    const double w = i + 1 == count ? std::min(widths[i], std::max(0.0, width() - x)) : widths[i];
    placed_[i].rect = QRectF(x, 3, w, h - 6);
    x += w;
  }
}

QRect Breadcrumbs::crumbRect(NodeId node) const {
  for (const Placed& p : placed_)
    if (p.node == node) return p.rect.toAlignedRect();
  return {};
}

const Breadcrumbs::Placed* Breadcrumbs::crumbAt(QPointF point) const {
  for (const Placed& p : placed_)
    if (!p.rect.isEmpty() && p.rect.contains(point)) return &p;
  return nullptr;
}

void Breadcrumbs::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor text = palette().color(QPalette::WindowText);
  QColor dim = text;
  dim.setAlphaF(0.5f);
  QFont bold = font();
  bold.setBold(true);
  for (double x : chevrons_) Icons::paintChevron(painter, QRectF(x, 0, separator, height()), 0, dim);
  painter.setPen(dim);
  for (const QRectF& ellipsis : ellipses_) painter.drawText(ellipsis, Qt::AlignCenter, QStringLiteral("…"));
  for (std::size_t i = 0; i < placed_.size(); ++i) {
    const Placed& p = placed_[i];
    if (p.rect.isEmpty()) continue;
    const bool here = int(i) == here_;
    if (hovered_ == int(i)) {
      QColor hover = palette().color(QPalette::Highlight);
      hover.setAlphaF(0.12f);
      painter.setPen(Qt::NoPen);
      painter.setBrush(hover);
      painter.drawRoundedRect(p.rect, 4, 4);
    }
    if (hasFocus() && keyCrumb_ == int(i)) {
      painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
      painter.setBrush(Qt::NoBrush);
      painter.drawRoundedRect(p.rect.adjusted(0.75, 0.75, -0.75, -0.75), 4, 4);
    }
    painter.setFont(here ? bold : font());
    // Folders above the root are not in the snapshot: drawn faint, unless shown now.
    painter.setPen(p.outside && !here ? dim : text);
    const QString shown =
        QFontMetricsF(painter.font()).elidedText(p.label, Qt::ElideMiddle, p.rect.width() - 2 * padding);
    painter.drawText(p.rect, Qt::AlignCenter, shown);
  }
}

void Breadcrumbs::activateOutside(const std::string& path) {
  if (browser_ && browser_->outside().outsidePath() != path) browser_->outside().showOutside(path);
}

void Breadcrumbs::activate(NodeId crumb) {
  if (!browser_) return;
  BrowserModel& m = *browser_;
  const DiskTreePtr tree = m.tree();
  if (!tree) return;
  if (m.outside().isShown()) {
    m.outside().backInside();
    return;
  }
  if (crumb == m.current()) {
    m.navigate(crumb, m.selection());
    return;
  }
  // Inside the crumb, select the folder that leads back down to where we were.
  std::optional<NodeId> next;
  for (NodeId id : tree->lineage(m.current()))
    if (tree->parentOf(id) == crumb) next = id;
  m.navigate(crumb, next);
}

void Breadcrumbs::activate(const Placed& crumb) {
  if (crumb.outside)
    activateOutside(*crumb.outside);
  else
    activate(crumb.node);
}

void Breadcrumbs::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (const Placed* p = crumbAt(event->position())) activate(*p);
}

void Breadcrumbs::mouseMoveEvent(QMouseEvent* event) {
  const Placed* p = crumbAt(event->position());
  const int now = p ? int(p - placed_.data()) : -1;
  if (now != hovered_) {
    hovered_ = now;
    setCursor(now >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
  }
}

void Breadcrumbs::contextMenuEvent(QContextMenuEvent* event) {
  // From the keyboard's menu key: the crumb the keyboard is on, below where it is drawn.
  const bool fromKeyboard = event->reason() == QContextMenuEvent::Keyboard;
  const Placed* p = fromKeyboard ? (keyCrumb_ >= 0 && keyCrumb_ < partCount() ? &placed_[keyCrumb_] : nullptr)
                                 : crumbAt(event->pos());
  if (!p) return;
  openMenu(*p, fromKeyboard ? mapToGlobal(p->rect.bottomLeft().toPoint()) : event->globalPos());
  event->accept();
}

void Breadcrumbs::openMenu(const Placed& crumb, QPoint globalPos) {
  if (!browser_) return;
  const std::optional<QByteArray> path =
      crumb.outside ? std::optional<QByteArray>(QByteArray::fromStdString(*crumb.outside))
                    : browser_->filePath(crumb.node);
  if (!path) return;
  QMenu menu(this);
  fillFolderPathMenu(menu, *browser_, *path,
                     crumb.outside ? std::nullopt : std::optional<NodeId>(crumb.node));
  menu.exec(globalPos);
}

void Breadcrumbs::setKeyCrumb(int index) {
  if (index < 0 || index >= partCount()) return;
  keyCrumb_ = index;
  update();
  AccessibleParts::announceFocus(this, index);
}

void Breadcrumbs::keyPressEvent(QKeyEvent* event) {
  // Only the crumbs drawn: one that gave way for lack of room has nowhere to show the focus.
  const auto drawnFrom = [&](int from, int direction) {
    for (int i = from + direction; i >= 0 && i < partCount(); i += direction)
      if (!placed_[std::size_t(i)].rect.isEmpty()) return i;
    return -1;
  };
  switch (event->key()) {
    case Qt::Key_Left:
      setKeyCrumb(drawnFrom(keyCrumb_, -1));
      break;
    case Qt::Key_Right:
      setKeyCrumb(drawnFrom(keyCrumb_, 1));
      break;
    case Qt::Key_Home:
      setKeyCrumb(drawnFrom(-1, 1));
      break;
    case Qt::Key_End:
      setKeyCrumb(drawnFrom(partCount(), -1));
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      pressPart(keyCrumb_);
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}

void Breadcrumbs::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  setKeyCrumb(keyCrumb_ >= 0 && keyCrumb_ < partCount() ? keyCrumb_ : here_);
}

void Breadcrumbs::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

QString Breadcrumbs::partName(int part) const {
  return part >= 0 && part < partCount() ? placed_[std::size_t(part)].label : QString();
}

QString Breadcrumbs::partDescription(int part) const {
  if (part < 0 || part >= partCount()) return {};
  if (part == here_) return QStringLiteral("Shown now");
  return placed_[std::size_t(part)].outside ? QStringLiteral("Not in this snapshot") : QString();
}

QRect Breadcrumbs::partRect(int part) const {
  return part >= 0 && part < partCount() ? placed_[std::size_t(part)].rect.toAlignedRect() : QRect();
}

void Breadcrumbs::pressPart(int part) {
  if (part < 0 || part >= partCount()) return;
  // Copied: the click rebuilds the crumbs.
  const Placed crumb = placed_[std::size_t(part)];
  activate(crumb);
}

bool Breadcrumbs::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const Placed* p = crumbAt(help->pos());
    if (p && p->outside)
      QToolTip::showText(help->globalPos(), QStringLiteral("Not in this snapshot"), this);
    else
      QToolTip::hideText();
    return true;
  }
  return QWidget::event(event);
}

void Breadcrumbs::leaveEvent(QEvent* event) {
  hovered_ = -1;
  update();
  QWidget::leaveEvent(event);
}

}  // namespace tallyfox
