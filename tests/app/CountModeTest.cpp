#include "ModelTestSupport.h"
#include "RandomTree.h"
#include "model/CountMode.h"
#include "model/SunburstLayout.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <algorithm>
#include <map>
#include <numbers>

using namespace tallyfox;

namespace {

// A window on a random tree, with its folders that hold something, largest first.
class CountModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 random(3131);
    testsupport::randomTree(random, 4000, "/random")->write(file_);
    model_ = testsupport::loadedModel(file_);
    const DiskTree& tree = *model_->tree();
    for (NodeId id = 0; id < tree.totalNodes(); ++id)
      if (!tree.children(id).empty()) folders_.push_back(id);
    ASSERT_GT(folders_.size(), 20u);
  }

  // What an entry stands for, counted the slow way: itself and every node below it.
  static std::uint64_t slowEntries(const DiskTree& tree, NodeId node) {
    return 1 + testsupport::nodesBelow(tree, node).size();
  }

  testsupport::TempDir dir_;
  std::filesystem::path file_ = dir_ / "random.tfsnap";
  std::unique_ptr<BrowserModel> model_;
  std::vector<NodeId> folders_;
};

}  // namespace

// Every folder's rows: their amounts are the entries below each, their shares of the folder
// add up to its stored entry count, and the fullest fills the bar. Back to bytes, the rows
// measure sizes again.
TEST_F(CountModeTest, SharesAddUpToTheFoldersEntriesAndTheToggleGoesBack) {
  const DiskTree& tree = *model_->tree();
  CountMode& mode = model_->countMode();
  QSignalSpy changes(&mode, &CountMode::measureChanged);
  mode.toggle();
  mode.setMeasure(CountMode::Measure::entries);
  EXPECT_EQ(changes.size(), 1);
  for (const NodeId folder : folders_) {
    model_->navigate(folder);
    std::vector<BrowserModel::RowValues> rows;
    for (const BrowserModel::Row& row : model_->rows())
      if (row.depth == 0) rows.push_back(model_->rowValues(row));
    std::uint64_t sum = 0, largest = 0;
    for (const auto& values : rows) {
      EXPECT_TRUE(values.countsEntries);
      EXPECT_EQ(values.size, slowEntries(tree, values.node)) << "node " << values.node;
      EXPECT_EQ(values.parentSize, tree.entryCount()[std::size_t(folder)]);
      sum += values.size;
      largest = std::max(largest, values.size);
    }
    EXPECT_EQ(sum, slowEntries(tree, folder) - 1) << "folder " << folder;
    for (const auto& values : rows) EXPECT_EQ(values.largestSibling, largest) << "folder " << folder;
  }
  mode.toggle();
  EXPECT_FALSE(mode.countsEntries());
  const BrowserModel::Row first = model_->rows().front();
  EXPECT_EQ(model_->rowValues(first).size, tree.sizeOf(first.node));
  EXPECT_EQ(model_->rowValues(first).parentSize, tree.sizeOf(model_->current()));
}

// The chart by entries: each ring's angles are the children's shares of entries, most
// first, and the innermost ring goes round once.
TEST_F(CountModeTest, TheChartsAnglesAreSharesOfEntries) {
  const DiskTree& tree = *model_->tree();
  for (const NodeId center : {DiskTree::root, folders_[folders_.size() / 2]}) {
    const SunburstLayout bySize(tree, center, {});
    const SunburstLayout byEntries(tree, center, {}, {.entries = true, .only = nullptr, .onlyGeneration = 0});
    EXPECT_NE(bySize.key(), byEntries.key());
    ASSERT_FALSE(byEntries.segments.empty());
    double ring1 = 0;
    std::map<std::pair<int, NodeId>, std::uint64_t> previous;  // by ring and parent
    for (const SunburstLayout::Segment& s : byEntries.segments) {
      if (s.depth == 1) ring1 += s.end - s.start;
      if (!s.node) continue;
      const NodeId parent = tree.parentOf(*s.node);
      const double share = double(slowEntries(tree, *s.node)) / double(slowEntries(tree, parent) - 1);
      // A child's share is of its parent's segment (the centre's whole circle).
      const auto* parentSegment = [&]() -> const SunburstLayout::Segment* {
        for (const auto& p : byEntries.segments)
          if (p.node == parent) return &p;
        return nullptr;
      }();
      const double span = parentSegment ? parentSegment->end - parentSegment->start : 2 * std::numbers::pi;
      EXPECT_NEAR(s.end - s.start, span * share, 1e-9) << "node " << *s.node;
      const auto key = std::pair(s.depth, parent);
      if (const auto before = previous.find(key); before != previous.end()) {
        EXPECT_LE(slowEntries(tree, *s.node), before->second) << "most entries first";
      }
      previous[key] = slowEntries(tree, *s.node);
    }
    EXPECT_LE(ring1, 2 * std::numbers::pi + 1e-9);
    EXPECT_GT(ring1, 2 * std::numbers::pi - 0.01);
  }
}
