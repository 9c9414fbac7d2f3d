#include "views/SunburstView.h"

#include "model/Comparison.h"
#include "model/CountMode.h"
#include "model/DeleteList.h"
#include "model/EntryNotes.h"
#include "model/FileTypes.h"
#include "model/Format.h"
#include "model/Labels.h"
#include "model/Palette.h"
#include "model/SunburstChart.h"
#include "views/ChangeColumns.h"
#include "views/RelativeDate.h"
#include "views/RowDelegate.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tallyfox {

namespace {

constexpr double degreesPerRadian = 180.0 / std::numbers::pi;

}  // namespace

// ---- CenterLabel

CenterLabel::Lines CenterLabel::lines(const BrowserModel& browser) {
  const DiskTreePtr& tree = browser.tree();
  if (!tree) return {};
  const auto hovered = browser.hovered();
  const NodeId node = hovered && tree->contains(*hovered) ? *hovered : browser.current();
  Lines lines;
  lines.name = Labels::node(*tree, node);
  if (const ComparisonPtr& comparison = browser.comparing().comparison()) {
    const CountMode& measure = browser.countMode();
    const auto entry = comparison->entry(node);
    const std::int64_t delta = entry ? measure.measured(*comparison, *entry).delta() : 0;
    lines.size = measure.changeText(delta);
    lines.sizeColor = delta < 0 ? ChangeColumns::shrinking : ChangeColumns::growth;
    lines.percent = QStringLiteral("since ") +
                    relativeDate(comparison->diff().oldTree().scanStart(), std::chrono::system_clock::now());
    return lines;
  }
  const CountMode& measure = browser.countMode();
  // Hovered, an entry counts itself among the centre's; the centre counts what is below it.
  const std::uint64_t amount = hovered ? measure.amountOf(node, *tree, browser.overlay())
                                       : measure.wholeOf(node, *tree, browser.overlay());
  lines.size = measure.text(amount);
  lines.shortSize = measure.shortText(amount);
  if (hovered)
    lines.percent = Format::percent(amount, measure.wholeOf(browser.current(), *tree, browser.overlay()));
  // A folder that was not entered shows an empty chart; the centre says why it is empty.
  lines.note = EntryNotes::badge(EntryNotes::kindOf(*tree, node));
  return lines;
}

