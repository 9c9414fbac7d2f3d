#pragma once

#include <tallyfox/DiskTree.h>

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace tallyfox {

// What sets an entry apart in the list and on the chart beyond its size, and what its
// tooltip says about it.
//
// A snapshot records only that an entry is a symbolic link or a folder the scan did not
// enter: neither the link's target nor why the folder was left alone. Both are asked of the
// disk, and only for the one entry a tooltip is wanted for, never for every row.
namespace EntryNotes {

enum class Kind {
  file,
  folder,
  symlink,
  // A folder the scan chose not to enter: it reads as empty although it need not be. A cloud
  // folder that was not entered is a plain folder here; its own mark says why.
  notScanned,
};

Kind kindOf(const DiskTree& tree, NodeId node);

// The target a link at `path` (exact bytes) names, as stored in the link; nothing when the
// path is no longer a link or cannot be read.
std::optional<QByteArray> linkTarget(const QByteArray& path);

enum class SkipReason {
  // A mount point, or on another device than its parent: a whole scan stays on one file
  // system.
  otherFileSystem,
  // On the same file system: left out by the scan's ignore list or skipped names.
  skipped,
  // Gone, or unreadable now (a snapshot of another machine): the reason cannot be told.
  unknown,
};

SkipReason skipReasonOf(const QByteArray& path);

// The short word the row's badge and the chart's centre show for a kind; empty for plain
// files and folders.
QString badge(Kind kind);

// The tooltip for a node: a link's target, why a folder was not scanned; empty for every
// other entry. Reads the disk for links and skipped folders.
QString tooltip(const DiskTree& tree, NodeId node);

// The children of `folder` that the scan did not enter. They hold no bytes, so they come
// last among the children, and the walk stops at the first child from the end that holds
// any: cheap whatever the folder's size.
std::vector<NodeId> notScannedChildren(const DiskTree& tree, NodeId folder);
// What the chart's centre says about them ("3 folders not scanned"); empty for none.
QString notScannedSummary(std::size_t count);
// The centre's tooltip: the first `limit` of them by name with why each was not scanned.
QString notScannedTooltip(const DiskTree& tree, const std::vector<NodeId>& folders, std::size_t limit = 6);

}  // namespace EntryNotes
}  // namespace tallyfox
