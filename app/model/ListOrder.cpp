#include "model/ListOrder.h"

#include "model/BrowserModel.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>

#include <algorithm>
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

// Stable, so that equal values keep the tree's order (largest first).
void sortByColumn(std::vector<NodeId>& ids, std::span<const std::uint32_t> column, bool ascending) {
  std::stable_sort(ids.begin(), ids.end(), [&](NodeId a, NodeId b) {
    const auto x = column[std::size_t(a)], y = column[std::size_t(b)];
    return ascending ? x < y : x > y;
  });
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

void ListOrder::arrange(std::vector<NodeId>& ids, const DiskTree& tree) const {
  const bool ascending = order_.ascending;
  switch (order_.key) {
    case Key::size:
      // The children come largest first already (re-sorted by the overlay after trashing).
      if (ascending) std::reverse(ids.begin(), ids.end());
      return;
    case Key::name:
      std::stable_sort(ids.begin(), ids.end(), [&](NodeId a, NodeId b) {
        return ascending ? nameBefore(tree.nameView(a), tree.nameView(b))
                         : nameBefore(tree.nameView(b), tree.nameView(a));
      });
      return;
    case Key::entries:
      sortByColumn(ids, tree.entryCount(), ascending);
      return;
    case Key::modified:
      sortByColumn(ids, tree.mtime(), ascending);
      return;
  }
}

}  // namespace tallyfox
