#pragma once

#include "model/BrowserModel.h"
#include "model/EntryActions.h"

#include <QByteArray>
#include <QPointF>
#include <QPointer>

#include <functional>
#include <optional>

class QMenu;
class QMimeData;
class QMouseEvent;
class QWidget;

namespace tallyfox {

// A context menu from the table of entry actions: the items `which` offers for the target,
// divided in groups; an item that cannot be used now is disabled, with the reason as its
// tooltip where there is one.
void fillMenu(QMenu& menu, EntryActions::Menu which, const EntryTarget& target);

// The context menu of an entry (a list row or a chart segment): what can be done to it.
void fillEntryMenu(QMenu& menu, BrowserModel& browser, NodeId node);

// The context menu of a folder path (a breadcrumb): the folder on disk, and with its node
// what a window can do with that folder of the snapshot.
void fillFolderPathMenu(QMenu& menu, BrowserModel& browser, const QByteArray& path,
                        std::optional<NodeId> node);

// Turns a left press on an entry into a drag of its file once the pointer has moved more than
// 5 pixels; until then the press is an ordinary click, which its view runs on release. Both
// the list and the chart use one.
class DragOut {
 public:
  // How a drag starts; tests replace it, since a real drag runs its own event loop.
  using Start = std::function<void(QWidget* source, QMimeData* data, const QByteArray& path)>;

  explicit DragOut(BrowserModel* browser);

  void press(QPointF position, std::optional<NodeId> node);
  // True when this move began a drag: the press is spent and no click follows.
  bool move(QWidget* source, const QMouseEvent& event);
  // The node the press was on when it is still a click, and forgets it.
  std::optional<NodeId> release();
  void cancel() { node_.reset(); }

  void setStart(Start start) { start_ = std::move(start); }
  // What the desktop receives: the file's URI (exact bytes), and its path as text.
  static QMimeData* mimeData(const QByteArray& path);

 private:
  QPointer<BrowserModel> browser_;
  std::optional<NodeId> node_;
  QPointF position_;
  Start start_;
};

}  // namespace tallyfox
