#include "views/HistoryStrip.h"

#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/Documents.h"
#include "model/FolderHistory.h"
#include "model/Format.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>

namespace tallyfox {

namespace {

constexpr int stripHeight = 120;
constexpr qreal dotRadius = 3.5;
// Space above the chart for the title, and below it for the dates.
constexpr qreal titleHeight = 22;
constexpr qreal dateHeight = 20;
constexpr qreal sideMargin = 16;

QColor faded(QColor color, float alpha) {
  color.setAlphaF(alpha);
  return color;
}

}  // namespace

HistoryStrip::HistoryStrip(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  setMouseTracking(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setAccessibleName(QStringLiteral("History"));
  FolderHistory& history = browser->folderHistory();
  setVisible(history.isShown());
  connect(&history, &FolderHistory::shownChanged, this, [this] {
    if (browser_) setVisible(browser_->folderHistory().isShown());
  });
  connect(&history, &FolderHistory::pointsChanged, this, [this] {
    setHovered(std::nullopt);
    update();
  });
  connect(&history, &FolderHistory::readingChanged, this, qOverload<>(&QWidget::update));
  connect(&browser->comparing(), &ComparisonModel::comparisonChanged, this, qOverload<>(&QWidget::update));
}

QSize HistoryStrip::sizeHint() const {
  return {400, stripHeight};
}

QRectF HistoryStrip::chartArea() const {
  return QRectF(sideMargin, titleHeight + 6, width() - 2 * sideMargin,
                height() - titleHeight - dateHeight - 10);
}

QPointF HistoryStrip::pointPosition(std::size_t index) const {
  const auto& points = browser_->folderHistory().points();
  const QRectF area = chartArea();
  const qreal column = area.width() / qreal(std::max<std::size_t>(points.size(), 1));
  const qreal x = area.left() + column * (qreal(index) + 0.5);
  std::uint64_t largest = 1;
  for (const auto& point : points)
    if (point.figures) largest = std::max(largest, point.figures->bytes);
  const auto& figures = points.at(index).figures;
  const qreal share = figures ? qreal(figures->bytes) / qreal(largest) : 0;
  return {x, area.bottom() - share * area.height()};
}

std::optional<std::size_t> HistoryStrip::pointAt(QPoint position) const {
  if (!browser_) return std::nullopt;
  const auto& points = browser_->folderHistory().points();
  const QRectF area = chartArea();
  if (points.empty() || position.y() < area.top() - 8 || position.y() > area.bottom() + dateHeight)
    return std::nullopt;
  const qreal column = area.width() / qreal(points.size());
  const qreal offset = position.x() - area.left();
  if (offset < 0 || offset >= area.width()) return std::nullopt;
  return std::min(std::size_t(offset / column), points.size() - 1);
}

QString HistoryStrip::title() const {
  const FolderHistory& history = browser_->folderHistory();
  if (history.path().empty() && !history.isReading())
    return QStringLiteral("History: this snapshot names no folder on disk");
  QString text =
      QStringLiteral("History of ") + BrowserModel::displayName(QString::fromStdString(history.path()));
  const std::size_t count = history.points().size();
  if (count > 0)
    text += QStringLiteral(" in ") + QString::number(count) +
            (count == 1 ? QStringLiteral(" snapshot") : QStringLiteral(" snapshots"));
  if (history.isReading()) text += QStringLiteral(" — reading…");
  return text;
}

void HistoryStrip::paintEvent(QPaintEvent*) {
  if (!browser_) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPalette& colours = palette();
  const QColor text = colours.color(QPalette::WindowText);
  const QColor accent = colours.color(QPalette::Highlight);
  const FolderHistory& history = browser_->folderHistory();
  const auto& points = history.points();

  painter.setPen(faded(text, 0.15f));
  painter.drawLine(QPointF(0, 0.5), QPointF(width(), 0.5));
  QFont small = font();
  small.setPointSizeF(std::max(6.0, font().pointSizeF() * 0.85));
  painter.setFont(small);
  painter.setPen(faded(text, 0.7f));
  painter.drawText(QRectF(sideMargin, 4, width() - 2 * sideMargin, titleHeight),
                   Qt::AlignLeft | Qt::AlignVCenter, title());
  if (points.size() == 1) {
    painter.setPen(faded(text, 0.5f));
    painter.drawText(chartArea(), Qt::AlignCenter,
                     QStringLiteral("No other snapshot of this place yet. Scheduled snapshots (in Settings) "
                                    "keep a timeline."));
    return;
  }
  const QRectF area = chartArea();
  painter.setPen(QPen(faded(text, 0.2f), 1));
  painter.drawLine(QPointF(area.left(), area.bottom()), QPointF(area.right(), area.bottom()));

  // The scale: the top of the chart is the largest size shown.
  std::uint64_t largest = 0;
  for (const auto& point : points)
    if (point.figures) largest = std::max(largest, point.figures->bytes);
  if (largest > 0) {
    painter.setPen(faded(text, 0.5f));
    painter.drawText(QRectF(sideMargin, 4, width() - 2 * sideMargin, titleHeight),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("largest ") + Format::bytes(largest));
  }

  // The line breaks at each gap, so that a missing folder never reads as one that shrank.
  painter.setPen(QPen(faded(accent, 0.8f), 1.5));
  for (std::size_t i = 1; i < points.size(); ++i)
    if (points[i - 1].figures && points[i].figures) painter.drawLine(pointPosition(i - 1), pointPosition(i));

  const ComparisonPtr& comparison = browser_->comparing().comparison();
  const auto compared = comparison ? std::optional(knownPath(comparison->baselineURL())) : std::nullopt;
  qreal dateEnd = -1e9;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const auto& point = points[i];
    const QPointF at = pointPosition(i);
    const bool hovered = hovered_ == i;
    if (!point.figures) {
      painter.setPen(QPen(faded(text, hovered ? 0.6f : 0.3f), 1, Qt::DashLine));
      painter.drawLine(QPointF(at.x(), area.top()), QPointF(at.x(), area.bottom()));
    } else {
      const qreal radius = dotRadius * (point.isOwn ? 1.4 : 1) * (hovered ? 1.3 : 1);
      painter.setPen(Qt::NoPen);
      painter.setBrush(point.isOwn ? accent : faded(accent, 0.75f));
      painter.drawEllipse(at, radius, radius);
      if (compared && knownPath(point.file) == *compared) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(230, 126, 34), 1.5));
        painter.drawEllipse(at, radius + 3, radius + 3);
      }
    }
    // As many dates as fit, from the oldest; the hovered one always. Snapshots of the same day
    // are told apart by their time.
    const QDateTime when = Format::dateTime(point.started);
    const auto sameDay = [&](std::size_t j) {
      return Format::dateTime(points[j].started).date() == when.date();
    };
    const bool crowded = (i > 0 && sameDay(i - 1)) || (i + 1 < points.size() && sameDay(i + 1));
    const QString date = crowded ? Format::shortTime(when.time()) : Format::abbreviatedDate(when.date());
    const qreal textWidth = painter.fontMetrics().horizontalAdvance(date);
    const qreal left = std::clamp(at.x() - textWidth / 2, 0.0, std::max(0.0, width() - textWidth));
    if (left > dateEnd + 8 || hovered) {
      painter.setPen(faded(text, hovered ? 0.9f : 0.55f));
      painter.drawText(QRectF(left, area.bottom() + 4, textWidth + 1, dateHeight),
                       Qt::AlignLeft | Qt::AlignTop, date);
      if (!hovered) dateEnd = left + textWidth;
    }
  }
}

void HistoryStrip::setHovered(std::optional<std::size_t> value) {
  if (hovered_ == value) return;
  hovered_ = value;
  bool clickable = false;
  if (browser_ && value) {
    const auto& points = browser_->folderHistory().points();
    clickable = *value < points.size() && !points[*value].isOwn;
  }
  setCursor(clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
  update();
}

void HistoryStrip::mouseMoveEvent(QMouseEvent* event) {
  const auto index = pointAt(event->position().toPoint());
  setHovered(index);
  if (!index) {
    QToolTip::hideText();
    return;
  }
  const auto& point = browser_->folderHistory().points()[*index];
  QString tip = FolderHistory::describe(point);
  if (!point.isOwn) tip += QStringLiteral("\nClick to compare with this snapshot");
  QToolTip::showText(event->globalPosition().toPoint(), tip, this);
}

void HistoryStrip::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !browser_) return;
  if (const auto index = pointAt(event->position().toPoint())) browser_->folderHistory().compareWith(*index);
}

void HistoryStrip::leaveEvent(QEvent*) {
  setHovered(std::nullopt);
}

}  // namespace tallyfox