void CenterLabel::paint(QPainter& painter, const QRectF& square, const Lines& lines, const QPalette& palette,
                        const QFont& font) {
  QFont headline = font;
  headline.setBold(true);
  // The size line takes the largest font in which it fits, down to a point where it would no
  // longer stand out; past that, its short form.
  QFont title = font;
  const double titleSize = font.pointSizeF() * 1.35;
  const double sizeRoom = square.width() * 1.2;
  const double smallest = titleSize * 0.75;
  QString size = lines.size;
  // Font sizes come in steps: measured again after each step, not scaled once.
  const auto fits = [&](const QString& text) {
    return QFontMetricsF(title, painter.device()).horizontalAdvance(text) <= sizeRoom;
  };
  for (const QString& candidate : {lines.size, lines.shortSize}) {
    if (candidate.isEmpty()) continue;
    size = candidate;
    double points = titleSize;
    title.setPointSizeF(points);
    while (!fits(candidate) && points > smallest) {
      points = std::max(smallest, points * 0.94);
      title.setPointSizeF(points);
    }
    if (fits(candidate)) break;
  }
  QFont caption = font;
  caption.setPointSizeF(std::max(6.0, font.pointSizeF() * 0.85));

  // The name wraps at word boundaries where it can, anywhere where it must, and stops at two
  // lines with an ellipsis.
  QTextLayout text(lines.name, headline);
  QTextOption option(Qt::AlignHCenter);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  text.setTextOption(option);
  const QFontMetricsF headlineMetrics(headline);
  QStringList nameLines;
  text.beginLayout();
  for (int i = 0; i < 2; ++i) {
    QTextLine line = text.createLine();
    if (!line.isValid()) break;
    line.setLineWidth(square.width());
    QString piece = lines.name.mid(line.textStart(), line.textLength());
    if (i == 1 && line.textStart() + line.textLength() < lines.name.size())
      piece = headlineMetrics.elidedText(lines.name.mid(line.textStart()), Qt::ElideRight, square.width());
    nameLines << piece.trimmed();
  }
  text.endLayout();

  // Measured on the device painted on, whose resolution may not be the screen's.
  const QFontMetricsF titleMetrics(title, painter.device()), captionMetrics(caption);
  const double total = nameLines.size() * headlineMetrics.height() + titleMetrics.height() +
                       (lines.percent.isEmpty() ? 0 : captionMetrics.height()) +
                       (lines.note.isEmpty() ? 0 : captionMetrics.height() + 4);
  double y = square.center().y() - total / 2;
  const QColor text1 = palette.color(QPalette::Text);
  QColor text2 = text1;
  text2.setAlphaF(0.6f);

  painter.setPen(text1);
  painter.setFont(headline);
  for (const QString& line : nameLines) {
    painter.drawText(QRectF(square.left(), y, square.width(), headlineMetrics.height()), Qt::AlignCenter,
                     line);
    y += headlineMetrics.height();
  }
  painter.setFont(title);
  if (lines.sizeColor.isValid()) painter.setPen(lines.sizeColor);
  painter.drawText(QRectF(square.center().x() - sizeRoom / 2, y, sizeRoom, titleMetrics.height()),
                   Qt::AlignCenter, titleMetrics.elidedText(size, Qt::ElideRight, sizeRoom));
  y += titleMetrics.height();
  if (!lines.percent.isEmpty()) {
    painter.setPen(text2);
    painter.setFont(caption);
    painter.drawText(QRectF(square.left(), y, square.width(), captionMetrics.height()), Qt::AlignCenter,
                     lines.percent);
    y += captionMetrics.height();
  }
  if (!lines.note.isEmpty()) {
    // Framed like the row's badge of the same meaning.
    painter.setFont(caption);
    const double width = captionMetrics.horizontalAdvance(lines.note) + 10;
    const QRectF badge(square.center().x() - width / 2, y + 4, width, captionMetrics.height());
    painter.setPen(QPen(text2, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(badge.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    painter.drawText(badge, Qt::AlignCenter, lines.note);
  }
}

// ---- SunburstView

SunburstView::SunburstView(BrowserModel* browser, QWidget* parent) : QWidget(parent), browser_(browser) {
  setMouseTracking(true);
  setMinimumSize(320, 320);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAccessibleName(QStringLiteral("Chart"));
  setAccessibleDescription(
      QStringLiteral("Left and Right go round a ring, Down out to the entries inside, Up back in; Return "
                     "opens"));
  // Reached by Tab; a click on a segment leaves the keys with the list.
  setFocusPolicy(Qt::TabFocus);
  AccessibleParts::expose(this, QAccessible::Chart, QAccessible::ListItem);
  connect(&browser->chart(), &SunburstChart::layoutChanged, this, &SunburstView::takeLayout);
  for (auto signal : {&BrowserModel::treeChanged, &BrowserModel::currentChanged})
    connect(browser, signal, this, &SunburstView::findNotScanned);
  connect(browser, &BrowserModel::selectionChanged, this, &SunburstView::selectionMoved);
  connect(&browser->deleteList(), &DeleteList::marksChanged, this, &SunburstView::invalidate);
  connect(&browser->fileTypes(), &FileTypes::chosenChanged, this, &SunburstView::invalidate);
  connect(browser, &BrowserModel::hoveredChanged, this, qOverload<>(&QWidget::update));
  // The hovered segment belonged to the chart of the folder left; kept, the centre would go
  // on naming it with its share of an unrelated folder.
  connect(browser, &BrowserModel::currentChanged, this, [this] {
    if (browser_) browser_->setHovered(std::nullopt);
  });
  browser->chart().setShown(true);
  findNotScanned();
}

SunburstView::~SunburstView() {
  if (browser_) browser_->chart().setShown(false);
}

void SunburstView::findNotScanned() {
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  notScanned_ = tree ? EntryNotes::notScannedChildren(*tree, browser_->current()) : std::vector<NodeId>();
}

SunburstLayout::Geometry SunburstView::chartGeometry() const {
  return SunburstLayout::Geometry::of(QSizeF(size()));
}

QPointF SunburstView::pointAt(double angle, int ring) const {
  const auto g = chartGeometry();
  const double radius = g.hole + g.ring * (ring - 0.5);
  return {g.center.x() + radius * std::sin(angle), g.center.y() - radius * std::cos(angle)};
}

bool SunburstView::isLayoutPending() const {
  return browser_ && browser_->chart().isPending();
}

void SunburstView::takeLayout() {
  if (!browser_) return;
  // The keyboard stays on the same entry where the new layout still draws it.
  std::optional<NodeId> walked;
  if (keyFocus_ && layout_ && *keyFocus_ < layout_->segments.size())
    walked = layout_->segments[*keyFocus_].node;
  layout_ = browser_->chart().layout();
  ++generation_;
  keyFocus_.reset();
  if (hasFocus()) {
    auto at = walked ? layout_->startOfWalk(walked) : std::nullopt;
    if (!at || layout_->segments[*at].node != walked) at = layout_->startOfWalk(browser_->selection());
    setKeyFocus(at);
  }
  invalidate();
  emit layoutReady();
}

void SunburstView::invalidate() {
  layersValid_ = false;
  composedValid_ = false;
  update();
}

SunburstView::Look SunburstView::currentLook() const {
  Look look;
  if (!layout_) return look;
  if (const auto branch = focusBranch()) {
    const bool drawn = std::any_of(layout_->segments.begin(), layout_->segments.end(),
                                   [&](const SunburstLayout::Segment& s) { return s.branch == *branch; });
    // A branch too small to be drawn dims every segment alike, whichever branch it is.
    look.focus = drawn ? Look::Focus::branch : Look::Focus::nothing;
    look.branch = drawn ? *branch : -1;
  }
  if (const auto* selected = segmentOf(browser_ ? browser_->selection() : std::nullopt);
      selected && selected->depth >= 2)
    look.outlined = selected->node;
  return look;
}

void SunburstView::selectionMoved() {
  if (composedValid_ && currentLook() == composedLook_) return;
  composedValid_ = false;
  update();
}

void SunburstView::resizeEvent(QResizeEvent* event) {
  layersValid_ = false;
  composedValid_ = false;
  QWidget::resizeEvent(event);
}

void SunburstView::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
    layersValid_ = false;
    composedValid_ = false;
  }
  QWidget::changeEvent(event);
}

std::optional<NodeId> SunburstView::focusBranch() const {
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  const auto selection = browser_ ? browser_->selection() : std::nullopt;
  if (!tree || !selection) return std::nullopt;
  const NodeId current = browser_->current();
  NodeId node = *selection;
  while (node >= 0) {
    const NodeId parent = tree->parentOf(node);
    if (parent == current) return node;
    node = parent;
  }
  return std::nullopt;
}

const SunburstLayout::Segment* SunburstView::segmentOf(std::optional<NodeId> node) const {
  if (!node || !layout_) return nullptr;
  for (const auto& segment : layout_->segments)
    if (segment.node == node) return &segment;
  return nullptr;
}

QPainterPath SunburstView::sectorPath(const SunburstLayout::Segment& s,
                                      const SunburstLayout::Geometry& g) const {
  const double inner = g.hole + g.ring * (s.depth - 1) + 1;
  const double outer = g.hole + g.ring * s.depth;
  const QRectF outerRect(g.center.x() - outer, g.center.y() - outer, 2 * outer, 2 * outer);
  const QRectF innerRect(g.center.x() - inner, g.center.y() - inner, 2 * inner, 2 * inner);
  // Qt's angles run counter-clockwise from 3 o'clock in degrees; the layout's run clockwise
  // from 12 o'clock in radians.
  const double startQt = 90.0 - s.start * degreesPerRadian;
  const double sweep = (s.end - s.start) * degreesPerRadian;
  QPainterPath path;
  path.arcMoveTo(outerRect, startQt);
  path.arcTo(outerRect, startQt, -sweep);
  path.arcTo(innerRect, startQt - sweep, sweep);
  path.closeSubpath();
  return path;
}

QPixmap SunburstView::renderLayer(double opacity, std::optional<NodeId> onlyBranch, QPixmap base) const {
  const qreal dpr = devicePixelRatioF();
  if (base.isNull()) {
    base = QPixmap((QSizeF(size()) * dpr).toSize());
    base.setDevicePixelRatio(dpr);
    base.fill(Qt::transparent);
  }
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  if (!layout_ || !tree) return base;
  QPainter painter(&base);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setOpacity(opacity);
  const auto g = chartGeometry();
  const DeleteList& marks = browser_->deleteList();
  const FileTypes& types = browser_->fileTypes();
  QColor red = RowDelegate::markColor();
  red.setAlphaF(0.55f);
  for (const auto& s : layout_->segments) {
    if (onlyBranch && s.branch != *onlyBranch) continue;
    const QPainterPath path = sectorPath(s, g);
    const Rgba fill =
        s.node ? Palette::entry(s.branchIndex, s.depth - 1, s.isDirectory) : Palette::aggregate();
    QColor colour = colorOf(fill);
    // A kind of file picked out: the rest stays in place, faded, so the shape still reads.
    if (s.node && !types.isHighlighted(*s.node)) colour.setAlphaF(0.15f);
    painter.fillPath(path, colour);
    if (s.node && !marks.isEmpty() && (marks.isMarked(*s.node) || marks.isInsideMarked(*s.node)))
      painter.fillPath(path, red);
  }
  return base;
}

void SunburstView::compose() {
  const Look look = currentLook();
  const bool sizeMatches = composed_.deviceIndependentSize() == QSizeF(size()) &&
                           composed_.devicePixelRatio() == devicePixelRatioF();
  if (composedValid_ && sizeMatches && look == composedLook_) return;
  if (!layersValid_ || !sizeMatches) {
    full_ = dimmed_ = QPixmap();
    layersValid_ = true;
  }
  switch (look.focus) {
    case Look::Focus::everything:
      if (full_.isNull()) full_ = renderLayer(1.0, std::nullopt, {});
      composed_ = full_;
      break;
    case Look::Focus::nothing:
      if (dimmed_.isNull()) dimmed_ = renderLayer(0.4, std::nullopt, {});
      composed_ = dimmed_;
      break;
    case Look::Focus::branch:
      if (dimmed_.isNull()) dimmed_ = renderLayer(0.4, std::nullopt, {});
      // The focused branch at full strength over its dimmed self: the fills are opaque, so
      // nothing of the dimmed drawing shows through.
      composed_ = renderLayer(1.0, look.branch, dimmed_.copy());
      break;
  }
  // The selection is outlined only where the dimming alone does not point at it.
  if (const auto* selected = segmentOf(look.outlined)) {
    QPainter painter(&composed_);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(sectorPath(*selected, chartGeometry()));
  }
  composedLook_ = look;
  composedValid_ = true;
}

void SunburstView::paintEvent(QPaintEvent*) {
  if (!layout_ || !browser_ || !browser_->tree()) return;
  compose();
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.drawPixmap(0, 0, composed_);
  const auto g = chartGeometry();
  if (const auto* hovered = segmentOf(browser_->hovered())) {
    painter.setPen(QPen(palette().color(QPalette::WindowText), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(sectorPath(*hovered, g));
  }
  if (hasFocus() && keyFocus_ && *keyFocus_ < layout_->segments.size()) {
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(sectorPath(layout_->segments[*keyFocus_], g));
  }
  if (g.hole <= 0) return;
  painter.setPen(Qt::NoPen);
  painter.setBrush(palette().color(QPalette::Base));
  painter.drawEllipse(g.center, g.hole, g.hole);
  const double side = g.hole * 1.7;
  const QRectF square(g.center.x() - side / 2, g.center.y() - side / 2, side, side);
  CenterLabel::Lines lines = CenterLabel::lines(*browser_);
  if (lines.note.isEmpty() && !browser_->hovered())
    lines.note = EntryNotes::notScannedSummary(notScanned_.size());
  CenterLabel::paint(painter, square, lines, palette(), font());
}

bool SunburstView::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  auto* help = static_cast<QHelpEvent*>(event);
  QString text;
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  if (tree && layout_ && layout_->center == browser_->current()) {
    const auto hit = layout_->hit(help->pos(), chartGeometry());
    if (hit.kind == SunburstLayout::Hit::Kind::segment && hit.segment && hit.segment->node)
      text = EntryNotes::tooltip(*tree, *hit.segment->node);
    else if (hit.kind == SunburstLayout::Hit::Kind::center)
      text = EntryNotes::kindOf(*tree, browser_->current()) == EntryNotes::Kind::notScanned
                 ? EntryNotes::tooltip(*tree, browser_->current())
                 : EntryNotes::notScannedTooltip(*tree, notScanned_);
  }
  if (text.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), text, this);
  }
  return true;
}

