#include "ModelTestSupport.h"
#include "RandomTree.h"
#include "model/ListOrder.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace tallyfox;

namespace {

std::string lowerAscii(std::span<const std::uint8_t> name) {
  std::string text(reinterpret_cast<const char*>(name.data()), name.size());
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

// A window on a random tree, with settings in a preferences file of its own.
class ListOrderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 random(4242);
    testsupport::randomTree(random, 3000, "/random")->write(file_);
    model_ = open();
  }

  std::unique_ptr<BrowserModel> open() {
    Services services;
    services.settings = &settings_;
    auto model = std::make_unique<BrowserModel>(file_, services);
    model->load();
    testsupport::waitUntilLoaded(*model);
    model->navigate(DiskTree::root);
    return model;
  }

  // The top rows' nodes, as the list shows them.
  std::vector<NodeId> shown() const {
    std::vector<NodeId> ids;
    for (const auto& row : model_->rows()) ids.push_back(row.node);
    return ids;
  }

  testsupport::ScopedHome home_;
  testsupport::TempDir dir_;
  std::filesystem::path file_ = dir_ / "random.tfsnap";
  Settings settings_{Preferences(home_.path() / "preferences.json")};
  std::unique_ptr<BrowserModel> model_;
};

}  // namespace

// Equal values, which a random tree has plenty of, go by name whichever way the list runs.
TEST_F(ListOrderTest, EachKeySortsTheListBothWaysAndTheChartKeepsItsOrder) {
  const DiskTree& tree = *model_->tree();
  const std::vector<NodeId> stored = model_->children(DiskTree::root);
  ASSERT_GT(stored.size(), 10u);
  using Key = ListOrder::Key;
  const auto value = [&](Key key, NodeId id) -> std::tuple<std::string, std::uint64_t> {
    switch (key) {
      case Key::name:
        return {lowerAscii(tree.nameView(id)), 0};
      case Key::entries:
        return {"", tree.entryCount()[std::size_t(id)]};
      case Key::modified:
        return {"", tree.mtime()[std::size_t(id)]};
      case Key::size:
        break;
    }
    return {"", tree.sizeOf(id)};
  };
  for (const Key key : {Key::name, Key::entries, Key::modified, Key::size}) {
    for (const bool ascending : {true, false}) {
      model_->listOrder().setOrder({key, ascending});
      const std::vector<NodeId> rows = shown();
      EXPECT_TRUE(std::is_permutation(rows.begin(), rows.end(), stored.begin(), stored.end()));
      for (std::size_t k = 1; k < rows.size(); ++k) {
        const auto before = value(key, rows[k - 1]), after = value(key, rows[k]);
        EXPECT_TRUE(ascending ? before <= after : before >= after) << int(key) << " at row " << k;
        if (key != Key::name && before == after) {
          EXPECT_LE(lowerAscii(tree.nameView(rows[k - 1])), lowerAscii(tree.nameView(rows[k])))
              << int(key) << (ascending ? " up" : " down") << ", a tie at row " << k;
        }
      }
      // The chart and the bars' largest sibling go by the tree's own order.
      EXPECT_EQ(model_->children(DiskTree::root), stored);
    }
  }
}

TEST_F(ListOrderTest, AHeaderClickTurnsTheOrderAroundAndWindowsRememberIt) {
  ListOrder& order = model_->listOrder();
  EXPECT_EQ(order.order(), (ListOrder::Order{ListOrder::Key::size, false}));
  order.sortBy(ListOrder::Key::name);
  EXPECT_EQ(order.order(), (ListOrder::Order{ListOrder::Key::name, true}));
  order.sortBy(ListOrder::Key::name);
  EXPECT_EQ(order.order(), (ListOrder::Order{ListOrder::Key::name, false}));
  order.sortBy(ListOrder::Key::modified);
  EXPECT_EQ(order.order(), (ListOrder::Order{ListOrder::Key::modified, false}));
  order.setShowsColumn(ListOrder::Column::entries, true);

  // Selection moves walk the sorted rows.
  model_->selectFirst();
  EXPECT_EQ(model_->selection(), shown().front());

  const auto next = open();
  EXPECT_EQ(next->listOrder().order(), (ListOrder::Order{ListOrder::Key::modified, false}));
  EXPECT_TRUE(next->listOrder().showsColumn(ListOrder::Column::entries));
  EXPECT_FALSE(next->listOrder().showsColumn(ListOrder::Column::modified));
}

// Names that share long beginnings, differ only in case, extend one another or hold bytes
// above ASCII: the list's order by name is exactly a plain sort of the folded names.
TEST_F(ListOrderTest, SortingByNameEqualsAPlainSortOfTheNames) {
  const std::vector<std::string> names = {"item1234567890abcdef.bin",
                                          "item1234567890abcdeF.bin",
                                          "ITEM1234567890ABCDEF.bin",
                                          "item1234567890abcdef",
                                          "item1234567890abcde",
                                          "item1234567890abcdef.bim",
                                          "Item12345678",
                                          "item12345678",
                                          "item1234567",
                                          "a",
                                          "A",
                                          "b",
                                          "\xc3\xa9t\xc3\xa9",
                                          "\xff\xfe",
                                          "z\xff",
                                          "Zebra",
                                          "zebra",
                                          "item1234567890abcdef.bin.old"};
  std::vector<testsupport::Node> nodes{{-1, ""}};
  for (std::size_t k = 0; k < names.size(); ++k) nodes.push_back({0, names[k], 1000 - k});
  testsupport::writeSnapshot(file_, nodes);
  model_ = open();
  const DiskTree& tree = *model_->tree();
  const std::vector<NodeId> stored = shown();
  ASSERT_EQ(stored.size(), names.size());
  const auto key = [&](NodeId id) {
    const auto bytes = tree.nameView(id);
    return std::pair(lowerAscii(bytes),
                     std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  };
  for (const bool ascending : {true, false}) {
    std::vector<NodeId> expected = stored;
    std::stable_sort(expected.begin(), expected.end(),
                     [&](NodeId a, NodeId b) { return ascending ? key(a) < key(b) : key(b) < key(a); });
    model_->listOrder().setOrder({ListOrder::Key::name, ascending});
    EXPECT_EQ(shown(), expected) << (ascending ? "A to Z" : "Z to A");
  }
}
