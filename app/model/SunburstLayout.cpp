#include "model/SunburstLayout.h"

#include "model/CountMode.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tallyfox {

namespace {

class SizeWalk {
 public:
  SizeWalk(const DiskTree& tree, const SizeOverlay& overlay, NodeId center, const CountMode::Amounts& amounts,
           std::vector<SunburstLayout::Segment>& out)
      : tree_(tree),
        overlay_(overlay),
        amounts_(amounts),
        out_(out),
        firstChild_(tree.children(center).first) {}

  void walk(NodeId n, int depth, double start, double span, NodeId branch, int branchIndex) {
    const std::uint64_t whole = amounts_.below(n, tree_, overlay_);
    if (whole == 0 || depth > SunburstLayout::maxRings) return;
    if (overlay_.isPristine() && amounts_.isPlainSize()) {
      // Straight from the stored range: a folder of a million children costs no copy.
      const NodeRange range = tree_.children(n);
      NodeId c = range.first;
      for (; c < range.last; ++c)
        if (!take(c, whole, depth, start, span, branch, branchIndex)) break;
      const NodeId firstLeftOver = c;
      std::uint64_t rest = 0;
      for (; c < range.last; ++c) rest += amount(c);
      addAggregate(firstLeftOver, rest, whole, depth, start, span, branch, branchIndex);
    } else {
      std::vector<NodeId> children = overlay_.children(n, tree_);
      // The first too small a segment ends the ring, so the children go most first; equal
      // amounts keep the largest first.
      if (!amounts_.isPlainSize())
        std::stable_sort(children.begin(), children.end(),
                         [&](NodeId a, NodeId b) { return amount(a) > amount(b); });
      std::size_t i = 0;
      for (; i < children.size(); ++i)
        if (!take(children[i], whole, depth, start, span, branch, branchIndex)) break;
      std::uint64_t rest = 0;
      for (std::size_t j = i; j < children.size(); ++j) rest += amount(children[j]);
      addAggregate(i < children.size() ? children[i] : 0, rest, whole, depth, start, span, branch,
                   branchIndex);
    }
  }

 private:
  std::uint64_t amount(NodeId node) const { return amounts_.of(node, tree_, overlay_); }

  // Appends child c and its rings; false when c is too small and the rest is left over.
  bool take(NodeId c, std::uint64_t whole, int depth, double& start, double span, NodeId branch,
            int branchIndex) {
    const double angle = span * double(amount(c)) / double(whole);
    if (angle < SunburstLayout::minSegmentAngle) return false;
    // The branch index is the position in stored order, as in the list, so that a branch
    // keeps its colour in both even after trashing re-sorted the children.
    const NodeId b = depth == 1 ? c : branch;
    const int bi = depth == 1 ? int(c - firstChild_) : branchIndex;
    const bool isDirectory = tree_.isDirectory(c);
    out_.push_back({c, b, bi, depth, start, start + angle, isDirectory});
    if (isDirectory) walk(c, depth + 1, start, angle, b, bi);
    start += angle;
    return true;
  }

  void addAggregate(NodeId firstLeftOver, std::uint64_t rest, std::uint64_t whole, int depth, double start,
                    double span, NodeId branch, int branchIndex) {
    if (rest == 0) return;
    const double angle = span * double(rest) / double(whole);
    if (angle < SunburstLayout::minAggregateAngle) return;
    out_.push_back({std::nullopt, depth == 1 ? firstLeftOver : branch, depth == 1 ? -1 : branchIndex, depth,
                    start, start + angle, false});
  }

  const DiskTree& tree_;
  const SizeOverlay& overlay_;
  const CountMode::Amounts& amounts_;
  std::vector<SunburstLayout::Segment>& out_;
  NodeId firstChild_;
};

// Where space grew: the same rings and angle rules as for sizes, with growth in place of size.
class GrowthWalk {
 public:
  GrowthWalk(const SnapshotDiff& diff, NodeId centerNode, bool countsEntries,
             std::vector<SunburstLayout::Segment>& out)
      : diff_(diff),
        countsEntries_(countsEntries),
        out_(out),
        firstChild_(diff.newTree().children(centerNode).first) {}

  void walk(const SnapshotDiff::Entry& entry, int depth, double start, double span, NodeId branch,
            int branchIndex) {
    if (depth > SunburstLayout::maxRings) return;
    std::vector<SnapshotDiff::Entry> grown = diff_.children(entry);
    if (countsEntries_) {
      // Measured in entries, the order is theirs; the walk below goes on from the entries
      // as the diff gives them, which keep their node ids.
      for (auto& e : grown) e = CountMode::measured(diff_, e, true);
      std::stable_sort(
          grown.begin(), grown.end(),
          [](const SnapshotDiff::Entry& a, const SnapshotDiff::Entry& b) { return a.delta() > b.delta(); });
    }
    std::erase_if(grown, [](const SnapshotDiff::Entry& e) { return !e.newNode || e.delta() <= 0; });
    std::uint64_t total = 0;
    for (const auto& e : grown) total += std::uint64_t(e.delta());
    if (total == 0) return;
    std::size_t i = 0;
    for (; i < grown.size(); ++i) {
      const SnapshotDiff::Entry& c = grown[i];
      const double angle = span * double(c.delta()) / double(total);
      if (angle < SunburstLayout::minSegmentAngle) break;
      const NodeId node = *c.newNode;
      const NodeId b = depth == 1 ? node : branch;
      const int bi = depth == 1 ? int(node - firstChild_) : branchIndex;
      out_.push_back({node, b, bi, depth, start, start + angle, c.isDirectory});
      if (c.isDirectory) walk(c, depth + 1, start, angle, b, bi);
      start += angle;
    }
    if (i == grown.size()) return;
    std::uint64_t rest = 0;
    for (std::size_t j = i; j < grown.size(); ++j) rest += std::uint64_t(grown[j].delta());
    const double angle = span * double(rest) / double(total);
    if (angle < SunburstLayout::minAggregateAngle) return;
    out_.push_back({std::nullopt, depth == 1 ? *grown[i].newNode : branch, depth == 1 ? -1 : branchIndex,
                    depth, start, start + angle, false});
  }

