#include "views/ChangeColumns.h"

#include "model/CountMode.h"
#include "model/Format.h"

#include <QPainter>

#include <algorithm>

namespace tallyfox::ChangeColumns {

QString unreliableTooltip() {
  return QStringLiteral("Unreadable or skipped in one of the scans, so this change may not be real");
}

double width(bool roomy) {
  return markWidth + gap + barWidth + gap + changeWidth + (roomy ? gap + sizesWidth : 0);
}

Layout layout(double right, double top, double height, bool roomy) {
  Layout l;
  const double mid = top + height / 2;
  if (roomy) {
    l.sizes = QRectF(right - sizesWidth, top, sizesWidth, height);
    right -= sizesWidth + gap;
  }
  l.change = QRectF(right - changeWidth, top, changeWidth, height);
  right -= changeWidth + gap;
  l.bar = QRectF(right - barWidth, mid - 2, barWidth, 4);
  right -= barWidth + gap;
  l.mark = QRectF(right - markWidth, mid - markWidth / 2, markWidth, markWidth);
  l.left = right - markWidth;
  return l;
}

void paint(QPainter& painter, const Layout& l, const SnapshotDiff::Entry& change, std::uint64_t largestChange,
           const QFont& font, const QColor& secondaryText, std::optional<QColor> onSelection, bool entries) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const std::int64_t delta = change.delta();
  const QColor color = onSelection ? *onSelection : delta < 0 ? shrinking : growth;

  if (change.unreliable) {
    const QColor orange(240, 150, 20);
    const QRectF circle = l.mark.adjusted(2, 2, -2, -2);
    painter.setPen(QPen(orange, 1.4));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(circle);
    QFont bold = font;
    bold.setBold(true);
    bold.setPixelSize(int(circle.height() * 0.75));
    painter.setFont(bold);
    painter.drawText(circle, Qt::AlignCenter, QStringLiteral("?"));
  }

  QColor track = secondaryText;
  track.setAlphaF(0.18f);
  painter.setPen(Qt::NoPen);
  painter.setBrush(track);
  painter.drawRoundedRect(l.bar, 2, 2);
  const double fraction =
      std::clamp(double(change.magnitude()) / double(std::max<std::uint64_t>(largestChange, 1)), 0.0, 1.0);
  if (fraction > 0) {
    QRectF filled = l.bar;
    filled.setWidth(std::max(1.0, l.bar.width() * fraction));
    painter.setBrush(color);
    painter.drawRoundedRect(filled, 2, 2);
  }

  painter.setFont(font);
  painter.setPen(color);
  painter.drawText(l.change, Qt::AlignVCenter | Qt::AlignRight,
                   entries ? CountMode::signedCount(delta) : Format::signedBytes(delta));

  if (!l.sizes.isEmpty()) {
    painter.setFont(font);
    painter.setPen(onSelection       ? secondaryText
                   : change.isNew()  ? growth
                   : change.isGone() ? shrinking
                                     : secondaryText);
    const QString text =
        entries ? CountMode::changeCounts(change.isNew(), change.isGone(), change.oldSize, change.newSize)
                : Format::changeSizes(change.isNew(), change.isGone(), change.oldSize, change.newSize);
    painter.drawText(l.sizes, Qt::AlignVCenter | Qt::AlignRight,
                     QFontMetricsF(font).elidedText(text, Qt::ElideLeft, l.sizes.width()));
  }
  painter.restore();
}

}  // namespace tallyfox::ChangeColumns
