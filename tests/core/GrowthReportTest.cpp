#include <tallyfox/GrowthReport.h>
#include <tallyfox/SnapshotFile.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace tallyfox;
using testsupport::Node;

namespace {

constexpr std::uint64_t MB = 1'000'000;

// /p before and after: a file deep in a/b/c grew, five small folders of "spread" grew a
// little each, "mixed" has one folder that grew past the threshold and one that did not,
// "fresh" is new, "shrink" lost more than all the rest gained.
DiskTreePtr before() {
  return SnapshotFile::inMemory(testsupport::columnsOf({{-1, ""},
                                                        {0, "shrink"},
                                                        {0, "a"},
                                                        {0, "spread"},
                                                        {0, "mixed"},
                                                        {1, "old.bin", 6 * MB},
                                                        {2, "b"},
                                                        {3, "s1"},
                                                        {3, "s2"},
                                                        {3, "s3"},
                                                        {3, "s4"},
                                                        {3, "s5"},
                                                        {4, "x"},
                                                        {4, "y"},
                                                        {6, "c"},
                                                        {14, "file", 1 * MB}}),
                                {"/p", testsupport::localDay(2025, 1, 1), 1});
}

DiskTreePtr after() {
  std::vector<Node> nodes{{-1, ""},
                          {0, "a"},
                          {0, "mixed"},
                          {0, "spread"},
                          {0, "fresh"},
                          {0, "shrink"},
                          {1, "b"},
                          {2, "x", 0},
                          {2, "y", 0},
                          {3, "s1"},
                          {3, "s2"},
                          {3, "s3"},
                          {3, "s4"},
                          {3, "s5"},
                          {4, "new.bin", 1'200'000},
                          {5, "old.bin", 1 * MB},
                          {6, "c"},
                          {7, "big.bin", 1'600'000},
                          {8, "small.bin", 800'000}};
  for (int k = 9; k <= 13; ++k) nodes.push_back({k, "part", 300'000});
  nodes.push_back({16, "file", 3 * MB});
  return SnapshotFile::inMemory(testsupport::columnsOf(nodes), {"/p", testsupport::localDay(2025, 1, 8), 1});
}

std::vector<std::pair<std::string, std::int64_t>> listed(const std::vector<GrowthReport::Folder>& folders) {
  std::vector<std::pair<std::string, std::int64_t>> out;
  for (const auto& f : folders) out.emplace_back(f.path, f.grew());
  return out;
}

}  // namespace

TEST(GrowthReport, NamesTheFoldersWhereTheGrowthHappened) {
  const auto diff = SnapshotDiff::make(before(), after(), "/p");
  ASSERT_TRUE(diff);
  // Not /p, /p/a or /p/a/b, which grew only by what c grew; not the five parts of "spread";
  // not "mixed", whose own growth beside x is below the threshold; "fresh" counts as grown.
  EXPECT_EQ(listed(GrowthReport::grownFolders(*diff, MB, 10)),
            (std::vector<std::pair<std::string, std::int64_t>>{{"/p/a/b/c", 2'000'000},
                                                               {"/p/mixed/x", 1'600'000},
                                                               {"/p/spread", 1'500'000},
                                                               {"/p/fresh", 1'200'000}}));
  EXPECT_EQ(GrowthReport::grownFolders(*diff, MB, 2).size(), 2u);
  // More than the threshold: growth of exactly 1.5 MB does not count at 1.5 MB.
  EXPECT_EQ(listed(GrowthReport::grownFolders(*diff, 1'500'000, 10)),
            (std::vector<std::pair<std::string, std::int64_t>>{{"/p/a/b/c", 2'000'000},
                                                               {"/p/mixed/x", 1'600'000}}));
  // With a low threshold "mixed" counts for y, and the parts of "spread" for themselves.
  const auto low = listed(GrowthReport::grownFolders(*diff, 250'000, 20));
  EXPECT_NE(std::find(low.begin(), low.end(), std::pair<std::string, std::int64_t>{"/p/mixed/y", 800'000}),
            low.end());
  EXPECT_EQ(
      std::count_if(low.begin(), low.end(), [](const auto& f) { return f.first.starts_with("/p/spread/"); }),
      5);
}

TEST(GrowthReport, AReportComparesThePlaceAndSaysWhenSpaceRanLow) {
  const GrowthReport::VolumeSpace low{5, 100}, plenty{50, 100};
  GrowthReport::Inputs inputs{.place = "/p",
                              .snapshot = "/s/new.tfsnap",
                              .tree = after(),
                              .previousSnapshot = "/s/old.tfsnap",
                              .previousTree = before(),
                              .threshold = MB,
                              .space = plenty,
                              .previousSpace = std::nullopt};
  auto report = GrowthReport::report(inputs);
  EXPECT_EQ(report.folders.size(), GrowthReport::alertFolders);
  EXPECT_EQ(report.previous, "/s/old.tfsnap");
  EXPECT_EQ(report.previousStarted, testsupport::localDay(2025, 1, 1));
  EXPECT_FALSE(report.spaceFellLow);
  EXPECT_TRUE(report.alert());

  // Low space is news once: when it was not low at the previous scan, or that is unknown.
  inputs.threshold = 10 * MB;
  for (const auto& [previous, expected] :
       std::vector<std::pair<std::optional<GrowthReport::VolumeSpace>, bool>>{
           {plenty, true}, {std::nullopt, true}, {low, false}}) {
    inputs.space = low;
    inputs.previousSpace = previous;
    report = GrowthReport::report(inputs);
    EXPECT_TRUE(report.folders.empty());
    EXPECT_EQ(report.spaceFellLow, expected);
    EXPECT_EQ(report.alert(), expected);
  }

  // Nothing to compare with: no folders, and no claim of a previous snapshot.
  inputs.previousTree = nullptr;
  report = GrowthReport::report(inputs);
  EXPECT_FALSE(report.previous);
  EXPECT_TRUE(report.folders.empty());
  const auto back = GrowthReport::fromJson(GrowthReport::toJson(report));
  ASSERT_TRUE(back);
  EXPECT_FALSE(back->previous);
  EXPECT_FALSE(back->previousStarted);
  EXPECT_EQ(back->space, low);
  EXPECT_FALSE(GrowthReport::fromJson(nlohmann::json::array()));
  EXPECT_FALSE(GrowthReport::fromJson({{"place", "/p"}}));
}