void SunburstView::mouseMoveEvent(QMouseEvent* event) {
  if (!browser_ || !layout_ || drag_.move(this, *event)) return;
  const auto hit = layout_->hit(event->position(), chartGeometry());
  std::optional<NodeId> node;
  // Until the new folder's layout arrives, the segments drawn are the old folder's.
  const bool current = layout_->center == browser_->current();
  if (current && hit.kind == SunburstLayout::Hit::Kind::segment && hit.segment) node = hit.segment->node;
  browser_->setHovered(node);
  const bool clickable = node || hit.kind == SunburstLayout::Hit::Kind::center;
  setCursor(clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void SunburstView::leaveEvent(QEvent* event) {
  if (browser_) browser_->setHovered(std::nullopt);
  QWidget::leaveEvent(event);
}

void SunburstView::mousePressEvent(QMouseEvent* event) {
  if (!browser_ || !layout_ || event->button() != Qt::LeftButton) return;
  const auto hit = layout_->hit(event->position(), chartGeometry());
  if (hit.kind == SunburstLayout::Hit::Kind::center) {
    browser_->goUp();
  } else if (hit.kind == SunburstLayout::Hit::Kind::segment && hit.segment && hit.segment->node) {
    if (event->modifiers() & (Qt::AltModifier | Qt::ControlModifier))
      browser_->deleteList().toggleMark(*hit.segment->node);
    else
      drag_.press(event->position(), hit.segment->node);
  }
  event->accept();
}

void SunburstView::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  const std::optional<NodeId> clicked = drag_.release();
  if (clicked && browser_ && event->button() == Qt::LeftButton) browser_->click(*clicked);
}

void SunburstView::contextMenuEvent(QContextMenuEvent* event) {
  if (!browser_) return;
  // The segment under the pointer, or the selection when the pointer is on none.
  const std::optional<NodeId> node = browser_->hovered() ? browser_->hovered() : browser_->selection();
  if (!node) return;
  QMenu menu(this);
  fillEntryMenu(menu, *browser_, *node);
  if (!menu.isEmpty()) menu.exec(event->globalPos());
  event->accept();
}

void SunburstView::setKeyFocus(std::optional<std::size_t> segment) {
  if (!layout_ || (segment && *segment >= layout_->segments.size())) segment.reset();
  keyFocus_ = segment;
  // The centre names what the keyboard is on, as it does for the pointer.
  if (browser_) browser_->setHovered(segment ? layout_->segments[*segment].node : std::nullopt);
  update();
  if (segment) AccessibleParts::announceFocus(this, int(*segment));
}

void SunburstView::keyPressEvent(QKeyEvent* event) {
  if (!browser_ || !layout_ || event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
    QWidget::keyPressEvent(event);
    return;
  }
  using Step = SunburstLayout::Step;
  const auto walk = [&](Step step) {
    if (!keyFocus_) return setKeyFocus(layout_->startOfWalk(browser_->selection()));
    if (const auto next = layout_->step(*keyFocus_, step)) setKeyFocus(next);
  };
  switch (event->key()) {
    case Qt::Key_Right:
      walk(Step::clockwise);
      break;
    case Qt::Key_Left:
      walk(Step::anticlockwise);
      break;
    case Qt::Key_Down:
      walk(Step::outward);
      break;
    case Qt::Key_Up:
      walk(Step::inward);
      break;
    case Qt::Key_Home:
      setKeyFocus(layout_->startOfWalk(std::nullopt));
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (keyFocus_) pressPart(int(*keyFocus_));
      break;
    case Qt::Key_Escape:
      browser_->goUp();
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}

void SunburstView::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  if (layout_)
    setKeyFocus(keyFocus_ ? keyFocus_
                          : layout_->startOfWalk(browser_ ? browser_->selection() : std::nullopt));
}

void SunburstView::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  // The outline and the centre go back to the pointer; the place is kept for the return.
  if (browser_ && keyFocus_ && layout_ && *keyFocus_ < layout_->segments.size() &&
      browser_->hovered() == layout_->segments[*keyFocus_].node)
    browser_->setHovered(std::nullopt);
  update();
}

