#pragma once

#include <tallyfox/DiskTree.h>

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace tallyfox {

class BrowserModel;

// What the last moves to the Trash, or the last emptying, came to: the line under the list.
struct TrashResult {
  // Items moved and their size, added up over consecutive moves until the Trash is emptied.
  int count = 0;
  std::uint64_t bytes = 0;
  // "name: reason", one per item that stayed where it was.
  QStringList failures;
  // This reports emptying the Trash; count and bytes are then what it freed. Its failures
  // are then the trash folders left alone, or the one line of an emptying that failed.
  bool emptied = false;
  // This reports deleting items for good that no trash took; count and bytes are what went.
  bool permanent = false;
  bool operator==(const TrashResult&) const = default;
};

// A window's delete list: files and folders the user collects while browsing, reviews,
// copies or saves, and finally moves to the Trash; and emptying the Trash. The snapshot
// never changes: what went to the Trash is taken out of the window's view through the size
// overlay, so every size above it drops at once. The list is mirrored into a text file
// after every change, for other tools to read.
//
// Lives on the main thread with its browser model, which owns it.
class DeleteList : public QObject {
  Q_OBJECT

 public:
  enum class ListStyle { onePerLine, shellQuoted };

  explicit DeleteList(BrowserModel& browser);
  ~DeleteList() override;

  // ---- The list

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

  // ---- Exporting it

  void copyMarkedPaths(ListStyle style);
  // Asks the window where to save "delete-list.txt".
  void saveMarkedList();
  // "$XDG_DATA_HOME/tallyfox/delete-list.txt" (by default below ~/.local/share), where the
  // list is mirrored; empty when there is no home folder, and then nothing is written.
  static std::filesystem::path deleteListFile();
  // The mirror's contents: one path per line (exact bytes), each ending in a line feed. A
  // path with a line feed in it is left out: its lines would name other paths.
  QByteArray listText() const;
  // Shell words for `path`: single-quoted, with bytes that are not UTF-8 as $'\xNN'.
  static QString shellQuoted(const QByteArray& path);

  // The "Delete List" sheet.
  bool showingDeleteList() const { return showingDeleteList_; }
  void setShowingDeleteList(bool value);

  // ---- The Trash

  // Moves the list to the Trash; with an empty list, the selection. Beeps when there is
  // neither.
  void requestTrash();
  // Moves the top-level items to the Trash, one after another in list order, off the main
  // thread. An item already gone counts as moved.
  void trashMarked();
  bool isTrashing() const { return isTrashing_; }
  // Asks the window to confirm, then empties.
  void requestEmptyTrash();
  // Empties every trash of the user, off the main thread.
  void emptyTrash();
  bool isEmptyingTrash() const { return isEmptyingTrash_; }
  const std::optional<TrashResult>& lastTrash() const { return lastTrash_; }
  void dismissResult();

  // ---- Deleting for good what no trash takes

  // The listed items the last move to the Trash left where they were, while they are listed
  // and that result is shown.
  std::vector<NodeId> refusedByTrash() const;
  bool canDeletePermanently() const;
  // Asks the window first, naming how many items and how much; deletes them only when the
  // person confirms, off the main thread, one after another.
  void requestDeletePermanently();
  bool isDeleting() const { return isDeleting_; }
  // Moving, deleting or emptying is under way.
  bool isBusy() const { return isTrashing_ || isDeleting_ || isEmptyingTrash_; }

  // ---- What the bars say

  // "3 to delete · 1.2 GB".
  QString summary() const;
  // "Moved 2 items to the Trash · 40.0 kB", "Trash emptied · 40.0 kB freed"; empty when a
  // move moved nothing.
  static QString resultText(const TrashResult& result);
  // "2 couldn't be moved", "1 couldn't be deleted", "1 trash not emptied"; empty without
  // failures.
  static QString failuresText(const TrashResult& result);

  struct Writer;

 signals:
  void marksChanged();
  void showingDeleteListChanged();
  void isTrashingChanged();
  void isDeletingChanged();
  void isEmptyingTrashChanged();
  void lastTrashChanged();

 private:
  using Refused = std::vector<std::pair<NodeId, QString>>;

  void setTrashing(bool value);
  void setDeleting(bool value);
  void setEmptyingTrash(bool value);
  void setLastTrash(std::optional<TrashResult> value);
  void finishTrashing(const std::vector<NodeId>& trashed, const Refused& refused, const QStringList& unsafe);
  // Deletes the nodes for good; only ever called with the person's confirmation.
  void deletePermanently(const std::vector<NodeId>& nodes);
  void finishDeleting(const std::vector<NodeId>& deleted, const Refused& stayed);
  // Takes what went out of the window's view and off the list; their size before it went.
  std::uint64_t takeOut(const std::vector<NodeId>& gone);
  // Drops listed ids that are no longer shown.
  void forgetHidden();
  // The list changed: the mirror file is rewritten and views hear of it.
  void listChanged();
  void writeListFile();

  BrowserModel& browser_;
  std::vector<NodeId> markedOrder_;
  QSet<NodeId> markedSet_;
  bool showingDeleteList_ = false;
  bool isTrashing_ = false;
  bool isDeleting_ = false;
  bool isEmptyingTrash_ = false;
  std::optional<TrashResult> lastTrash_;
  // The items behind the failures of `lastTrash_`, when it reports a move or a deletion,
  // each with its line of the failures.
  Refused refused_;
  std::shared_ptr<Writer> writer_;
};

}  // namespace tallyfox
