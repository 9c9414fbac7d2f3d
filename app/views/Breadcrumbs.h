#pragma once

#include "model/BrowserModel.h"
#include "views/AccessibleParts.h"

#include <QPointer>
#include <QWidget>

#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace tallyfox {

// The path from the snapshot's root to the current folder, one crumb per folder. A click on
// a crumb shows that folder with the next crumb on the way down selected. When the crumbs do
// not fit, the leading ones give way to an ellipsis. Tab reaches the crumbs: Left and Right
// move between them, Return or Space clicks one, the menu key opens its menu. To assistive
// technology each crumb is a button.
class Breadcrumbs : public QWidget, public AccessibleParts {
  Q_OBJECT
 public:
  explicit Breadcrumbs(BrowserModel* browser, QWidget* parent = nullptr);

  // The snapshot's crumbs: the root and the folders down to the current one.
  std::vector<NodeId> crumbs() const;
  // Every crumb's label as drawn from the left, those of the folders above the root first.
  QStringList labels() const;
  // Where a crumb is drawn, empty when it gave way for lack of room.
  QRect crumbRect(NodeId node) const;
  // What a click on the crumb of `node` does.
  void activate(NodeId node);
  // What a click on the crumb of a folder above the root does.
  void activateOutside(const std::string& path);
  // Where the crumb of a folder above the root is drawn.
  QRect outsideCrumbRect(const std::string& path) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

  int partCount() const override { return int(placed_.size()); }
  QString partName(int part) const override;
  QString partDescription(int part) const override;
  QRect partRect(int part) const override;
  int focusedPart() const override { return keyCrumb_; }
  void pressPart(int part) override;
  std::uint64_t partsGeneration() const override { return generation_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  struct Placed {
    NodeId node;  // -1 for a folder above the root
    QString label;
    QRectF rect;
    std::optional<std::string> outside;
  };

  void rebuild();
  void place();
  const Placed* crumbAt(QPointF point) const;
  void activate(const Placed& crumb);
  void setKeyCrumb(int index);
  void openMenu(const Placed& crumb, QPoint globalPos);

  QPointer<BrowserModel> browser_;
  std::vector<Placed> placed_;
  std::vector<double> chevrons_;  // left edge of each separator drawn
  std::vector<QRectF> ellipses_;  // each stands for a run of crumbs that gave way
  // The crumb under the pointer and the one that stands for where the window is, by index.
  int hovered_ = -1;
  int here_ = -1;
  // The crumb the keyboard is on, by index.
  int keyCrumb_ = -1;
  std::uint64_t generation_ = 0;
};

}  // namespace tallyfox