int SunburstView::partCount() const {
  return layout_ ? int(layout_->segments.size()) : 0;
}

QString SunburstView::partName(int part) const {
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  if (!tree || part < 0 || part >= partCount()) return {};
  const SunburstLayout::Segment& segment = layout_->segments[std::size_t(part)];
  const QString separator = QStringLiteral(", ");
  // The chart's angles are shares of the centre.
  const double fraction = (segment.end - segment.start) / (2 * std::numbers::pi);
  const QString share = Format::percent(std::uint64_t(std::llround(fraction * 1e6)), 1000000);
  if (const ComparisonPtr& comparison = browser_->comparing().comparison()) {
    if (!segment.node) return QStringLiteral("Smaller changes") + separator + share;
    const CountMode& measure = browser_->countMode();
    const auto entry = comparison->entry(*segment.node);
    const std::int64_t delta = entry ? measure.measured(*comparison, *entry).delta() : 0;
    return Labels::node(*tree, *segment.node) + separator + measure.changeText(delta) + separator + share;
  }
  if (!segment.node) return QStringLiteral("Smaller entries") + separator + share;
  const CountMode& measure = browser_->countMode();
  const std::uint64_t amount = measure.amountOf(*segment.node, *tree, browser_->overlay());
  return Labels::node(*tree, *segment.node) + separator + measure.text(amount) + separator +
         Format::percent(amount, measure.wholeOf(layout_->center, *tree, browser_->overlay()));
}

