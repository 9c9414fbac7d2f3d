#include "ModelTestSupport.h"
#include "model/Palette.h"
#include "model/SunburstLayout.h"

#include <tallyfox/SnapshotFile.h>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace tallyfox;
using testsupport::columnsOf;
using testsupport::Node;

namespace {

constexpr double pi = std::numbers::pi;

DiskTreePtr treeOf(const std::vector<Node>& nodes) {
  return SnapshotFile::inMemory(columnsOf(nodes), {"/t", {}, 0});
}

TEST(SunburstLayout, SplitsTheCircleInProportionToSizes) {
  const auto tree = treeOf({{-1, ""}, {0, "three", 3}, {0, "one", 1}});
  const SunburstLayout layout(*tree, DiskTree::root, {});
  ASSERT_EQ(layout.segments.size(), 2u);
  const auto& a = layout.segments[0];
  const auto& b = layout.segments[1];
  EXPECT_EQ(a.node, 1);
  EXPECT_DOUBLE_EQ(a.start, 0);
  EXPECT_DOUBLE_EQ(a.end, 3 * pi / 2);
  EXPECT_DOUBLE_EQ(b.start, 3 * pi / 2);
  EXPECT_DOUBLE_EQ(b.end, 2 * pi);
  EXPECT_EQ(b.branchIndex, 1);
  EXPECT_EQ(b.depth, 1);
}

TEST(SunburstLayout, ManySmallChildrenBecomeOneAggregate) {
  std::vector<Node> nodes = {{-1, ""}, {0, "folder"}};
  for (int i = 0; i < 1000; ++i) nodes.push_back({1, "f" + std::to_string(i), 10});
  const auto tree = treeOf(nodes);
  const SunburstLayout layout(*tree, 1, {});
  ASSERT_EQ(layout.segments.size(), 1u);
  const auto& rest = layout.segments[0];
  EXPECT_EQ(rest.node, std::nullopt);
  EXPECT_EQ(rest.branch, 2);  // the first child left over
  EXPECT_EQ(rest.branchIndex, -1);
  EXPECT_DOUBLE_EQ(rest.start, 0);
  EXPECT_NEAR(rest.end, 2 * pi, 1e-9);
  EXPECT_FALSE(rest.isDirectory);

  // Below ring 1 the aggregate keeps the branch it is in.
  const SunburstLayout outer(*tree, DiskTree::root, {});
  ASSERT_EQ(outer.segments.size(), 2u);
  EXPECT_EQ(outer.segments[1].node, std::nullopt);
  EXPECT_EQ(outer.segments[1].branch, 1);
  EXPECT_EQ(outer.segments[1].branchIndex, 0);
  EXPECT_EQ(outer.segments[1].depth, 2);
}

TEST(SunburstLayout, EmptyFoldersAndDeepChainsAreBounded) {
  std::vector<Node> chain = {{-1, ""}};
  for (int i = 0; i < 8; ++i) chain.push_back({i, "level" + std::to_string(i + 1)});
  chain.back().size = 100;
  const auto tree = treeOf(chain);
  const SunburstLayout layout(*tree, DiskTree::root, {});
  ASSERT_EQ(layout.segments.size(), 5u);
  for (int ring = 1; ring <= 5; ++ring) {
    EXPECT_EQ(layout.segments[ring - 1].depth, ring);
    EXPECT_EQ(layout.segments[ring - 1].branch, 1);
  }

  const auto zero = treeOf({{-1, ""}, {0, "a", 0}, {0, "b", 0}});
  EXPECT_TRUE(SunburstLayout(*zero, DiskTree::root, {}).segments.empty());

  // A folder whose size was taken out entirely draws nothing either.
  SizeOverlay trashed;
  trashed.removed[DiskTree::root] = 100;
  trashed.shrunk = 1;
  EXPECT_TRUE(SunburstLayout(*tree, DiskTree::root, SizeOverlay::share(trashed)).segments.empty());
}

TEST(SunburstLayout, HitTestingByRingAndAngle) {
  const auto tree = treeOf({{-1, ""}, {0, "three"}, {0, "one", 1}, {1, "inner", 3}});
  const SunburstLayout layout(*tree, DiskTree::root, {});
  const auto g = SunburstLayout::Geometry::of(QSizeF(416, 416));
  EXPECT_DOUBLE_EQ(g.hole, 200 * 0.24);
  EXPECT_DOUBLE_EQ(g.ring, (200 - g.hole) / 5);

  auto at = [&](double radius, double angle) {
    return QPointF(g.center.x() + radius * std::sin(angle), g.center.y() - radius * std::cos(angle));
  };
  EXPECT_EQ(layout.hit(g.center, g).kind, SunburstLayout::Hit::Kind::center);
  const auto top = layout.hit(at(g.hole + g.ring * 0.5, 0), g);  // exactly 12 o'clock
  ASSERT_EQ(top.kind, SunburstLayout::Hit::Kind::segment);
  EXPECT_EQ(top.segment->node, 1);
  EXPECT_EQ(layout.hit(at(g.hole + g.ring * 0.5, 1.75 * pi), g).segment->node, 2);
  EXPECT_EQ(layout.hit(at(g.hole + g.ring * 1.5, 0.5), g).segment->node, 3);
  EXPECT_EQ(layout.hit(at(g.hole + g.ring * 1.5, 1.75 * pi), g).kind, SunburstLayout::Hit::Kind::nothing);
  EXPECT_EQ(layout.hit(at(g.hole + g.ring * 5.5, 0.1), g).kind, SunburstLayout::Hit::Kind::nothing);
}

// The keyboard's walk: round a ring both ways with wrapping, out to the first child, back in
// to the parent; nothing beyond the innermost ring or outside a file.
TEST(SunburstLayout, KeyboardWalksRingsAndBranches) {
  const auto tree = treeOf({{-1, ""},
                            {0, "photos"},
                            {0, "music"},
                            {0, "notes.txt", 1000},
                            {1, "2023"},
                            {1, "cover.jpg", 1000},
                            {2, "song.mp3", 3000},
                            {4, "a.raw", 4000}});
  const SunburstLayout layout(*tree, DiskTree::root, {});
  const auto at = [&](const char* name) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < layout.segments.size(); ++i)
      if (layout.segments[i].node && tree->name(*layout.segments[i].node) == name) return i;
    ADD_FAILURE() << "no segment " << name;
    return std::nullopt;
  };
  const auto name = [&](std::optional<std::size_t> i) -> std::string {
    if (!i) return "(nothing)";
    return layout.segments[*i].node ? tree->name(*layout.segments[*i].node) : "(aggregate)";
  };
  using Step = SunburstLayout::Step;
  EXPECT_EQ(name(layout.step(*at("photos"), Step::clockwise)), "music");
  EXPECT_EQ(name(layout.step(*at("notes.txt"), Step::clockwise)), "photos");
  EXPECT_EQ(name(layout.step(*at("photos"), Step::anticlockwise)), "notes.txt");
  EXPECT_EQ(name(layout.step(*at("photos"), Step::outward)), "2023");
  EXPECT_EQ(name(layout.step(*at("2023"), Step::outward)), "a.raw");
  EXPECT_EQ(name(layout.step(*at("a.raw"), Step::inward)), "2023");
  EXPECT_EQ(name(layout.step(*at("cover.jpg"), Step::inward)), "photos");
  EXPECT_EQ(name(layout.step(*at("song.mp3"), Step::inward)), "music");
  // Round the second ring across branches: the next segment by angle, whoever its parent.
  EXPECT_EQ(name(layout.step(*at("cover.jpg"), Step::clockwise)), "song.mp3");
  EXPECT_EQ(name(layout.step(*at("photos"), Step::inward)), "(nothing)");
  EXPECT_EQ(name(layout.step(*at("notes.txt"), Step::outward)), "(nothing)");
  EXPECT_EQ(name(layout.step(*at("a.raw"), Step::clockwise)), "(nothing)") << "alone in its ring";
  EXPECT_EQ(name(layout.step(layout.segments.size(), Step::clockwise)), "(nothing)");

  EXPECT_EQ(name(layout.startOfWalk(NodeId(6))), "song.mp3");
  EXPECT_EQ(name(layout.startOfWalk(std::nullopt)), "photos");
  EXPECT_EQ(SunburstLayout().startOfWalk(std::nullopt), std::nullopt);
}

