#include "model/BrowserModel.h"

#include "model/AgeFilter.h"
#include "model/Background.h"
#include "model/Comparison.h"
#include "model/CountMode.h"
#include "model/DeleteList.h"
#include "model/Duplicates.h"
#include "model/FileActions.h"
#include "model/FileTypes.h"
#include "model/FolderHistory.h"
#include "model/Holds.h"
#include "model/LargestFiles.h"
#include "model/ListOrder.h"
#include "model/OutsideModel.h"
#include "model/PartialScans.h"
#include "model/PlaceMemory.h"
#include "model/SunburstChart.h"

#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotPaths.h>

#include <QCoreApplication>
#include <QPointer>
#include <QStorageInfo>
#include <QTimer>

#include <exception>

namespace tallyfox {

namespace {

template <typename T>
bool change(T& member, const T& value) {
  if (member == value) return false;
  member = value;
  return true;
}

}  // namespace

BrowserModel::BrowserModel(std::optional<std::filesystem::path> fileURL, Services services, QObject* parent)
    : QObject(parent),
      fileURL_(std::move(fileURL)),
      services_(std::move(services)),
      comparing_(new ComparisonModel(*this)),
      deleteList_(new DeleteList(*this)),
      placeMemory_(new PlaceMemory(*this)),
      duplicates_(new Duplicates(*this)),
      largestFiles_(new LargestFiles(*this)),
      listOrder_(new ListOrder(*this)),
      countMode_(new CountMode(*this)),
      fileTypes_(new FileTypes(*this)),
      outside_(new OutsideModel(*this)),
      partialScans_(new PartialScans(*this)),
      history_(new FolderHistory(*this)),
      chart_(new SunburstChart(*this)),
      files_(new FileActions(*this)),
      changeCheck_(new QTimer(this)) {
  // Connected before any view: the rows are rebuilt before a view asks for them.
  connect(comparing_, &ComparisonModel::comparisonChanged, this, &BrowserModel::rowsChanged);
  connect(listOrder_, &ListOrder::orderChanged, this, &BrowserModel::rowsChanged);
  // What the rows keep, and by what the size column sorts them.
  connect(&AgeFilter::of(*this), &AgeFilter::matchingChanged, this, &BrowserModel::rowsChanged);
  connect(countMode_, &CountMode::measureChanged, this, &BrowserModel::rowsChanged);
  changeCheck_->setInterval(changeCheckMilliseconds);
  connect(changeCheck_, &QTimer::timeout, this, &BrowserModel::checkForChange);
}

BrowserModel::~BrowserModel() = default;

QString BrowserModel::displayName(const QString& path) {
  if (path != QLatin1String("/")) return QString::fromStdString(PathText::lastComponent(path.toStdString()));
  const QString volume = QStorageInfo::root().name();
  return volume.isEmpty() ? path : volume;
}

// ---- Loading

namespace {

BrowserModel::Health examine(const DiskTree& tree, DiskTree::Totals totals) {
  BrowserModel::Health health;
  health.errorCount = tree.errorCount();
  // A damaged file is still shown: most of it may be fine, and refusing it would hide that.
  if (const auto violation = tree.firstViolation(totals)) health.damage = QString::fromStdString(*violation);
  // Asked after the check, which may have read what a change cut away.
  health.fileChanged = tree.fileChanged();
  return health;
}

}  // namespace

void BrowserModel::load() {
  if (tree_ || loadStarted_) return;
  if (!fileURL_) {
    setState(LoadState::failed(QStringLiteral("This window has no file.")));
    return;
  }
  loadStarted_ = true;
  const std::filesystem::path file = *fileURL_;

  // Reports at most once per percent, so a slow reader does not flood the main thread.
  auto report = [self = QPointer<BrowserModel>(this), last = -1](double fraction) mutable {
    const int percent = int(fraction * 100);
    if (percent == last) return;
    last = percent;
    Background::post(self, [self, fraction] {
      if (self->state_.isLoading()) self->setState(LoadState::loading(fraction));
    });
  };
  struct Loaded {
    DiskTreePtr tree;
    QString error;
    std::shared_ptr<const SnapshotHold> hold;
  };
  Background::run(
      this,
      [file, report]() mutable {
        Loaded loaded;
        // Taken before the file is opened, so that pruning cannot remove it in between.
        loaded.hold = holdSnapshot(file);
        try {
          loaded.tree = SnapshotDump::open(file, std::ref(report));
        } catch (const std::exception& e) {
          loaded.error = QString::fromStdString(e.what());
        }
        return loaded;
      },
      [this, file](Loaded loaded) {
        if (!loaded.tree) {
          setState(LoadState::failed(loaded.error.isEmpty() ? QStringLiteral("The snapshot couldn't be read.")
                                                            : loaded.error));
          return;
        }
        hold_ = loaded.hold;
        finishLoading(loaded.tree);
        // The window is open by now; what needs every node is done after it.
        Background::run(
            this, [file, tree = loaded.tree] { return examine(*tree, SnapshotDump::totalsOf(file)); },
            [this, tree = loaded.tree](const Health& health) {
              if (tree_ == tree) setHealth(health);
            });
      });
}

void BrowserModel::setHealth(Health value) {
  value.fileChanged |= health_ && health_->fileChanged;
  if (value.fileChanged) changeCheck_->stop();
  if (change(health_, std::optional(value))) emit healthChanged();
}

void BrowserModel::checkForChange() {
  // Cheap when nothing happened: a flag that a fault sets, and one stat of the file.
  if (!tree_ || !tree_->fileChanged()) return;
  Health health = health_.value_or(Health{});
  health.fileChanged = true;
  setHealth(health);
}

void BrowserModel::finishLoading(DiskTreePtr tree) {
  setTree(std::move(tree));
  // The file stays mapped while the window is open, and someone may change it.
  changeCheck_->start();
  comparing_->refreshCandidates();
  setState(LoadState::ready());
  if (restorePlace()) return;
  setCurrent(topFolder());
  setSelection(firstVisibleChild());
}

bool BrowserModel::restorePlace() {
  return placeMemory_->restorePlace();
}

NodeId BrowserModel::topFolder() const {
  if (!tree_) return DiskTree::root;
  const NodeRange top = tree_->children(DiskTree::root);
  // A lone file stays listed at the root: the current folder is always a folder.
  if (top.size() == 1 && tree_->isDirectory(top.first)) return top.first;
  return DiskTree::root;
}

// ---- Properties

void BrowserModel::setState(const LoadState& value) {
  if (change(state_, value)) emit stateChanged();
}

void BrowserModel::setTree(DiskTreePtr value) {
  if (change(tree_, value)) {
    rowsChanged();
    emit treeChanged();
  }
}

void BrowserModel::setCurrent(NodeId value) {
  if (change(current_, value)) {
    rowsChanged();
    emit currentChanged();
  }
}

void BrowserModel::setSelection(OptionalNode value) {
  if (change(selection_, value)) emit selectionChanged();
}

void BrowserModel::setFilter(const QString& value) {
  if (change(filter_, value)) {
    rowsChanged();
    emit filterChanged();
  }
}

void BrowserModel::setIsFiltering(bool value) {
  if (change(isFiltering_, value)) emit isFilteringChanged();
}

void BrowserModel::setPreviewURL(const QUrl& value) {
  if (value.isEmpty()) previewPath_.clear();
  if (change(previewURL_, value)) emit previewURLChanged();
}

void BrowserModel::setShowHelp(bool value) {
  if (change(showHelp_, value)) emit showHelpChanged();
}

void BrowserModel::setHovered(OptionalNode value) {
  if (change(hovered_, value)) emit hoveredChanged();
}

void BrowserModel::setOverlay(SizeOverlay::Ptr value) {
  if (!value) value = SizeOverlay::empty();
  if (value->generation() == overlay_->generation()) return;
  overlay_ = std::move(value);
  rowsChanged();
  emit overlayChanged();
}

void BrowserModel::setExpanded(const NodeSet& value) {
  if (change(expanded_, value)) {
    rowsChanged();
    emit expandedChanged();
  }
}

void BrowserModel::requestFilter() {
  setIsFiltering(true);
  emit filterRequested();
}

void BrowserModel::beep() {
  if (services_.desktop.beep) services_.desktop.beep->beep();
}

}  // namespace tallyfox
