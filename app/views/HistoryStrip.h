#pragma once

#include <QPointer>
#include <QWidget>

#include <cstddef>
#include <optional>

namespace tallyfox {

class BrowserModel;

// The history strip under the chart and list: the current folder's size in every snapshot of
// its place, oldest on the left, as dots joined by a line with their dates below. A snapshot
// without the folder leaves a gap. Hovering a dot tells its date and size; clicking it compares
// the window with that snapshot.
class HistoryStrip : public QWidget {
  Q_OBJECT
 public:
  explicit HistoryStrip(BrowserModel* browser, QWidget* parent = nullptr);

  // The point under a position of the widget, if any: the nearest one in its column.
  std::optional<std::size_t> pointAt(QPoint position) const;
  // Where the point is drawn; for a gap, on the base line.
  QPointF pointPosition(std::size_t index) const;
  std::optional<std::size_t> hovered() const { return hovered_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QRectF chartArea() const;
  void setHovered(std::optional<std::size_t> value);
  QString title() const;

  QPointer<BrowserModel> browser_;
  std::optional<std::size_t> hovered_;
};

}  // namespace tallyfox
