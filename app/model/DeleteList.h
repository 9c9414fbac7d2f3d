#pragma once

#include <tallyfox/DiskTree.h>

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace tallyfox {

class BrowserModel;
class DeleteListExport;
class TrashWork;

// A window's delete list: files and folders the user collects while browsing, reviews,
// copies or saves (its export), and finally moves to the Trash (its Trash work). The
// snapshot never changes: what went to the Trash is taken out of the window's view through
// the size overlay, so every size above it drops at once.
//
// Lives on the main thread with its browser model, which owns it.
class DeleteList : public QObject {
  Q_OBJECT

 public:
  explicit DeleteList(BrowserModel& browser);
  ~DeleteList() override;

  // In the order the items were added; never the root. An item inside a listed folder may
  // be listed too: it stays here, but is covered by its folder everywhere else.
  const std::vector<NodeId>& markedOrder() const { return markedOrder_; }
  bool isMarked(NodeId node) const { return markedSet_.contains(node); }
  bool isEmpty() const { return markedOrder_.empty(); }
  // Adds the node (the selection when absent) or takes it off again.
  void toggleMark(std::optional<NodeId> node = std::nullopt);
  // A strict ancestor is listed.
  bool isInsideMarked(NodeId node) const;
  // The node or an ancestor went to the Trash.
  bool isHiddenByTrash(NodeId node) const;
  // The listed items not covered by a listed folder, in list order: what is counted,
  // totalled, written out and trashed.
  std::vector<NodeId> topLevel() const;
  // Their paths: as shown, and with the names' exact bytes.
  QStringList markedPaths() const;
  std::vector<QByteArray> markedFilePaths() const;
  std::uint64_t markedTotal() const;
  void clearMarks();
  // The list a window had when its snapshot was last open, in its order. The mirror file is
  // left as it is: it follows what the user does, not what a window reopens with.
  void restoreMarks(std::vector<NodeId> nodes);
  // Takes off the list what is no longer shown: it went to the Trash or was deleted.
  void forgetHidden();

  // The "Delete List" sheet.
  bool showingDeleteList() const { return showingDeleteList_; }
  void setShowingDeleteList(bool value);

  // "3 to delete · 1.2 GB".
  QString summary() const;

  // Copying, saving and mirroring the list.
  DeleteListExport& exporting() const { return *exporting_; }
  // Moving it to the Trash, deleting for good what no trash takes, and emptying the Trash.
  TrashWork& trash() const { return *trash_; }

 signals:
  void marksChanged();
  void showingDeleteListChanged();

 private:
  // The list changed: the mirror file is rewritten and views hear of it.
  void listChanged();

  BrowserModel& browser_;
  std::vector<NodeId> markedOrder_;
  QSet<NodeId> markedSet_;
  bool showingDeleteList_ = false;
  DeleteListExport* exporting_;
  TrashWork* trash_;
};

}  // namespace tallyfox
