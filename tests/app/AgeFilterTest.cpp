#include "ModelTestSupport.h"
#include "RandomTree.h"
#include "model/AgeFilter.h"
#include "model/CountMode.h"
#include "model/SunburstLayout.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <numbers>

using namespace tallyfox;
using testsupport::waitFor;

namespace {

// The random trees' times run from 2017 to 2026: a cut at the start of 2022 leaves files on
// both sides of it, and the trees' empty folders and files of no bytes test the edges.
const QDate cutDay(2022, 1, 1);

class AgeFilterTest : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    std::mt19937_64 random(GetParam());
    testsupport::randomTree(random, 4000, "/random")->write(file_);
    model_ = testsupport::loadedModel(file_);
    const DiskTree& tree = *model_->tree();
    const std::int64_t cut = QDateTime(cutDay, QTime(0, 0)).toSecsSinceEpoch();
    // The slow way: every old file climbs to each of its folders.
    bytes_.assign(std::size_t(tree.totalNodes()), 0);
    files_.assign(std::size_t(tree.totalNodes()), 0);
    for (NodeId id = 1; id < tree.totalNodes(); ++id) {
      if (tree.isDirectory(id) || tree.mtime()[std::size_t(id)] >= cut) continue;
      for (NodeId up = id; up >= 0; up = tree.parentOf(up)) {
        bytes_[std::size_t(up)] += tree.sizeOf(id);
        ++files_[std::size_t(up)];
      }
    }
    for (NodeId id = 0; id < tree.totalNodes(); ++id)
      if (tree.isDirectory(id)) folders_.push_back(id);
  }

  void filter() {
    AgeFilter::of(*model_).set({AgeFilter::Span::date, cutDay});
    ASSERT_TRUE(waitFor([&] { return AgeFilter::of(*model_).isReady(); }));
  }

  std::vector<NodeId> topRows() const {
    std::vector<NodeId> ids;
    for (const auto& row : model_->rows())
      if (row.depth == 0) ids.push_back(row.node);
    return ids;
  }

  testsupport::TempDir dir_;
  std::filesystem::path file_ = dir_ / "random.tfsnap";
  std::unique_ptr<BrowserModel> model_;
  std::vector<std::uint64_t> bytes_;
  std::vector<std::uint32_t> files_;
  std::vector<NodeId> folders_;
};

}  // namespace

// Every folder's rows are its children that are old files or hold some, each with the bytes
// (or, counting, the number) of old files below it; their shares make up the folder's own.
TEST_P(AgeFilterTest, FoldersShowTheBytesOfTheOldFilesBelowThem) {
  const DiskTree& tree = *model_->tree();
  filter();
  ASSERT_GT(files_[0], 0u);
  ASSERT_LT(files_[0], std::uint32_t(tree.nodeCount()));
  for (const bool counting : {false, true}) {
    model_->countMode().setMeasure(counting ? CountMode::Measure::entries : CountMode::Measure::size);
    for (const NodeId folder : folders_) {
      model_->navigate(folder);
      std::vector<NodeId> kept;
      for (const NodeId child : tree.children(folder))
        if (files_[std::size_t(child)] > 0) kept.push_back(child);
      const std::vector<NodeId> rows = topRows();
      ASSERT_TRUE(std::is_permutation(rows.begin(), rows.end(), kept.begin(), kept.end())) << folder;
      const std::uint64_t whole = counting ? files_[std::size_t(folder)] : bytes_[std::size_t(folder)];
      std::uint64_t sum = 0;
      for (const auto& row : model_->rows()) {
        const auto values = model_->rowValues(row);
        const auto expected = counting ? files_[std::size_t(row.node)] : bytes_[std::size_t(row.node)];
        EXPECT_EQ(values.size, expected) << "node " << row.node;
        EXPECT_EQ(values.parentSize, whole);
        sum += values.size;
      }
      EXPECT_EQ(sum, whole) << "folder " << folder;
    }
  }
}

