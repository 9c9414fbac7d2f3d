#pragma once

#include "platform/Desktop.h"

#include <tallyfox/DiskTree.h>

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace tallyfox {

class BrowserModel;

// What a context menu was opened on: an entry of a window's snapshot, a folder on disk that
// a window shows beside its snapshot (a crumb above the root), or a file apart from any
// window (a recent snapshot).
struct EntryTarget {
  // Weak: a menu may outlive its window, and then its actions do nothing.
  QPointer<BrowserModel> browser;
  std::optional<NodeId> node;
  // The path on disk, exact bytes. For an entry, as the window finds it: empty where the
  // window has no file to act on (a snapshot of another machine).
  QByteArray path;
  // The window's services, or those given for a file apart from any window.
  Desktop desktop;
  // Made for a window: once that window is gone, nothing is offered and nothing runs.
  bool ofWindow = false;

  static EntryTarget entry(BrowserModel& browser, NodeId node);
  // A folder on disk; `node` when it lies in the snapshot.
  static EntryTarget folder(BrowserModel& browser, const QByteArray& path, std::optional<NodeId> node);
  static EntryTarget file(const QByteArray& path, Desktop desktop);
};

// One thing a context menu offers for an entry, declared once: its text, when it is offered,
// when it can be used, and what it does. Every per-entry menu (the list's rows, the chart,
// the crumbs, the duplicates, the delete list, the largest files, the start window's recent
// snapshots) is built from this table, so that an action reads and acts the same wherever
// it is offered.
struct EntryAction {
  using Test = std::function<bool(const EntryTarget&)>;

  QString id{};
  QString title{};
  // A title that depends on the target ("Collapse", "Scan the Rest of docs"); `title` without.
  std::function<QString(const EntryTarget&)> titleFor{};
  // Whether the action applies to the target at all: what does not apply is left out, not
  // shown dead. Without it, always.
  Test isOffered{};
  // Whether it can be used now; an offered action that cannot is shown disabled.
  Test isEnabled{};
  // Acts on the file on this computer: disabled, saying why, in a window of a snapshot
  // scanned elsewhere.
  bool needsLocalFile = false;
  std::function<void(const EntryTarget&)> run{};
};

// One item of a menu as it stands for its target.
struct EntryMenuItem {
  const EntryAction* action = nullptr;
  QString title;
  bool enabled = true;
  // Why it is disabled, for the item's tooltip; empty when there is nothing to explain.
  QString whyDisabled;
  bool separatorBefore = false;
};

namespace EntryActions {

enum class Menu {
  entry,           // a list row or a chart segment
  folderPath,      // a crumb: a folder on disk, with its node when it lies in the snapshot
  duplicate,       // a path of a duplicates group
  deleteListItem,  // an item of the delete list
  largestFile,     // a row of the largest files
  recentSnapshot,  // a snapshot file in the start window
};

const std::vector<EntryAction>& all();
const EntryAction* find(const QString& id);
// The items `menu` offers for `target`, in order; a divider stands between groups.
std::vector<EntryMenuItem> items(Menu menu, const EntryTarget& target);
// Runs the action on the target when it is still offered and enabled; false otherwise.
bool run(const EntryAction& action, const EntryTarget& target);

}  // namespace EntryActions
}  // namespace tallyfox
