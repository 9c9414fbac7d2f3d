#include "ModelTestSupport.h"
#include "model/Format.h"
#include "model/NameFilter.h"

#include <tallyfox/ByteFormat.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace tallyfox;
using testsupport::idOf;
using testsupport::loadedModel;
using testsupport::namesOf;
using testsupport::Node;
using testsupport::TempDir;

namespace {

class BrowserRows : public ::testing::Test {
 protected:
  std::unique_ptr<BrowserModel> open(const std::vector<Node>& nodes) {
    const auto file = dir / ("s" + std::to_string(++files) + ".tfsnap");
    testsupport::writeSnapshot(file, nodes);
    return loadedModel(file);
  }
  std::vector<std::string> visibleNames(const BrowserModel& m) {
    EXPECT_TRUE(m.rows() == m.visibleRows()) << "the rows kept for the list are stale";
    std::vector<NodeId> ids;
    for (const auto& row : m.visibleRows()) ids.push_back(row.node);
    return namesOf(m, ids);
  }

  TempDir dir;
  int files = 0;
};

using Names = std::vector<std::string>;

TEST_F(BrowserRows, FilterMatchesNamesOfTheCurrentFolderIgnoringCase) {
  auto m = open({{-1, ""},
                 {0, "photos"},
                 {0, "My Photo Library"},
                 {0, "Documents", 50},
                 {0, "A\xCC\x88rger.txt", 40},  // decomposed, as some file systems store it
                 {0, "bad\xFF", 30},
                 {1, "2019", 80},
                 {2, "inside.jpg", 70}});
  m->setFilter("PHOTO");
  EXPECT_EQ(visibleNames(*m), (Names{"photos", "My Photo Library"}));

  // Rows revealed by expanding a matching folder are not filtered.
  m->toggleExpanded(idOf(*m, "My Photo Library"));
  EXPECT_EQ(visibleNames(*m), (Names{"photos", "My Photo Library", "inside.jpg"}));

  m->setFilter("  \t ");
  EXPECT_EQ(m->visibleChildren().size(), 5u);
  m->setFilter(" ärger ");
  EXPECT_EQ(visibleNames(*m), (Names{"A\xCC\x88rger.txt"}));
  m->setFilter("\xEF\xBF\xBD");  // the replacement character an unreadable name shows
  EXPECT_EQ(visibleNames(*m), (Names{"bad\xEF\xBF\xBD"}));
  m->setFilter("2019");  // only the current folder's own children are searched
  EXPECT_TRUE(m->visibleRows().empty());
  m->move(1);
  EXPECT_EQ(m->selection(), std::nullopt);

  m->navigate(idOf(*m, "photos"));
  EXPECT_EQ(m->filter(), "");
}

TEST(NameFilter, FollowsTheLocalesCase) {
  auto bytes = [](const char* s) {
    return std::span(reinterpret_cast<const std::uint8_t*>(s), std::strlen(s));
  };
  EXPECT_TRUE(NameFilter("FILE", QLocale(QLocale::English)).matches(bytes("my-file.txt")));
  EXPECT_FALSE(NameFilter("FILE", QLocale(QLocale::English)).matches(bytes("my-fil.txt")));
  EXPECT_TRUE(NameFilter("ÉTÉ", QLocale(QLocale::French)).matches(bytes("\xC3\xA9t\xC3\xA9 2020")));
  EXPECT_TRUE(NameFilter("", QLocale(QLocale::English)).matches(bytes("anything")));
}

TEST_F(BrowserRows, SelectionMovesStopAtTheEnds) {
  std::vector<Node> nodes = {{-1, ""}};
  for (int i = 0; i < 20; ++i) nodes.push_back({0, "f" + std::to_string(i), std::uint64_t(100 - i)});
  auto m = open(nodes);
  const auto rows = m->visibleRows();
  ASSERT_EQ(rows.size(), 20u);

  m->setSelection(std::nullopt);
  m->move(1);
  EXPECT_EQ(m->selection(), rows.front().node);
  m->setSelection(std::nullopt);
  m->move(-1);
  EXPECT_EQ(m->selection(), rows.back().node);
  m->setSelection(std::nullopt);
  m->move(15);
  EXPECT_EQ(m->selection(), rows[14].node);

  m->setSelection(rows[18].node);
  m->move(15);
  EXPECT_EQ(m->selection(), rows.back().node);
  m->move(1);
  EXPECT_EQ(m->selection(), rows.back().node);
  m->setSelection(rows[3].node);
  m->move(-15);
  EXPECT_EQ(m->selection(), rows.front().node);
  m->selectLast();
  EXPECT_EQ(m->selection(), rows.back().node);
  m->selectFirst();
  EXPECT_EQ(m->selection(), rows.front().node);

  // Moves walk the rows as they are now: filtered, and after a selection made elsewhere.
  m->setFilter("1");
  EXPECT_EQ(visibleNames(*m),
            (Names{"f1", "f10", "f11", "f12", "f13", "f14", "f15", "f16", "f17", "f18", "f19"}));
  m->move(1);  // f0, selected, is not listed now
  EXPECT_EQ(m->selection(), idOf(*m, "f1"));
  m->setSelection(idOf(*m, "f15"));
  m->move(-1);
  EXPECT_EQ(m->selection(), idOf(*m, "f14"));
  m->setFilter("");
  m->move(1);
  EXPECT_EQ(m->selection(), idOf(*m, "f15"));
}

TEST_F(BrowserRows, RowValuesForBarsPercentagesAndBranches) {
  auto m = open({{-1, ""},
                 {0, "big"},
                 {0, "half", 0},
                 {0, "tiny", 5},
                 {0, "empty"},
                 {1, "a"},
                 {1, "b", 1000},
                 {2, "h", 5000},
                 {5, "c"},
                 {8, "deep", 9000}});
  // Sizes: big 10000 (a 9000 > deep), half 5000, tiny 5, empty 0.
  const NodeId big = idOf(*m, "big"), half = idOf(*m, "half"), tiny = idOf(*m, "tiny");
  const auto bigValues = m->rowValues({big, 0});
  const auto halfValues = m->rowValues({half, 0});
  EXPECT_EQ(bigValues.size, 10000u);
  EXPECT_EQ(bigValues.largestSibling, 10000u);
  EXPECT_EQ(halfValues.size * 2, halfValues.largestSibling);
  EXPECT_EQ(bigValues.branchIndex, 0);
  EXPECT_EQ(halfValues.branchIndex, 1);
  EXPECT_TRUE(bigValues.isSelected);
  EXPECT_TRUE(bigValues.isExpandable);
  EXPECT_FALSE(m->rowValues({idOf(*m, "empty"), 0}).isExpandable);

  const auto tinyValues = m->rowValues({tiny, 0});
  EXPECT_EQ(tinyValues.parentSize, 15005u);
  EXPECT_EQ(Format::percent(tinyValues.size, tinyValues.parentSize), "<0.1%");
  EXPECT_EQ(Format::percent(5, 0), "");
  EXPECT_EQ(Format::percent(1, 3, QLocale::c()), "33.3%");
  EXPECT_EQ(Format::percent(1, 1000, QLocale::c()), "0.1%");

  // Three levels down, the branch is still that of the top-level ancestor.
  m->toggleExpanded(big);
  m->toggleExpanded(idOf(*m, "a"));
  m->toggleExpanded(idOf(*m, "c"));
  const auto rows = m->visibleRows();
  const auto deep =
      std::find_if(rows.begin(), rows.end(), [&](auto& r) { return r.node == idOf(*m, "deep"); });
  ASSERT_NE(deep, rows.end());
  EXPECT_EQ(deep->depth, 3);
  EXPECT_EQ(m->rowValues(*deep).branchIndex, 0);
  EXPECT_EQ(m->rowValues(*deep).largestSibling, 9000u);
  m->navigate(half);
  EXPECT_EQ(m->rowValues({idOf(*m, "h"), 0}).branchIndex, 0);
}

TEST_F(BrowserRows, TrashedChildrenVanishAndTheRestIsResorted) {
  auto m = open({{-1, ""}, {0, "a", 50}, {0, "b", 40}, {0, "c", 40}, {0, "d", 30}});
  EXPECT_EQ(visibleNames(*m), (Names{"a", "b", "c", "d"}));  // stored order, equal sizes kept
  SizeOverlay overlay;
  overlay.hidden.insert(idOf(*m, "b"));
  overlay.removed[idOf(*m, "a")] = 45;
  overlay.removed[DiskTree::root] = 85;
  overlay.shrunk = 1;
  m->setOverlay(SizeOverlay::share(overlay));
  EXPECT_EQ(visibleNames(*m), (Names{"c", "d", "a"}));
  EXPECT_EQ(visibleNames(*m), (Names{"c", "d", "a"}));  // again, from the overlay's sorted folder
  const auto values = m->rowValues({idOf(*m, "c"), 0});
  EXPECT_EQ(values.size, 40u);
  EXPECT_EQ(values.parentSize, 75u);
  EXPECT_EQ(values.largestSibling, 40u);
  EXPECT_EQ(overlay.size(idOf(*m, "a"), *m->tree()), 5u);
}

TEST(Format, BytesReadAsInAFileManagerEverywhere) {
  const std::vector<std::pair<std::uint64_t, std::string>> expected = {{0, "0 bytes"},
                                                                       {1, "1 byte"},
                                                                       {999, "999 bytes"},
                                                                       {1000, "1.0 kB"},
                                                                       {840000, "840.0 kB"},
                                                                       {1234, "1.2 kB"},
                                                                       {999949, "999.9 kB"},
                                                                       {999950, "1.0 MB"},
                                                                       {4500000000, "4.5 GB"},
                                                                       {1ull << 50, "1.1 PB"},
                                                                       {18446744073709551615ull, "18.4 EB"}};
  for (const auto& [value, text] : expected) {
    EXPECT_EQ(formatFileBytes(value), text) << value;
    EXPECT_EQ(Format::bytes(value, QLocale::c()).toStdString(), text) << value;
  }
  // The app writes the decimal point of the user's language.
  EXPECT_EQ(Format::bytes(840000, QLocale(QLocale::German)), QStringLiteral("840,0 kB"));
  EXPECT_EQ(Format::compactCount(999, QLocale::c()), "999");
  EXPECT_EQ(Format::compactCount(1234, QLocale::c()), "1.2K");
  EXPECT_EQ(Format::compactCount(2000, QLocale::c()), "2K");
  EXPECT_EQ(Format::compactCount(45678, QLocale::c()), "46K");
  EXPECT_EQ(Format::compactCount(3400000, QLocale::c()), "3.4M");
}

}  // namespace