// The chart draws old files only: each drawn entry holds some, and the inner ring's angles are
// their shares.
TEST_P(AgeFilterTest, TheChartFollows) {
  const DiskTree& tree = *model_->tree();
  filter();
  const CountMode::Amounts amounts = model_->countMode().amounts();
  ASSERT_TRUE(amounts.only);
  const SunburstLayout layout(tree, DiskTree::root, {}, amounts);
  EXPECT_NE(layout.key(), SunburstLayout(tree, DiskTree::root, {}).key());
  double ring1 = 0;
  for (const auto& s : layout.segments) {
    if (!s.node) continue;
    EXPECT_GT(files_[std::size_t(*s.node)], 0u) << *s.node;
    if (s.depth == 1) {
      ring1 += s.end - s.start;
      EXPECT_NEAR(s.end - s.start,
                  2 * std::numbers::pi * double(bytes_[std::size_t(*s.node)]) / double(bytes_[0]), 1e-9);
    }
  }
  EXPECT_GT(ring1, 0);
}

INSTANTIATE_TEST_SUITE_P(RandomTrees, AgeFilterTest, ::testing::Values(11u, 2027u));

// With a name filter both must hold; the age holds in rows opened below and in other folders,
// and clearing brings every row back.
TEST(AgeFilter, CombinesWithTheNameFilterHoldsEverywhereAndClears) {
  testsupport::TempDir dir;
  const auto file = dir / "ages.tfsnap";
  const auto day = [](int year) {
    return std::uint32_t(QDateTime(QDate(year, 6, 1), QTime(0, 0)).toSecsSinceEpoch());
  };
  using testsupport::Node;
  testsupport::writeSnapshot(file,
                             {{-1, ""},
                              {0, "photos", 0, EntryFlags::directory},
                              {0, "recent", 0, EntryFlags::directory},
                              {0, "empty", 0, EntryFlags::directory},
                              {1, "old.jpg", 500, 0, day(2010)},
                              {1, "new.jpg", 400, 0, day(2024)},
                              {1, "old-notes.txt", 300, 0, day(2011)},
                              {1, "unreadable.jpg", 0, EntryFlags::error, 0},
                              {2, "fresh.txt", 200, 0, day(2024)}},
                             "/data",
                             std::chrono::system_clock::time_point(std::chrono::seconds(
                                 QDateTime(QDate(2025, 1, 1), QTime(0, 0)).toSecsSinceEpoch())));
  const auto model = testsupport::loadedModel(file);
  AgeFilter& age = AgeFilter::of(*model);
  model->navigate(DiskTree::root);
  // Three years before the snapshot was taken, not before today.
  age.set({AgeFilter::Span::years3, {}});
  EXPECT_EQ(age.label(), QStringLiteral("Not modified for 3 years"));
  ASSERT_TRUE(waitFor([&] { return age.isReady(); }));
  EXPECT_EQ(testsupport::namesOf(*model, model->visibleChildren()), (std::vector<std::string>{"photos"}));
  EXPECT_EQ(age.summary(), QStringLiteral("800 bytes in 2 files here"));

  model->setExpanded({1});
  std::vector<NodeId> rows;
  for (const auto& row : model->rows()) rows.push_back(row.node);
  EXPECT_EQ(testsupport::namesOf(*model, rows),
            (std::vector<std::string>{"photos", "old.jpg", "old-notes.txt"}));

  model->navigate(1);
  model->setFilter(QStringLiteral("JPG"));
  EXPECT_EQ(testsupport::namesOf(*model, model->visibleChildren()), (std::vector<std::string>{"old.jpg"}));
  EXPECT_TRUE(age.isSet()) << "the age holds from folder to folder";

  age.clear();
  EXPECT_FALSE(age.matching());
  EXPECT_EQ(testsupport::namesOf(*model, model->visibleChildren()),
            (std::vector<std::string>{"old.jpg", "new.jpg", "unreadable.jpg"}));
}
