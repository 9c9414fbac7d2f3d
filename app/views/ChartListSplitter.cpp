#include "views/ChartListSplitter.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSplitterHandle>

#include <algorithm>

namespace tallyfox {

namespace {

int minimumWidthOf(const QWidget* widget) {
  return std::max(widget->minimumWidth(), widget->minimumSizeHint().width());
}

}  // namespace

// A thin line that is wider to grab than it looks.
class ChartListHandle : public QSplitterHandle {
 public:
  explicit ChartListHandle(ChartListSplitter* parent)
      : QSplitterHandle(Qt::Horizontal, parent), owner_(parent) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    const int x = width() / 2;
    painter.drawLine(x, 0, x, height());
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    QSplitterHandle::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) owner_->handleReleased();
  }

 private:
  ChartListSplitter* owner_;
};

ChartListSplitter::ChartListSplitter(QWidget* chart, QWidget* list, QWidget* parent)
    : QSplitter(Qt::Horizontal, parent), chart_(chart), list_(list) {
  setChildrenCollapsible(false);
  setHandleWidth(5);
  addWidget(chart);
  addWidget(list);
  setStretchFactor(0, 1);
  setStretchFactor(1, 0);
  connect(this, &QSplitter::splitterMoved, this, [this] { chosen_ = list_->width(); });
}

QSplitterHandle* ChartListSplitter::createHandle() {
  return new ChartListHandle(this);
}

int ChartListSplitter::listWidth() const {
  return list_->width();
}

int ChartListSplitter::unchosenListWidth(int total) {
  // As much room as the chart, within what suits a list of names and numbers.
  return std::clamp(total / 2, listMinimum, listMaximumUnchosen);
}

void ChartListSplitter::setChosenListWidth(std::optional<int> width) {
  if (width) width = std::max(*width, 1);
  chosen_ = width;
  apply();
}

void ChartListSplitter::apply() {
  if (count() < 2) return;
  const int total = width() - handleWidth();
  if (total <= 0) return;
  int wanted = chosen_ ? *chosen_ : unchosenListWidth(width());
  // The chart keeps its minimum before the list keeps a width it was given.
  wanted = std::min(wanted, total - minimumWidthOf(chart_));
  wanted = std::max(wanted, minimumWidthOf(list_));
  setSizes({std::max(0, total - wanted), wanted});
}

void ChartListSplitter::handleReleased() {
  if (chosen_) emit listWidthChosen(*chosen_);
}

void ChartListSplitter::resizeEvent(QResizeEvent* event) {
  QSplitter::resizeEvent(event);
  apply();
}

void ChartListSplitter::showEvent(QShowEvent* event) {
  QSplitter::showEvent(event);
  apply();
}

}  // namespace tallyfox
