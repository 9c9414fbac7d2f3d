#include "model/ListOrder.h"

#include "model/BrowserModel.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>

#include <algorithm>
#include <functional>
#include <string_view>

namespace tallyfox {

namespace {

constexpr const char* keyNames[] = {"size", "name", "entries", "modified"};

unsigned char folded(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// Names by their bytes with ASCII case folded, then by the bytes themselves, so that the
// order is total and the same in every run.
bool nameBefore(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t k = 0; k < common; ++k) {
    const unsigned char x = folded(a[k]), y = folded(b[k]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

// A name's first sixteen bytes, case folded, as two numbers that compare as the bytes do;
// shorter names are padded with zeros, so a name sorts before its longer extensions.
// Different keys order two names as `nameBefore` does; equal keys need the whole names.
struct NameKey {
  std::uint64_t high = 0, low = 0;
  std::span<const std::uint8_t> name;
  std::uint32_t position = 0;  // in the tree's order, which breaks ties
};

NameKey nameKey(std::span<const std::uint8_t> name, std::uint32_t position) {
  NameKey key{0, 0, name, position};
  for (std::size_t k = 0; k < 16; ++k) {
    const std::uint64_t byte = k < name.size() ? folded(name[k]) : 0;
    (k < 8 ? key.high : key.low) |= byte << (8 * (7 - k % 8));
  }
  return key;
}

// A million names compared through the tree's name column on every step took most of a
// second: the keys are read once, and most comparisons end on them without touching a name.
void sortByName(std::vector<NodeId>& ids, const DiskTree& tree, bool ascending) {
  std::vector<NameKey> keys;
  keys.reserve(ids.size());
  for (std::size_t k = 0; k < ids.size(); ++k)
    keys.push_back(nameKey(tree.nameView(ids[k]), std::uint32_t(k)));
  const auto before = [](const NameKey& a, const NameKey& b) {
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    return nameBefore(a.name, b.name);
  };
  std::sort(keys.begin(), keys.end(), [&](const NameKey& a, const NameKey& b) {
    if (ascending ? before(a, b) : before(b, a)) return true;
    if (ascending ? before(b, a) : before(a, b)) return false;
    return a.position < b.position;
  });
  std::vector<NodeId> sorted;
  sorted.reserve(ids.size());
  for (const NameKey& key : keys) sorted.push_back(ids[key.position]);
  ids = std::move(sorted);
}

// Each run of equal values in `ids` put in name order, so that turning a sort around does not
// also turn its ties around. Costs next to nothing where values rarely tie.
void nameOrderTies(std::vector<NodeId>& ids, const DiskTree& tree,
                   const std::function<std::uint64_t(NodeId)>& value) {
  for (std::size_t start = 0; start < ids.size();) {
    const std::uint64_t first = value(ids[start]);
    std::size_t end = start + 1;
    while (end < ids.size() && value(ids[end]) == first) ++end;
    if (end - start > 1) {
      std::vector<NodeId> run(ids.begin() + std::ptrdiff_t(start), ids.begin() + std::ptrdiff_t(end));
      sortByName(run, tree, true);
      std::copy(run.begin(), run.end(), ids.begin() + std::ptrdiff_t(start));
    }
    start = end;
  }
}

// By value(id) either way, equal values by name. The values are read once; names only where
// they tie.
void sortByValue(std::vector<NodeId>& ids, const DiskTree& tree, bool ascending,
                 const std::function<std::uint64_t(NodeId)>& value) {
  std::vector<std::pair<std::uint64_t, NodeId>> keyed;
  keyed.reserve(ids.size());
  for (const NodeId id : ids) keyed.push_back({value(id), id});
  std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
    return ascending ? a.first < b.first : a.first > b.first;
  });
  for (std::size_t k = 0; k < ids.size(); ++k) ids[k] = keyed[k].second;
  nameOrderTies(ids, tree, value);
}

// `ids` come largest first already: turned around when ascending, ties then put in name order.
void orderTiesByName(std::vector<NodeId>& ids, const DiskTree& tree, bool ascending,
                     const std::function<std::uint64_t(NodeId)>& value) {
  if (ascending) std::reverse(ids.begin(), ids.end());
  nameOrderTies(ids, tree, value);
}

}  // namespace

ListOrder::ListOrder(BrowserModel& browser) : QObject(&browser), browser_(browser) {
  const Settings* settings = browser.services().settings;
  if (!settings || !settings->store()) return;
  const Preferences& store = *settings->store();
  if (const auto saved = store.get(orderKey); saved && saved->is_object()) {
    const auto key = saved->find("key");
    for (std::size_t k = 0; key != saved->end() && key->is_string() && k < std::size(keyNames); ++k)
      if (*key == keyNames[k]) order_.key = Key(k);
    const auto ascending = saved->find("ascending");
    if (ascending != saved->end() && ascending->is_boolean()) order_.ascending = ascending->get<bool>();
  }
  if (const auto saved = store.get(columnsKey); saved && saved->is_array())
    for (const auto& column : *saved) {
      showsEntries_ = showsEntries_ || column == "entries";
      showsModified_ = showsModified_ || column == "modified";
    }
}

void ListOrder::setOrder(Order value) {
  if (order_ == value) return;
  order_ = value;
  save();
  emit orderChanged();
}

void ListOrder::sortBy(Key key) {
  if (key == order_.key) {
    setOrder({key, !order_.ascending});
    return;
  }
  setOrder({key, key == Key::name});
}

bool ListOrder::showsColumn(Column column) const {
  return column == Column::entries ? showsEntries_ : showsModified_;
}

void ListOrder::setShowsColumn(Column column, bool shown) {
  bool& flag = column == Column::entries ? showsEntries_ : showsModified_;
  if (flag == shown) return;
  flag = shown;
  save();
  emit columnsChanged();
}

void ListOrder::save() const {
  const Settings* settings = browser_.services().settings;
  if (!settings || !settings->store()) return;
  nlohmann::json columns = nlohmann::json::array();
  if (showsEntries_) columns.push_back("entries");
  if (showsModified_) columns.push_back("modified");
  // The store is its file's name: a copy writes the same file.
  Preferences store = *settings->store();
  try {
    store.set(orderKey, {{"key", keyNames[int(order_.key)]}, {"ascending", order_.ascending}});
    store.set(columnsKey, columns);
  } catch (const std::exception&) {
    // A file that cannot be written, or was refused: the window keeps the order all the same.
  }
}

void ListOrder::arrange(std::vector<NodeId>& ids, const DiskTree& tree, const CountMode::Amounts& amounts,
                        const SizeOverlay& overlay) const {
  const bool ascending = order_.ascending;
  switch (order_.key) {
    case Key::size:
      // The size column shows what the window measures, and sorts by that.
      if (amounts.isPlainSize()) {
        // The children come largest first already (re-sorted by the overlay after trashing).
        orderTiesByName(ids, tree, ascending, [&](NodeId id) { return overlay.size(id, tree); });
        return;
      }
      sortByValue(ids, tree, ascending, [&](NodeId id) { return amounts.of(id, tree, overlay); });
      return;
    case Key::name:
      sortByName(ids, tree, ascending);
      return;
    case Key::entries:
      sortByValue(ids, tree, ascending,
                  [&](NodeId id) { return std::uint64_t(tree.entryCount()[std::size_t(id)]); });
      return;
    case Key::modified:
      sortByValue(ids, tree, ascending,
                  [&](NodeId id) { return std::uint64_t(tree.mtime()[std::size_t(id)]); });
      return;
  }
}

}  // namespace tallyfox
