#pragma once

#include "model/BrowserModel.h"
#include "model/SunburstLayout.h"
#include "views/AccessibleParts.h"
#include "views/EntryMenus.h"

#include <QColor>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

namespace tallyfox {

// The text in the chart's central disc: the hovered entry, or the current folder.
class CenterLabel {
 public:
  struct Lines {
    QString name;
    QString size;
    // The same in fewer characters ("2.02M entries"), for a centre too small for `size`.
    QString shortSize;
    QColor sizeColor;  // while comparing: growth or shrinking
    QString percent;   // only while something is hovered
    QString note;      // what sets the entry apart ("not scanned"), when something does
  };

  static Lines lines(const BrowserModel& browser);
  // Lays the lines out centred in `square`, the name on at most two lines.
  static void paint(QPainter& painter, const QRectF& square, const Lines& lines, const QPalette& palette,
                    const QFont& font);
};

// The current folder as a sunburst. The layout is computed in the thread pool whenever its
// key changes; the previous layout stays on screen until the new one arrives.
//
// Drawing goes through three pixmaps: every segment at full strength, every segment dimmed
// (both redrawn only for a new layout, size or delete list), and the picture on screen, made
// from the dimmed one with the focused branch drawn over it at full strength. Hovering then
// repaints that picture plus one outline and the centre, and a selection that moves between
// branches redraws only the newly focused branch.
//
// The keyboard walks the segments (Tab reaches the chart): Left and Right go round a ring,
// Down goes out to the first child, Up back in; Return clicks the segment and Escape goes up
// as the centre does. The segment walked to is outlined and named in the centre, and
// assistive technology hears of it.
class SunburstView : public QWidget, public AccessibleParts {
  Q_OBJECT
 public:
  explicit SunburstView(BrowserModel* browser, QWidget* parent = nullptr);
  ~SunburstView() override;

  // The layout on screen, or nothing before the first one arrives.
  const std::shared_ptr<const SunburstLayout>& layout() const { return layout_; }
  SunburstLayout::Geometry chartGeometry() const;
  // A point in the middle of ring `ring` at `angle` (radians clockwise from the top), in
  // widget coordinates.
  QPointF pointAt(double angle, int ring) const;
  // True while a newer layout than the one on screen is being computed.
  bool isLayoutPending() const;

  QSize minimumSizeHint() const override { return {320, 320}; }
  QSize sizeHint() const override { return {560, 560}; }

  // The segment the keyboard is on, by its place in the layout.
  std::optional<std::size_t> keyboardSegment() const { return keyFocus_; }

  // The segments, for assistive technology: name, size and share (the change while
  // comparing).
  int partCount() const override;
  QString partName(int part) const override;
  QString partDescription(int part) const override;
  QRect partRect(int part) const override;
  int focusedPart() const override { return keyFocus_ ? int(*keyFocus_) : -1; }
  bool isPartSelected(int part) const override;
  void pressPart(int part) override;
  std::uint64_t partsGeneration() const override { return generation_; }

 signals:
  void layoutReady();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  // What the cached pixmap shows apart from the layout: which branch is in focus and which
  // segment the selection outlines. A selection that moves without changing either (from
  // one small file to another inside the same grey aggregate) repaints nothing.
  struct Look {
    enum class Focus { everything, branch, nothing };
    Focus focus = Focus::everything;
    NodeId branch = -1;
    std::optional<NodeId> outlined;
    bool operator==(const Look&) const = default;
  };

  // The chart model made a new layout: it goes on screen.
  void takeLayout();
  void setKeyFocus(std::optional<std::size_t> segment);
  void findNotScanned();
  // The layout, the size, the delete list or the palette changed: every pixmap is stale.
  void invalidate();
  void selectionMoved();
  Look currentLook() const;
  // Every segment at one opacity, with the delete-list fill.
  QPixmap renderLayer(double opacity, std::optional<NodeId> onlyBranch, QPixmap base) const;
  void compose();
  std::optional<NodeId> focusBranch() const;
  const SunburstLayout::Segment* segmentOf(std::optional<NodeId> node) const;
  QPainterPath sectorPath(const SunburstLayout::Segment& segment, const SunburstLayout::Geometry& g) const;

  QPointer<BrowserModel> browser_;
  // A press on a segment clicks it on release, unless the pointer moved off with it first.
  DragOut drag_{browser_};
  // The current folder's children that were not scanned: they have no bytes and so no
  // segment, and the centre names them instead.
  std::vector<NodeId> notScanned_;
  std::shared_ptr<const SunburstLayout> layout_;
  QPixmap full_, dimmed_, composed_;
  std::optional<std::size_t> keyFocus_;
  std::uint64_t generation_ = 0;
  bool layersValid_ = false;
  bool composedValid_ = false;
  Look composedLook_;
};

}  // namespace tallyfox
