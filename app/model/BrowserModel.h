#pragma once

#include "model/LoadState.h"
#include "model/RecentSnapshot.h"
#include "model/Requests.h"
#include "model/Services.h"
#include "model/SizeOverlay.h"

#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotDiff.h>

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

class QTimer;

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace tallyfox {

class ComparisonModel;
class CountMode;
class DeleteList;
class Duplicates;
class FileActions;
class FileTypes;
class FolderHistory;
class LargestFiles;
class ListOrder;
class OutsideModel;
class PartialScans;
class PlaceMemory;
class SnapshotHold;
class SunburstChart;

using OptionalNode = std::optional<NodeId>;
using OptionalText = std::optional<QString>;
using NodeSet = QSet<NodeId>;

// The view model of one snapshot window: the loaded tree, the folder shown, the selection,
// expansion, filter and history. Lives on the main thread; every view of the window reads
// it and calls its operations. A setter notifies only when the value really changes.
//
// The model stores node ids only; rows, titles and paths are computed from the tree when
// asked. The operations are split by concern over several source files: loading and
// properties (BrowserModel.cpp), moves and history (BrowserNavigation.cpp), rows and
// selection moves (BrowserRows.cpp), titles, paths and file actions (BrowserFiles.cpp).
class BrowserModel : public QObject {
  Q_OBJECT
  Q_PROPERTY(tallyfox::LoadState state READ state NOTIFY stateChanged)
  Q_PROPERTY(tallyfox::DiskTreePtr tree READ tree NOTIFY treeChanged)
  Q_PROPERTY(qint32 current READ current WRITE setCurrent NOTIFY currentChanged)
  Q_PROPERTY(tallyfox::OptionalNode selection READ selection WRITE setSelection NOTIFY selectionChanged)
  Q_PROPERTY(QString filter READ filter WRITE setFilter NOTIFY filterChanged)
  Q_PROPERTY(bool isFiltering READ isFiltering WRITE setIsFiltering NOTIFY isFilteringChanged)
  Q_PROPERTY(QUrl previewURL READ previewURL WRITE setPreviewURL NOTIFY previewURLChanged)
  Q_PROPERTY(bool showHelp READ showHelp WRITE setShowHelp NOTIFY showHelpChanged)
  Q_PROPERTY(tallyfox::OptionalNode hovered READ hovered WRITE setHovered NOTIFY hoveredChanged)
  Q_PROPERTY(tallyfox::NodeSet expanded READ expanded WRITE setExpanded NOTIFY expandedChanged)

 public:
  // One line of the list: a node and its indentation below the current folder.
  struct Row {
    NodeId node = 0;
    int depth = 0;
    bool operator==(const Row&) const = default;
  };

  // Everything a row view paints, computed here so that views only draw.
  struct RowValues {
    NodeId node = 0;
    int depth = 0;
    int branchIndex = 0;
    // Bytes, or entries while the window counts them (CountMode).
    bool countsEntries = false;
    std::uint64_t size = 0;
    std::uint64_t parentSize = 0;
    std::uint64_t largestSibling = 1;
    bool isSelected = false;
    bool isExpandable = false;
    bool isExpanded = false;
    // While comparing: the node's change, and the largest change among its siblings, which
    // fills a whole bar.
    std::optional<SnapshotDiff::Entry> change;
    std::uint64_t largestChange = 1;
    // On the delete list itself, or inside a listed folder.
    enum class Mark { none, marked, inside };
    Mark mark = Mark::none;
  };

  static constexpr std::size_t historyLimit = 500;

  // What the loading task found out about the tree after the window had opened: counting
  // and checking go over every node, too long to do on the main thread or before showing.
  struct Health {
    std::uint64_t errorCount = 0;
    // The first structural fault of a damaged file; empty for a sound one.
    QString damage;
    // Another process cut the file short or rewrote it in place while the window had it open:
    // what the window shows may mix two files, and reads as empty where the file was cut.
    bool fileChanged = false;
    bool operator==(const Health&) const = default;
  };

  // How often an open window asks whether its file changed under it.
  static constexpr int changeCheckMilliseconds = 1000;

  // Does no I/O; load() reads the file.
  explicit BrowserModel(std::optional<std::filesystem::path> fileURL, Services services = {},
                        QObject* parent = nullptr);
  ~BrowserModel() override;

  // The name a window shows for a folder: its last component, or the volume name for "/".
  static QString displayName(const QString& path);

  // Loading. Reads the file in the thread pool; progress and the result come back to the
  // main thread only while the model lives.
  void load();

  // Navigation and history.
  void navigate(NodeId node, OptionalNode select = std::nullopt);
  void goUp();
  bool canGoUp() const;
  void goBack();
  void goForward();
  // Back with no history climbs a level, so it can act wherever Enclosing Folder can.
  bool canGoBack() const { return !backStack_.empty() || canGoUp(); }
  bool canGoForward() const { return !forwardStack_.empty(); }
  void enter();
  void click(NodeId node);
  // The root's only folder child, else the root: where a window starts and "~" returns.
  NodeId topFolder() const;
  void backToTop();

  // Expansion in place.
  bool isExpandable(NodeId node) const;
  void toggleExpanded(NodeId node);
  bool isDescendant(NodeId node, NodeId ancestor) const;
  void expandOrDescend();
  void collapseOrAscend();

  // Rows.
  std::vector<NodeId> children(NodeId node) const;
  // The children in the list's order (ListOrder); children() keeps the tree's, which the chart
  // and the largest sibling's bar go by.
  std::vector<NodeId> listChildren(NodeId node) const;
  std::vector<NodeId> visibleChildren() const;
  std::vector<Row> visibleRows() const;
  // The same rows, built once after each change they depend on: what the list shows and
  // what key moves walk, so that a key press on a folder of a million entries does not list
  // and filter it again.
  const std::vector<Row>& rows() const;
  RowValues rowValues(const Row& row) const;
  void move(int delta);
  void selectFirst();
  void selectLast();

  // Titles and paths; the actions on the files are files().
  QString windowTitle() const;
  QString windowSubtitle() const;
  // The node's path on disk, exact bytes: what every file action hands on. Nothing for a
  // path that does not lead to the node (EntryNames::hasPlainPath): a made-up name in the
  // snapshot ("..", "a/b") would send the action elsewhere, such as to the folder above.
  std::optional<QByteArray> filePath(OptionalNode node = std::nullopt) const;
  // The same for showing; a name that is not UTF-8 reads with replacement characters.
  std::optional<QString> path(OptionalNode node = std::nullopt) const;
  std::optional<QString> selectedPath() const { return path(); }
  QUrl currentFolderURL() const;
  void togglePreview(OptionalNode node = std::nullopt);
  // Shows another snapshot in this window's place: opens it and closes this document, unless
  // `keepCurrent`. The same file, also through a symbolic link, does nothing.
  void switchTo(const std::filesystem::path& file, bool keepCurrent);
  // The snapshots a window can switch to, newest first (reads the snapshots folder).
  std::vector<RecentSnapshot> switchCandidates() const;
  // Whether `file` is this window's own, symbolic links resolved.
  bool isOwnFile(const std::filesystem::path& file) const;
  // Asks the application for its start window.
  void requestNewScan() { emit newScanRequested(); }
  // Opens the filter (or keeps it open) and asks for the field's focus.
  void requestFilter();

  // What the model reaches outside itself, and the questions it asks its window.
  const Services& services() const { return services_; }
  Requests& requests() { return requests_; }

  // The comparison with an earlier snapshot; while one is shown, the rows are the changed
  // children.
  ComparisonModel& comparing() const { return *comparing_; }
  // The delete list, the Trash and what went there.
  DeleteList& deleteList() const { return *deleteList_; }
  // Where the window was in this snapshot, saved on every move and restored on opening.
  PlaceMemory& placeMemory() const { return *placeMemory_; }
  // The duplicates view: a search below a folder and replacing copies by clones.
  Duplicates& duplicates() const { return *duplicates_; }
  // The list's order and optional columns, remembered for every window.
  ListOrder& listOrder() const { return *listOrder_; }
  // Whether bars, shares and the chart measure bytes or entries.
  CountMode& countMode() const { return *countMode_; }
  // The largest files below a folder, in the window's centre.
  LargestFiles& largestFiles() const { return *largestFiles_; }
  // Bytes per kind of file below a folder, and the kind the list and chart pick out.
  FileTypes& fileTypes() const { return *fileTypes_; }
  // The folders around the snapshot's root, browsed from the disk.
  OutsideModel& outside() const { return *outside_; }
  // Rescans and additions merged into a new snapshot that replaces this window.
  PartialScans& partialScans() const { return *partialScans_; }
  // The current folder's size in every snapshot of its place: the history strip.
  FolderHistory& folderHistory() const { return *history_; }
  // Revealing, opening and copying entries' files, and saving the snapshot.
  FileActions& files() const { return *files_; }
  // The chart's layout of the current folder.
  SunburstChart& chart() const { return *chart_; }

  // A history entry for the place shown now, before a move that features make themselves.
  void recordHistory();
  void beep();

  // Stored properties.
  const std::optional<std::filesystem::path>& fileURL() const { return fileURL_; }
  const LoadState& state() const { return state_; }
  const DiskTreePtr& tree() const { return tree_; }
  // Absent until the loading task has gone over the tree, or the file was found changed.
  const std::optional<Health>& health() const { return health_; }
  NodeId current() const { return current_; }
  void setCurrent(NodeId value);
  OptionalNode selection() const { return selection_; }
  void setSelection(OptionalNode value);
  const QString& filter() const { return filter_; }
  void setFilter(const QString& value);
  bool isFiltering() const { return isFiltering_; }
  void setIsFiltering(bool value);
  const QUrl& previewURL() const { return previewURL_; }
  // The previewed file's exact bytes (the URL cannot carry a name that is not UTF-8).
  const QByteArray& previewPath() const { return previewPath_; }
  void setPreviewURL(const QUrl& value);
  bool showHelp() const { return showHelp_; }
  void setShowHelp(bool value);
  OptionalNode hovered() const { return hovered_; }
  void setHovered(OptionalNode value);
  // Not observed: they change with every pointer move and no view redraws for them.
  OptionalNode hoveredRow() const { return hoveredRow_; }
  void setHoveredRow(OptionalNode value) { hoveredRow_ = value; }
  // The sizes as the window shows them; never null. Views key their caches on its
  // generation.
  const SizeOverlay& overlay() const { return *overlay_; }
  const SizeOverlay::Ptr& sharedOverlay() const { return overlay_; }
  void setOverlay(SizeOverlay::Ptr value);
  const NodeSet& expanded() const { return expanded_; }
  void setExpanded(const NodeSet& value);

 signals:
  void stateChanged();
  void treeChanged();
  void healthChanged();
  void currentChanged();
  void selectionChanged();
  void filterChanged();
  void isFilteringChanged();
  void previewURLChanged();
  void showHelpChanged();
  void filterRequested();
  void hoveredChanged();
  void overlayChanged();
  void expandedChanged();
  void newScanRequested();

 private:
  struct Place {
    NodeId folder = 0;
    OptionalNode selection;
  };

  void setState(const LoadState& value);
  void setTree(DiskTreePtr value);
  void finishLoading(DiskTreePtr tree);
  // Takes the loading task's findings, keeping a change already noticed.
  void setHealth(Health value);
  // Asks the tree whether its file changed, and says so once it did.
  void checkForChange();
  // The remembered place of this snapshot; false when there is none to restore.
  bool restorePlace();

  // While comparing: a change the list shows (still here, changed, not trashed).
  bool isListedChange(const SnapshotDiff::Entry& entry) const;
  // Called by the setters of what the rows are made of.
  void rowsChanged();
  void restore(const Place& place);
  void clearFilter();
  OptionalNode firstVisibleChild() const;

  const std::optional<std::filesystem::path> fileURL_;
  Services services_;
  Requests requests_;
  ComparisonModel* comparing_;
  DeleteList* deleteList_;
  PlaceMemory* placeMemory_;
  Duplicates* duplicates_;
  LargestFiles* largestFiles_;
  ListOrder* listOrder_;
  CountMode* countMode_;
  FileTypes* fileTypes_;
  OutsideModel* outside_;
  PartialScans* partialScans_;
  FolderHistory* history_;
  SunburstChart* chart_;
  FileActions* files_;
  bool loadStarted_ = false;

  LoadState state_ = LoadState::loading(0);
  DiskTreePtr tree_;
  // Keeps the file from being pruned while the window shows it; let go with the model.
  std::shared_ptr<const SnapshotHold> hold_;
  std::optional<Health> health_;
  QTimer* changeCheck_;
  mutable std::optional<std::vector<Row>> rows_;
  // Where the selection was last found in rows_; moves look there first.
  mutable std::size_t selectedRowHint_ = 0;
  NodeId current_ = 0;
  OptionalNode selection_;
  QString filter_;
  bool isFiltering_ = false;
  QUrl previewURL_;
  QByteArray previewPath_;
  bool showHelp_ = false;
  OptionalNode hovered_;
  OptionalNode hoveredRow_;
  SizeOverlay::Ptr overlay_ = SizeOverlay::empty();
  std::vector<Place> backStack_;
  std::vector<Place> forwardStack_;
  NodeSet expanded_;
};

}  // namespace tallyfox