TEST(SunburstLayout, KeyFollowsCentreAndOverlay) {
  const auto tree = treeOf({{-1, ""}, {0, "a", 2}, {0, "b", 1}});
  const SunburstLayout layout(*tree, DiskTree::root, {});
  SizeOverlay overlay;
  overlay.hidden.insert(2);
  const SunburstLayout hidden(*tree, DiskTree::root, SizeOverlay::share(overlay));
  EXPECT_EQ(layout.key(), SunburstLayout(*tree, DiskTree::root, {}).key());
  EXPECT_FALSE(layout.key() == hidden.key());
  ASSERT_EQ(hidden.segments.size(), 1u);  // b is hidden; a alone keeps two thirds
  EXPECT_NEAR(hidden.segments[0].end, 2 * pi * 2 / 3, 1e-12);
}

TEST(Palette, SameRuleForListAndChart) {
  const Rgba red = Palette::fromHsb(0, 1, 1);
  EXPECT_EQ(red.argb(), 0xFFFF0000u);
  // Ring 1 of the chart is level 0 of the list; files are muted whatever their depth.
  EXPECT_EQ(Palette::entry(3, 0, false), Palette::entry(3, 4, false));
  EXPECT_NE(Palette::entry(3, 0, true), Palette::entry(3, 1, true));
  EXPECT_NE(Palette::entry(0, 0, true), Palette::entry(1, 0, true));
  EXPECT_EQ(Palette::aggregate().alpha, 0.35);
}

}  // namespace