 private:
  const SnapshotDiff& diff_;
  bool countsEntries_;
  std::vector<SunburstLayout::Segment>& out_;
  NodeId firstChild_;
};

}  // namespace

SunburstLayout::SunburstLayout(const SnapshotDiff& diff, const SnapshotDiff::Entry& centerEntry,
                               NodeId centerNode, std::uint64_t comparisonId, bool countsEntries)
    : center(centerNode),
      overlay(SizeOverlay::empty()),
      comparing(comparisonId),
      amounts{.entries = countsEntries, .only = nullptr, .onlyGeneration = 0} {
  if (!diff.newTree().contains(centerNode)) return;
  GrowthWalk(diff, centerNode, countsEntries, segments)
      .walk(centerEntry, 1, 0, 2 * std::numbers::pi, centerNode, 0);
}

SunburstLayout::SunburstLayout(const DiskTree& tree, NodeId center, SizeOverlay::Ptr overlay,
                               CountMode::Amounts amounts)
    : center(center),
      overlay(overlay ? std::move(overlay) : SizeOverlay::empty()),
      amounts(std::move(amounts)) {
  if (!tree.contains(center)) return;
  SizeWalk(tree, *this->overlay, center, this->amounts, segments)
      .walk(center, 1, 0, 2 * std::numbers::pi, center, 0);
}

SunburstLayout::Geometry SunburstLayout::Geometry::of(const QSizeF& size) {
  const double radius = std::min(size.width(), size.height()) * 0.5 - 8;
  Geometry g;
  g.center = QPointF(size.width() * 0.5, size.height() * 0.5);
  g.hole = radius * 0.24;
  g.ring = (radius - g.hole) / maxRings;
  return g;
}

SunburstLayout::Hit SunburstLayout::hit(QPointF p, const Geometry& g) const {
  const double dx = p.x() - g.center.x(), dy = p.y() - g.center.y();
  const double distance = std::hypot(dx, dy);
  if (distance < g.hole) return {Hit::Kind::center, std::nullopt};
  if (!(g.ring > 0)) return {};
  const double ringIndex = std::floor((distance - g.hole) / g.ring) + 1;
  if (ringIndex >= maxRings + 1) return {};
  const int ring = int(ringIndex);
  double angle = std::atan2(dx, -dy);
  if (angle < 0) angle += 2 * std::numbers::pi;
  for (const Segment& s : segments)
    if (s.depth == ring && s.start <= angle && angle < s.end) return {Hit::Kind::segment, s};
  return {};
}

std::optional<std::size_t> SunburstLayout::step(std::size_t from, Step step) const {
  if (from >= segments.size()) return std::nullopt;
  const Segment& here = segments[from];
  // The segments of a ring tile it in angle order, and each child lies within its parent's
  // span, so every step is a search by angle.
  std::optional<std::size_t> best;
  const auto better = [&](std::size_t i, auto&& before) {
    return !best || before(segments[i], segments[*best]);
  };
  const auto earlier = [](const Segment& a, const Segment& b) { return a.start < b.start; };
  const auto later = [](const Segment& a, const Segment& b) { return a.start > b.start; };
  switch (step) {
    case Step::clockwise:
    case Step::anticlockwise: {
      const bool forward = step == Step::clockwise;
      std::optional<std::size_t> wrap;
      for (std::size_t i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        if (s.depth != here.depth || i == from) continue;
        const bool ahead = forward ? s.start > here.start : s.start < here.start;
        if (ahead && (forward ? better(i, earlier) : better(i, later))) best = i;
        // Past the last one, round to the first.
        if (!wrap || (forward ? earlier(s, segments[*wrap]) : later(s, segments[*wrap]))) wrap = i;
      }
      return best ? best : wrap;
    }
    case Step::outward:
      for (std::size_t i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        if (s.depth == here.depth + 1 && s.start >= here.start && s.start < here.end && better(i, earlier))
          best = i;
      }
      return best;
    case Step::inward:
      for (std::size_t i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        if (s.depth == here.depth - 1 && s.start <= here.start && here.start < s.end) return i;
      }
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::size_t> SunburstLayout::startOfWalk(std::optional<NodeId> node) const {
  std::optional<std::size_t> first;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (node && segments[i].node == node) return i;
    if (segments[i].depth == 1 && (!first || segments[i].start < segments[*first].start)) first = i;
  }
  return first;
}

}  // namespace tallyfox
