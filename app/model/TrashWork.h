#pragma once

#include <tallyfox/DiskTree.h>

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tallyfox {

class BrowserModel;
class DeleteList;

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

// The delete list's way out: moving its items to the Trash, deleting for good what no trash
// takes, and emptying the Trash, each off the main thread, one item after another.
class TrashWork : public QObject {
  Q_OBJECT

 public:
  TrashWork(BrowserModel& browser, DeleteList& list);

  // Moves the list to the Trash; with an empty list, the selection. Beeps when there is
  // neither.
  void requestTrash();
  // Moves the list's top-level items to the Trash, in list order. An item already gone
  // counts as moved.
  void trashMarked();
  bool isTrashing() const { return isTrashing_; }
  // Asks the window to confirm, then empties.
  void requestEmptyTrash();
  // Empties every trash of the user.
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
  // person confirms.
  void requestDeletePermanently();
  bool isDeleting() const { return isDeleting_; }
  // Moving, deleting or emptying is under way.
  bool isBusy() const { return isTrashing_ || isDeleting_ || isEmptyingTrash_; }

  // "Moved 2 items to the Trash · 40.0 kB", "Trash emptied · 40.0 kB freed"; empty when a
  // move moved nothing.
  static QString resultText(const TrashResult& result);
  // "2 couldn't be moved", "1 couldn't be deleted", "1 trash not emptied"; empty without
  // failures.
  static QString failuresText(const TrashResult& result);

  using Refused = std::vector<std::pair<NodeId, QString>>;
  // What a pass over the items came to: what went, and what stayed with why.
  struct Moved {
    std::vector<NodeId> gone;
    Refused stayed;
  };

 signals:
  void isTrashingChanged();
  void isDeletingChanged();
  void isEmptyingTrashChanged();
  void lastTrashChanged();

 private:
  void setTrashing(bool value);
  void setDeleting(bool value);
  void setEmptyingTrash(bool value);
  void setLastTrash(std::optional<TrashResult> value);
  void finishTrashing(const Moved& moved, const QStringList& unsafe);
  // Deletes the nodes for good; only ever called with the person's confirmation.
  void deletePermanently(const std::vector<NodeId>& nodes);
  void finishDeleting(const Moved& moved);
  // Takes what went out of the window's view and off the list; their size before it went.
  std::uint64_t takeOut(const std::vector<NodeId>& gone);

  BrowserModel& browser_;
  DeleteList& list_;
  bool isTrashing_ = false;
  bool isDeleting_ = false;
  bool isEmptyingTrash_ = false;
  std::optional<TrashResult> lastTrash_;
  // The items behind the failures of `lastTrash_`, when it reports a move or a deletion,
  // each with its line of the failures.
  Refused refused_;
};

}  // namespace tallyfox
