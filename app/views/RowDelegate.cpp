#include "views/RowDelegate.h"

#include "model/EntryNotes.h"
#include "model/FileTypes.h"
#include "model/Format.h"
#include "model/ListOrder.h"
#include "model/Palette.h"
#include "views/Icons.h"
#include "views/RowListModel.h"

#include <tallyfox/TreeColumns.h>

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>

namespace tallyfox {

namespace {

constexpr double margin = 8;
constexpr double gap = 6;

QColor secondary(const QColor& text) {
  QColor c = text;
  c.setAlphaF(0.55f);
  return c;
}

// The words of the badges drawn as text; empty for those drawn as an icon.
QString badgeLabel(RowDelegate::Part part) {
  switch (part) {
    case RowDelegate::Part::cloneBadge:
      return QStringLiteral("clone");
    case RowDelegate::Part::notScannedBadge:
      return EntryNotes::badge(EntryNotes::Kind::notScanned);
    default:
      return {};
  }
}

Icons::Symbol symbolOf(EntryNotes::Kind kind) {
  switch (kind) {
    case EntryNotes::Kind::folder:
    case EntryNotes::Kind::notScanned:
      return Icons::Symbol::folder;
    case EntryNotes::Kind::symlink:
      return Icons::Symbol::link;
    case EntryNotes::Kind::file:
      break;
  }
  return Icons::Symbol::file;
}

QFont badgeFont(const QFont& base) {
  QFont f = base;
  f.setPointSizeF(std::max(6.0, base.pointSizeF() * 0.8));
  return f;
}

}  // namespace

RowDelegate::RowDelegate(BrowserModel* browser, QObject* parent)
    : QStyledItemDelegate(parent), browser_(browser) {}

int RowDelegate::rowHeight(const QFontMetrics& metrics) {
  return std::max(24, metrics.height() + 8);
}

QSize RowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
  return {200, rowHeight(option.fontMetrics)};
}

std::optional<BrowserModel::RowValues> RowDelegate::valuesAt(const QModelIndex& index) const {
  if (!browser_ || !index.isValid()) return std::nullopt;
  const auto* rows = qobject_cast<const RowListModel*>(index.model());
  const auto row = rows ? rows->rowAt(index.row()) : std::nullopt;
  if (!row) return std::nullopt;
  return browser_->rowValues(*row);
}

RowDelegate::Columns RowDelegate::columns(QRectF r, bool entries, bool modified) {
  Columns c;
  double right = r.right() - margin;
  c.size = QRectF(right - sizeWidth, r.top(), sizeWidth, r.height());
  right -= sizeWidth + gap;
  c.share = QRectF(right - barWidth - gap - percentWidth, r.top(), barWidth + gap + percentWidth, r.height());
  right -= barWidth + gap + percentWidth + gap;
  if (modified) {
    c.modified = QRectF(right - modifiedWidth, r.top(), modifiedWidth, r.height());
    right -= modifiedWidth + gap;
  }
  if (entries) {
    c.entries = QRectF(right - entriesWidth, r.top(), entriesWidth, r.height());
    right -= entriesWidth + gap;
  }
  const double left = r.left() + margin + 14 + 2 + 10 + gap + 20 + 4;
  c.name = QRectF(left, r.top(), std::max(0.0, right - left), r.height());
  return c;
}

