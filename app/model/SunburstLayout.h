#pragma once

#include "model/SizeOverlay.h"

#include <tallyfox/DiskTree.h>

#include <QPointF>
#include <QSizeF>

#include <optional>
#include <vector>

namespace tallyfox {

// The chart of one folder as plain data: rings of arcs whose angles are proportional to
// sizes. A pure function of the tree, the centre and the overlay, so it can
// be built off the main thread and cached by its key.
struct SunburstLayout {
  static constexpr int maxRings = 5;
  // Below this an entry is not drawn on its own...
  static constexpr double minSegmentAngle = 0.008;
  // ...and below this the left-over entries of a folder are not drawn at all.
  static constexpr double minAggregateAngle = 0.004;

  struct Segment {
    std::optional<NodeId> node;  // absent for the aggregate of several small entries
    NodeId branch = 0;           // the ancestor that is a direct child of the centre
    int branchIndex = 0;         // -1 for a ring-1 aggregate
    int depth = 1;               // ring, 1 for the children of the centre
    double start = 0, end = 0;   // radians clockwise from 12 o'clock, 0 ... 2π
    bool isDirectory = false;
    bool operator==(const Segment&) const = default;
  };

  struct Geometry {
    QPointF center;
    double hole = 0;
    double ring = 0;
    static Geometry of(const QSizeF& size);
  };

  struct Hit {
    enum class Kind { nothing, center, segment };
    Kind kind = Kind::nothing;
    std::optional<Segment> segment;
  };

  // What a layout depends on; the chart recomputes when it changes.
  struct LayoutKey {
    NodeId center = 0;
    std::uint64_t overlay = 0;  // its generation
    bool operator==(const LayoutKey&) const = default;
  };

  NodeId center = 0;
  SizeOverlay::Ptr overlay;
  std::vector<Segment> segments;

  SunburstLayout() = default;
  // The size layout.
  SunburstLayout(const DiskTree& tree, NodeId center, SizeOverlay::Ptr overlay);

  LayoutKey key() const { return {center, overlay->generation()}; }
  Hit hit(QPointF point, const Geometry& geometry) const;
};

}  // namespace tallyfox
