#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/DuplicateFinder.h>

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tallyfox {

class BrowserModel;

// One search for identical files below a folder of a snapshot, its groups, what the user
// chose among them and what replacing them by clones came to. Lives on the main thread;
// the search and the replacements run in the thread pool and report back here only while
// this object lives. Every setter notifies only on a real change (changed()).
class DuplicatesState : public QObject {
  Q_OBJECT

 public:
  struct Phase {
    enum class Kind { finding, ready, failed };
    Kind kind = Kind::finding;
    QString message;  // for failed
    static Phase finding() { return {}; }
    static Phase ready() { return {Kind::ready, {}}; }
    static Phase failed(QString message) { return {Kind::failed, std::move(message)}; }
    bool operator==(const Phase&) const = default;
  };

  struct GroupStatus {
    // pending: its turn in a replacement run is running or still to come.
    enum class Kind { replaced, failed, pending };
    Kind kind = Kind::pending;
    std::uint64_t bytes = 0;  // freed, for replaced
    QString message;          // for failed: the copy's file name, ": ", what went wrong
    static GroupStatus replaced(std::uint64_t bytes) { return {Kind::replaced, bytes, {}}; }
    static GroupStatus failed(QString message) { return {Kind::failed, 0, std::move(message)}; }
    static GroupStatus pending() { return {}; }
    bool operator==(const GroupStatus&) const = default;
  };

  using Group = DuplicateFinder::Group;
  // Called for each copy replaced by a clone, with its path.
  using ReplacedCallback = std::function<void(const std::string& path)>;

  // How often the finder's progress is copied into progress().
  static constexpr int progressIntervalMs = 150;
  // The finder's settings: code bundles are searched and only hidden from the list.
  static DuplicateFinder::Options finderOptions();

  // snapshotsFolder: where the clone log is written.
  DuplicatesState(NodeId scope, std::string scopePath, std::filesystem::path snapshotsFolder,
                  QObject* parent = nullptr);
  // Stops a search still running; a replacement run finishes the group it is on.
  ~DuplicatesState() override;

  NodeId scope() const { return scope_; }
  // Canonical, exact bytes.
  const std::string& scopePath() const { return scopePath_; }

  // Starts the search over the scope folder of `tree`.
  void find(DiskTreePtr tree);
  // Stops the search; its result is dropped and the phase stays finding.
  void cancel();
  bool isCancelled() const { return cancelled_; }

  // Replaces the extra copies of selectedVisible() groups by clones of their first copy, one
  // group at a time. Nothing when there are none or a run is going. Where the file system
  // cannot share storage, nothing is tried and refusal() says so.
  void applySelected(ReplacedCallback onReplaced);

  const Phase& phase() const { return phase_; }
  const DuplicateFinder::Progress& progress() const { return progress_; }
  const std::vector<Group>& groups() const { return groups_; }
  // False until the search has asked the scope's file system, and where it cannot share.
  bool canShareStorage() const { return canShareStorage_; }
  bool includeApps() const { return includeApps_; }
  void setIncludeApps(bool value);
  const QSet<int>& selected() const { return selected_; }
  void setSelected(int index, bool on);
  const QSet<int>& expanded() const { return expanded_; }
  void setExpanded(int index, bool on);
  const std::map<int, GroupStatus>& status() const { return status_; }
  std::optional<GroupStatus> statusOf(int index) const;
  bool isApplying() const { return isApplying_; }
  int appliedCount() const { return appliedCount_; }
  std::uint64_t freed() const { return freed_; }
  // Why replacing was refused; empty when it was not.
  const QString& refusal() const { return refusal_; }
  // Searching or replacing: work that an update must not interrupt.
  bool isBusy() const { return (phase_.kind == Phase::Kind::finding && !cancelled_) || isApplying_; }

  // Derived.
  bool isVisible(int index) const;
  std::vector<int> visibleGroups() const;
  // Visible, selected and not yet decided, in group order: what the actions act on.
  std::vector<int> selectedVisible() const;
  // What replacing every visible undecided group would free, selected or not.
  std::uint64_t reclaimable() const;

  // ---- What the window says

  // "Duplicates in ~/Projects".
  QString title() const;
  // "hashing… 1,234 of 5,678".
  QString progressLine() const;
  // "1.2 GB could be shared as clones · 3 selected"; where the file system cannot share
  // storage, what deleting the extra copies would free: "Deleting the 4 extra copies would
  // free 1.2 GB · 3 selected".
  QString summary() const;
  // "4 copies replaced · 800 MB freed"; empty before any run.
  QString appliedLine() const;
  // "3 × 1.5 MB".
  QString groupTitle(int index) const;

 signals:
  void changed();
  // Only the progress line moved.
  void progressChanged();

 private:
  struct Search;
  void setPhase(Phase value);
  void finishSearch(std::vector<Group> groups, bool canShare);
  void pollProgress();
  void applyNext(std::vector<int> work, ReplacedCallback onReplaced);

  const NodeId scope_;
  const std::string scopePath_;
  const std::filesystem::path snapshotsFolder_;
  std::shared_ptr<Search> search_;
  QTimer poll_;
  bool cancelled_ = false;

  Phase phase_;
  DuplicateFinder::Progress progress_;
  std::vector<Group> groups_;
  // The folder searched, exact bytes: replacements never leave it.
  std::string searchedPath_;
  bool canShareStorage_ = false;
  bool includeApps_ = false;
  QSet<int> selected_;
  QSet<int> expanded_;
  std::map<int, GroupStatus> status_;
  bool isApplying_ = false;
  int appliedCount_ = 0;
  std::uint64_t freed_ = 0;
  QString refusal_;
};

// A window's duplicates view: which search it shows, and the actions that reach the rest
// of the window (the size overlay, the delete list). A view closed while its replacements
// run keeps that state here until they end, so that the window still counts as busy.
class Duplicates : public QObject {
  Q_OBJECT

 public:
  explicit Duplicates(BrowserModel& browser);
  ~Duplicates() override;

  // The state the view shows; null while no view is open.
  DuplicatesState* state() const { return state_; }
  bool isOpen() const { return state_ != nullptr; }

  // Opens the view on `node` (the current folder when absent) and starts searching it.
  // Needs a loaded tree; a folder of it, not a file.
  void findDuplicates(std::optional<NodeId> node = std::nullopt);
  // Replaces the selected groups' extra copies; each replaced copy's size leaves the
  // window's sizes, as after a move to the Trash, but the copy stays listed.
  void applyDuplicates();
  // Puts every copy but the first of the selected groups on the delete list.
  void addDuplicateExtrasToDeleteList();
  // "Done", Escape, or leaving the view: a search stops, a replacement run goes on.
  void close();

  // A search or a replacement run of this window is going, shown or not.
  bool isBusy() const;

 signals:
  void stateChanged();
  // The shown state changed inside (phase, progress, selection, status ...).
  void contentChanged();
  void busyChanged();

 private:
  void retire(DuplicatesState* state);

  BrowserModel& browser_;
  QPointer<DuplicatesState> state_;
  // Closed states whose replacements still run.
  std::vector<QPointer<DuplicatesState>> retired_;
};

}  // namespace tallyfox
