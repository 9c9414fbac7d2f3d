#pragma once

#include "model/BrowserModel.h"

#include <QPointer>
#include <QWidget>

#include <vector>

namespace tallyfox {

// The path from the snapshot's root to the current folder, one crumb per folder. A click on
// a crumb shows that folder with the next crumb on the way down selected. When the crumbs do
// not fit, the leading ones give way to an ellipsis.
class Breadcrumbs : public QWidget {
  Q_OBJECT
 public:
  explicit Breadcrumbs(BrowserModel* browser, QWidget* parent = nullptr);

  std::vector<NodeId> crumbs() const;
  // Where a crumb is drawn, empty when it gave way for lack of room.
  QRect crumbRect(NodeId node) const;
  // What a click on the crumb of `node` does.
  void activate(NodeId node);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Placed {
    NodeId node;
    QString label;
    QRectF rect;
  };

  void rebuild();
  void place();
  const Placed* crumbAt(QPointF point) const;

  QPointer<BrowserModel> browser_;
  std::vector<Placed> placed_;
  std::vector<double> chevrons_;  // left edge of each separator drawn
  QRectF ellipsis_;               // stands for the crumbs that gave way; empty when all fit
  std::optional<NodeId> hovered_;
};

}  // namespace tallyfox