RowDelegate::Layout RowDelegate::layout(const QStyleOptionViewItem& option,
                                        const BrowserModel::RowValues& values) const {
  Layout l;
  const QRectF r = option.rect;
  const double mid = r.center().y();
  double x = r.left() + margin + indentPerLevel * values.depth;
  l.chevron = QRectF(x, mid - 9, 14, 18);
  x += 14 + 2;
  l.swatch = QRectF(x, mid - 5, 10, 10);
  x += 10 + gap;
  l.icon = QRectF(x, mid - 9, 20, 18);
  x += 20 + 4;

  double right = r.right() - margin;
  l.size = QRectF(right - sizeWidth, r.top(), sizeWidth, r.height());
  right -= sizeWidth + gap;
  // While comparing, a narrow list gives up the sizes text of the change, then the share and
  // its bar, before the name gets too short to read.
  constexpr double nameRoom = ChangeColumns::nameRoom;
  const double shareWidth = barWidth + gap + percentWidth + gap;
  const bool share = !values.change || right - shareWidth - ChangeColumns::width(false) - x >= nameRoom;
  if (share) {
    l.bar = QRectF(right - barWidth, mid - 3, barWidth, 6);
    right -= barWidth + gap;
    l.percent = QRectF(right - percentWidth, r.top(), percentWidth, r.height());
    right -= percentWidth + gap;
  }
  // The optional columns stand left of the share, and give way to the name in a narrow list.
  if (share && browser_) {
    const ListOrder& order = browser_->listOrder();
    if (order.showsColumn(ListOrder::Column::modified) && right - modifiedWidth - x >= 120) {
      l.modified = QRectF(right - modifiedWidth, r.top(), modifiedWidth, r.height());
      right -= modifiedWidth + gap;
    }
    if (order.showsColumn(ListOrder::Column::entries) && right - entriesWidth - x >= 120) {
      l.entries = QRectF(right - entriesWidth, r.top(), entriesWidth, r.height());
      right -= entriesWidth + gap;
    }
  }
  if (values.change) {
    l.change =
        ChangeColumns::layout(right, r.top(), r.height(), right - ChangeColumns::width(true) - x >= nameRoom);
    right = l.change->left - gap;
  }

  // Badges follow the name; the name gives way to them when the row is narrow.
  std::vector<Part> kinds;
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  const std::uint8_t flags = tree ? tree->flags(values.node) : 0;
  if (flags & EntryFlags::error) kinds.push_back(Part::errorBadge);
  if (flags & EntryFlags::dataless) kinds.push_back(Part::datalessBadge);
  if (flags & EntryFlags::sharedClone) kinds.push_back(Part::cloneBadge);
  if (tree && EntryNotes::kindOf(*tree, values.node) == EntryNotes::Kind::notScanned)
    kinds.push_back(Part::notScannedBadge);
  const QFontMetricsF badgeMetrics(badgeFont(option.font));
  double badgesWidth = 0;
  std::vector<double> widths;
  for (Part kind : kinds) {
    const QString label = badgeLabel(kind);
    const double w = label.isEmpty() ? 16 : badgeMetrics.horizontalAdvance(label) + 8;
    widths.push_back(w);
    badgesWidth += w + 4;
  }
  const QString name = tree ? QString::fromStdString(tree->name(values.node)) : QString();
  const double available = std::max(0.0, right - x - badgesWidth);
  const double nameWidth = std::min(available, QFontMetricsF(option.font).horizontalAdvance(name) + 1);
  l.name = QRectF(x, r.top(), nameWidth, r.height());
  double bx = x + nameWidth + 4;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    const double h = badgeLabel(kinds[i]).isEmpty() ? 16 : badgeMetrics.height() + 2;
    l.badges.push_back({kinds[i], QRectF(bx, mid - h / 2, widths[i], h)});
    bx += widths[i] + 4;
  }
  return l;
}

void RowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
  const auto values = valuesAt(index);
  if (!values) return;
  const DiskTreePtr tree = browser_->tree();
  const Layout l = layout(option, *values);
  const QPalette& palette = option.palette;
  const bool active = option.state & QStyle::State_Active;
  const QColor text = values->isSelected ? palette.color(active ? QPalette::Active : QPalette::Inactive,
                                                         QPalette::HighlightedText)
                                         : palette.color(QPalette::Text);
  const QColor dim = secondary(text);

  painter->save();
  painter->setRenderHint(QPainter::Antialiasing);
  // A kind of file picked out: other rows stay, faded, so the folder still reads whole.
  if (!browser_->fileTypes().isHighlighted(values->node)) painter->setOpacity(0.35);
  if (values->isSelected) {
    painter->fillRect(option.rect,
                      palette.color(active ? QPalette::Active : QPalette::Inactive, QPalette::Highlight));
  } else if (option.state & QStyle::State_MouseOver) {
    QColor hover = palette.color(QPalette::Highlight);
    hover.setAlphaF(0.08f);
    painter->fillRect(option.rect, hover);
  }

  if (values->isExpandable) Icons::paintChevron(*painter, l.chevron, values->isExpanded ? 90 : 0, dim);

  const bool isDirectory = tree->isDirectory(values->node);
  painter->setPen(Qt::NoPen);
  painter->setBrush(colorOf(Palette::entry(values->branchIndex, values->depth, isDirectory)));
  painter->drawRoundedRect(l.swatch, 3, 3);

  // The icon button: the kind of entry, or the delete list's trash when marked or pointed at.
  using Mark = BrowserModel::RowValues::Mark;
  const QSize iconSize(16, 16);
  const QRectF iconRect(l.icon.center() - QPointF(8, 8), QSizeF(iconSize));
  const qreal dpr = painter->device()->devicePixelRatioF();
  QPixmap icon;
  if (values->mark == Mark::marked)
    icon = Icons::tinted(Icons::Symbol::trash, iconSize, markColor(), dpr);
  else if (values->mark == Mark::none && hoveredIcon_ == values->node)
    icon = Icons::tinted(Icons::Symbol::trash, iconSize, dim, dpr);
  else
    icon = Icons::icon(symbolOf(EntryNotes::kindOf(*tree, values->node))).pixmap(iconSize, dpr);
  painter->drawPixmap(iconRect.topLeft(), icon);

  const QString name = QString::fromStdString(tree->name(values->node));
  QFont nameFont = option.font;
  nameFont.setStrikeOut(values->mark == Mark::marked);
  painter->setFont(nameFont);
  // On a selected row the highlight's text colour stays readable; the strike-out marks it.
  painter->setPen(values->mark == Mark::marked && !values->isSelected ? markColor() : text);
  const QString shown = QFontMetricsF(nameFont).elidedText(name, Qt::ElideMiddle, l.name.width() + 1);
  painter->drawText(l.name, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, shown);

  for (const Layout::Badge& badge : l.badges) {
    switch (badge.part) {
      case Part::errorBadge:
        painter->drawPixmap(badge.rect.topLeft(),
                            Icons::tinted(Icons::Symbol::warning, iconSize, QColor(240, 150, 20), dpr));
        break;
      case Part::datalessBadge:
        painter->drawPixmap(badge.rect.topLeft(), Icons::tinted(Icons::Symbol::cloud, iconSize, dim, dpr));
        break;
      case Part::cloneBadge:
      case Part::notScannedBadge:
        painter->setFont(badgeFont(option.font));
        painter->setPen(QPen(dim, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(badge.rect.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
        painter->drawText(badge.rect, Qt::AlignCenter, badgeLabel(badge.part));
        break;
      default:
        break;
    }
  }

  if (l.change)
    ChangeColumns::paint(*painter, *l.change, *values->change, values->largestChange, option.font, dim,
                         values->isSelected ? std::optional(text) : std::nullopt, values->countsEntries);

  painter->setFont(option.font);
  painter->setPen(dim);
  if (tree && l.entries && isDirectory)
    painter->drawText(*l.entries, Qt::AlignVCenter | Qt::AlignRight,
                      QLocale().toString(qulonglong(tree->entryCount()[std::size_t(values->node)])));
  if (tree && l.modified)
    painter->drawText(
        *l.modified, Qt::AlignVCenter | Qt::AlignRight,
        QLocale().toString(QDateTime::fromSecsSinceEpoch(tree->mtime()[std::size_t(values->node)]).date(),
                           QLocale::ShortFormat));
  painter->drawText(l.percent, Qt::AlignVCenter | Qt::AlignRight,
                    Format::percent(values->size, values->parentSize));

  QColor track = dim;
  track.setAlphaF(0.18f);
  painter->setPen(Qt::NoPen);
  painter->setBrush(track);
  if (!l.bar.isEmpty()) painter->drawRoundedRect(l.bar, 3, 3);
  const double fraction =
      std::clamp(double(values->size) / double(std::max<std::uint64_t>(values->largestSibling, 1)), 0.0, 1.0);
  if (fraction > 0 && !l.bar.isEmpty()) {
    QRectF filled = l.bar;
    filled.setWidth(std::max(1.0, l.bar.width() * fraction));
    painter->setBrush(values->isSelected ? text : colorOf(Palette::entry(values->branchIndex, 0, true)));
    painter->drawRoundedRect(filled, 3, 3);
  }

  painter->setPen(text);
  // A count alone: the toggle says what it counts, and "entries" would not fit the column.
  painter->drawText(
      l.size, Qt::AlignVCenter | Qt::AlignRight,
      values->countsEntries ? QLocale().toString(qulonglong(values->size)) : Format::bytes(values->size));
  painter->restore();
}

RowDelegate::Part RowDelegate::partAt(const QStyleOptionViewItem& option, const QModelIndex& index,
                                      QPointF point) const {
  const auto values = valuesAt(index);
  if (!values || !option.rect.contains(point.toPoint())) return Part::none;
  const Layout l = layout(option, *values);
  if (values->isExpandable && l.chevron.adjusted(-2, -3, 2, 3).contains(point)) return Part::chevron;
  if (l.icon.contains(point)) return Part::icon;
  for (const Layout::Badge& badge : l.badges)
    if (badge.rect.contains(point)) return badge.part;
  if (l.change && values->change->unreliable && l.change->mark.contains(point)) return Part::unreliableMark;
  return Part::row;
}

QColor RowDelegate::markColor() {
  return QColor(220, 50, 47);
}

QString RowDelegate::iconTooltip(BrowserModel::RowValues::Mark mark) {
  switch (mark) {
    case BrowserModel::RowValues::Mark::marked:
      return QStringLiteral("Remove from delete list");
    case BrowserModel::RowValues::Mark::inside:
      return QStringLiteral("Inside a folder on the delete list");
    case BrowserModel::RowValues::Mark::none:
      break;
  }
  return QStringLiteral("Add to delete list");
}

QString RowDelegate::tooltip(Part part) {
  switch (part) {
    case Part::errorBadge:
      return QStringLiteral("Part of this couldn't be read");
    case Part::datalessBadge:
      return QStringLiteral(
          "Not downloaded (a cloud placeholder), so it wasn't scanned and takes no local space");
    case Part::cloneBadge:
      return QStringLiteral(
          "A clone of a file counted elsewhere: it shares all of that file's storage, so it adds nothing "
          "here");
    case Part::unreliableMark:
      return ChangeColumns::unreliableTooltip();
    default:
      return {};
  }
}

QString RowDelegate::tooltipAt(const QStyleOptionViewItem& option, const QModelIndex& index,
                               QPointF point) const {
  const auto values = valuesAt(index);
  if (!values) return {};
  const Part part = partAt(option, index, point);
  if (part == Part::icon) return iconTooltip(values->mark);
  const QString meaning = tooltip(part);
  if (!meaning.isEmpty() || part == Part::none || part == Part::chevron) return meaning;
  const DiskTreePtr tree = browser_->tree();
  return tree ? EntryNotes::tooltip(*tree, values->node) : QString();
}

bool RowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                            const QModelIndex& index) {
  if (event->type() != QEvent::ToolTip) return QStyledItemDelegate::helpEvent(event, view, option, index);
  const QString text = tooltipAt(option, index, event->pos());
  if (text.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
    return true;
  }
  QToolTip::showText(event->globalPos(), text, view);
  return true;
}

}  // namespace tallyfox