QString SunburstView::partDescription(int part) const {
  const DiskTreePtr tree = browser_ ? browser_->tree() : nullptr;
  if (!tree || part < 0 || part >= partCount()) return {};
  const SunburstLayout::Segment& segment = layout_->segments[std::size_t(part)];
  QString text = QStringLiteral("Ring %1").arg(segment.depth);
  const auto parent = layout_->step(std::size_t(part), SunburstLayout::Step::inward);
  if (parent && layout_->segments[*parent].node)
    text += QStringLiteral(", in ") + Labels::node(*tree, *layout_->segments[*parent].node);
  return text;
}

QRect SunburstView::partRect(int part) const {
  if (part < 0 || part >= partCount()) return {};
  return sectorPath(layout_->segments[std::size_t(part)], chartGeometry()).boundingRect().toAlignedRect();
}

bool SunburstView::isPartSelected(int part) const {
  return browser_ && part >= 0 && part < partCount() &&
         layout_->segments[std::size_t(part)].node == browser_->selection() && browser_->selection();
}

void SunburstView::pressPart(int part) {
  if (!browser_ || part < 0 || part >= partCount()) return;
  // A click: a folder is entered, a file selected in its folder; a grey aggregate is nothing.
  if (const auto node = layout_->segments[std::size_t(part)].node) browser_->click(*node);
}

}  // namespace tallyfox
