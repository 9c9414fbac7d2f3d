#pragma once

#include "model/CountMode.h"
#include "model/SizeOverlay.h"

#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotDiff.h>

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
    std::uint64_t overlay = 0;    // its generation
    std::uint64_t comparing = 0;  // the comparison's id; 0 for sizes
    bool countsEntries = false;
    std::uint64_t ageFilter = 0;  // the generation of the age filter's answer; 0 for all
    bool operator==(const LayoutKey&) const = default;
  };

  NodeId center = 0;
  SizeOverlay::Ptr overlay = SizeOverlay::empty();
  // The comparison a growth layout was made for; 0 for a size layout.
  std::uint64_t comparing = 0;
  // Angles by entries rather than bytes (CountMode), each ring's children most first; of old
  // files only while the age filter holds.
  CountMode::Amounts amounts;
  std::vector<Segment> segments;

  SunburstLayout() = default;
  // The size layout, or the same by entry counts, or of old files only.
  SunburstLayout(const DiskTree& tree, NodeId center, SizeOverlay::Ptr overlay,
                 CountMode::Amounts amounts = {});

  // The growth layout while comparing: only what grew, by how much it grew (in bytes, or in
  // entries), from the compared entry `center` whose node in the window's tree is `centerNode`.
  SunburstLayout(const SnapshotDiff& diff, const SnapshotDiff::Entry& center, NodeId centerNode,
                 std::uint64_t comparisonId, bool countsEntries = false);
  LayoutKey key() const {
    return {center, overlay->generation(), comparing, amounts.entries, amounts.onlyGeneration};
  }
  Hit hit(QPointF point, const Geometry& geometry) const;

  // Walking the chart with the keyboard: round a ring, out to a segment's first child, in to
  // its parent. Rings wrap around; a step past the innermost or outermost ring goes nowhere.
  enum class Step { clockwise, anticlockwise, outward, inward };
  std::optional<std::size_t> step(std::size_t from, Step step) const;
  // Where a walk starts: the segment of `node`, else the first of the innermost ring.
  std::optional<std::size_t> startOfWalk(std::optional<NodeId> node) const;
};

}  // namespace tallyfox
