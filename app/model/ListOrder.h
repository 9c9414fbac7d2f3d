#pragma once

#include "model/CountMode.h"
#include "model/SizeOverlay.h"

#include <tallyfox/DiskTree.h>

#include <QObject>

#include <vector>

namespace tallyfox {

class BrowserModel;

// How the list orders a folder's children, and which optional columns it shows. Set from
// the list's header and remembered in the preferences for every window; the chart keeps its
// own order (largest first) whatever the list shows.
class ListOrder : public QObject {
  Q_OBJECT

 public:
  enum class Key { size, name, entries, modified };
  struct Order {
    Key key = Key::size;
    bool ascending = false;
    bool operator==(const Order&) const = default;
  };
  enum class Column { entries, modified };

  static constexpr const char* orderKey = "listOrder";
  static constexpr const char* columnsKey = "listColumns";

  explicit ListOrder(BrowserModel& browser);

  const Order& order() const { return order_; }
  void setOrder(Order value);
  // A header click: the key shown now turns around; another starts the way people look for
  // it first (names A to Z, the rest largest, most or newest first).
  void sortBy(Key key);
  bool showsColumn(Column column) const;
  void setShowsColumn(Column column, bool shown);

  // Puts `ids`, children of one folder largest first (as the overlay lists them), into the
  // list's order. Size is the amount the window shows (bytes, entries, or those of old files);
  // by bytes the given order is kept, so it costs next to nothing. Equal values go by name
  // in either direction; names compare without regard to ASCII case.
  void arrange(std::vector<NodeId>& ids, const DiskTree& tree, const CountMode::Amounts& amounts,
               const SizeOverlay& overlay) const;

 signals:
  void orderChanged();
  void columnsChanged();

 private:
  void save() const;

  BrowserModel& browser_;
  Order order_;
  bool showsEntries_ = false;
  bool showsModified_ = false;
};

}  // namespace tallyfox
