#pragma once

#include "model/BrowserModel.h"
#include "model/Palette.h"
#include "views/ChangeColumns.h"

#include <QColor>
#include <QPointer>
#include <QRectF>
#include <QStyledItemDelegate>

#include <optional>
#include <vector>

namespace tallyfox {

// A palette colour as Qt paints it.
inline QColor colorOf(const Rgba& c) {
  return QColor::fromRgba(c.argb());
}

// Paints one row of the browser list: indentation, chevron, swatch, icon button, name,
// badges, share of the parent, bar and size. The values come from the browser model, so
// the list and the chart always agree.
class RowDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  enum class Part {
    none,
    row,
    chevron,
    icon,
    errorBadge,
    datalessBadge,
    cloneBadge,
    notScannedBadge,
    unreliableMark
  };

  struct Layout {
    QRectF chevron, swatch, icon, name, percent, bar, size;
    std::optional<QRectF> entries, modified;
    // While comparing.
    std::optional<ChangeColumns::Layout> change;
    struct Badge {
      Part part;
      QRectF rect;
    };
    std::vector<Badge> badges;
  };

  // Where the header's columns and a row's parts of depth 0 lie in a row's rectangle.
  struct Columns {
    QRectF name, share, size;
    std::optional<QRectF> entries, modified;
  };
  static Columns columns(QRectF row, bool entries, bool modified);

  static constexpr int indentPerLevel = 16;
  static constexpr int entriesWidth = 64;
  static constexpr int modifiedWidth = 88;
  static constexpr int percentWidth = 44;
  static constexpr int barWidth = 56;
  static constexpr int sizeWidth = 76;

  explicit RowDelegate(BrowserModel* browser, QObject* parent = nullptr);

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;

  // Which part of the row at `index` lies under `point` (view coordinates).
  Part partAt(const QStyleOptionViewItem& option, const QModelIndex& index, QPointF point) const;
  Layout layout(const QStyleOptionViewItem& option, const BrowserModel::RowValues& values) const;

  static int rowHeight(const QFontMetrics& metrics);
  // What a badge means, whichever entry carries it.
  static QString tooltip(Part part);
  // The row whose icon button the pointer is over: it shows what a click there does.
  void setHoveredIcon(std::optional<NodeId> node) { hoveredIcon_ = node; }
  std::optional<NodeId> hoveredIcon() const { return hoveredIcon_; }
  // The icon button's tooltip for a row with this mark.
  static QString iconTooltip(BrowserModel::RowValues::Mark mark);
  // The red of the delete list: marked names, their icon, the chart's fill.
  static QColor markColor();

  // The tooltip under `point`: a badge's meaning, or what sets this entry apart (a link's
  // target, why a folder was not scanned), asked of the disk only now.
  QString tooltipAt(const QStyleOptionViewItem& option, const QModelIndex& index, QPointF point) const;

 private:
  std::optional<BrowserModel::RowValues> valuesAt(const QModelIndex& index) const;

  QPointer<BrowserModel> browser_;
  std::optional<NodeId> hoveredIcon_;
};

}  // namespace tallyfox
