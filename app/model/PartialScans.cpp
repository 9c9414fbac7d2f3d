#include "model/PartialScans.h"

#include "model/BrowserModel.h"
#include "model/Documents.h"
#include "model/Outside.h"
#include "model/PlaceMemory.h"
#include "model/Settings.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/EntryNames.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

namespace tallyfox {

PartialScans::PartialScans(BrowserModel& browser) : QObject(&browser), browser_(browser) {}

PartialScans::~PartialScans() = default;

bool PartialScans::canScan() const {
  const DiskTreePtr& tree = browser_.tree();
  return tree && !tree->rootPath().empty() && !isRunning();
}

void PartialScans::rescan() {
  if (browser_.outside().isShown())
    rescanAllOfOutside();
  else
    rescanFolder(browser_.current());
}

namespace {

std::string canonicalPathOf(const DiskTree& tree, NodeId node) {
  return SnapshotPaths::canonical(tree.filePath(node));
}

bool isFolder(const DiskTree& tree, NodeId node) {
  return node == DiskTree::root || (tree.contains(node) && tree.isDirectory(node));
}

// A folder whose path leads where its names say. Another ("a/..") would be scanned from
// elsewhere and the result put in its place.
bool isPlainFolder(const DiskTree& tree, NodeId node) {
  return isFolder(tree, node) && EntryNames::hasPlainPath(tree, node);
}

}  // namespace

void PartialScans::rescanFolder(NodeId node) {
  if (!canScan()) return;
  const DiskTreePtr tree = browser_.tree();
  if (!isPlainFolder(*tree, node)) return;
  const std::string path = canonicalPathOf(*tree, node);
  std::optional<std::string> select;
  if (const OptionalNode selection = browser_.selection(); selection && tree->contains(*selection))
    select = canonicalPathOf(*tree, *selection);
  const bool outside = browser_.outside().isShown();
  runScan({path,
           {},
           outside ? path : canonicalPathOf(*tree, browser_.current()),
           outside ? std::nullopt : select,
           browser_.outside().canonicalRoot(),
           [tree, node](const DiskTreePtr& fresh) { return SnapshotMerge::replace(node, *tree, *fresh); }});
}

void PartialScans::scanRest(NodeId node) {
  if (!canScan()) return;
  const DiskTreePtr tree = browser_.tree();
  if (!isPlainFolder(*tree, node)) return;
  const std::string path = canonicalPathOf(*tree, node);
  std::set<std::string> ignoring;
  for (NodeId child : tree->children(node)) ignoring.insert(tree->filePath(child));
  runScan({path, std::move(ignoring), path, std::nullopt, browser_.outside().canonicalRoot(),
           [tree, node](const DiskTreePtr& fresh) {
             const DiskTreePtr filled = SnapshotMerge::fillWithSubtreesOf(*fresh, *tree, node);
             return SnapshotMerge::replace(node, *tree, *filled);
           }});
}

void PartialScans::scanAndAdd(const std::string& added) {
  if (!canScan()) return;
  const DiskTreePtr tree = browser_.tree();
  const std::string root = browser_.outside().canonicalRoot();
  const std::string path = SnapshotPaths::canonical(added);
  const auto& outside = browser_.outside().outsidePath();
  const std::string openAt = outside ? *outside : OutsideModel::parentOf(path);
  if (SnapshotPaths::components(path, root)) {
    runScan({path, {}, openAt, path, root, [tree](const DiskTreePtr& fresh) {
               return SnapshotMerge::insert(*fresh, *tree);
             }});
    return;
  }
  const std::string newRoot = OutsideModel::commonAncestor(root, path);
  runScan({path, {}, openAt, path, newRoot, [tree, newRoot](const DiskTreePtr& fresh) {
             return SnapshotMerge::merge({tree, fresh}, newRoot);
           }});
}

void PartialScans::scanRestOfOutside() {
  const auto& outside = browser_.outside().outsidePath();
  if (!canScan() || !outside) return;
  const DiskTreePtr tree = browser_.tree();
  runScan({*outside,
           {browser_.outside().canonicalRoot()},
           *outside,
           std::nullopt,
           *outside,
           [tree](const DiskTreePtr& fresh) { return SnapshotMerge::fill(*fresh, {tree}); }});
}

void PartialScans::rescanAllOfOutside() {
  const auto& outside = browser_.outside().outsidePath();
  if (!canScan() || !outside) return;
  runScan({*outside, {}, *outside, std::nullopt, *outside, nullptr});
}

void PartialScans::runScan(Plan plan) {
  if (isRunning()) return;
  const Settings* settings = browser_.services().settings;
  const ScanSpeed speed = settings ? settings->scanSpeed() : ScanSpeed::fast;
  const std::filesystem::path folder =
      settings ? settings->snapshotsFolder() : SnapshotsFolder::ofUser(Preferences::standard());
  // A scan whose snapshot could not be saved is not begun: it would be lost at its end.
  try {
    checkWritable(SnapshotsFolder::newSnapshotPath(folder, plan.newRoot, ScanJob::Clock::now()));
  } catch (const std::exception& e) {
    setAddingScanError(QString::fromStdString(e.what()));
    return;
  }
  setAddingScanPath(plan.path);
  setAddingScanEntries(0);
  setAddingScanError(std::nullopt);

  std::set<std::string> ignoring = ignoredFoldersFromEnvironment();
  ignoring.insert(plan.ignoring.begin(), plan.ignoring.end());
  ScanOptions options(threads(speed), /*oneFileSystem=*/true, std::move(ignoring), {}, {}, speed);
  if (addingScanSpeed_ != speed) {
    addingScanSpeed_ = speed;
    emit addingScanSpeedChanged();
  }

  // The fresh scan is never written on its own: it is merged with the open snapshot, which
  // stays mapped, and only the result is written.
  auto write = [combine = plan.combine, newRoot = plan.newRoot, folder](SnapshotBuilderSink& sink,
                                                                        const SnapshotFile::Info& header) {
    const auto url = [&] { return SnapshotsFolder::newSnapshotPath(folder, newRoot, ScanJob::Clock::now()); };
    if (!combine) {
      const auto file = url();
      SnapshotFile::write(sink.finishArranged(), header, file);
      return file;
    }
    const DiskTreePtr fresh = SnapshotFile::inMemory(sink.finish(), header);
    const SnapshotMerge::Result merged = combine(fresh);
    const auto file = url();
    SnapshotFile::write(merged.columns, merged.info, file);
    return file;
  };
  ScanJob* job = ScanJob::start(plan.path, std::move(options), std::move(write));
  job_ = job;
  connect(job, &ScanJob::entriesChanged, this, &PartialScans::setAddingScanEntries);
  connect(job, &ScanJob::finished, this, [this](const ScanJob::Outcome& outcome) {
    setAddingScanPath(std::nullopt);
    if (!outcome.written) setAddingScanError(outcome.error);
  });
  // Connected to the job, not to this window: the new snapshot opens even when the window
  // was closed meanwhile.
  Documents* documents = browser_.services().documents;
  std::shared_ptr<PlaceStore> places = browser_.services().places;
  connect(job, &ScanJob::finished, job,
          [plan, documents, places, old = browser_.fileURL()](const ScanJob::Outcome& outcome) {
            if (!outcome.written) return;
            const auto folder = SnapshotPaths::components(plan.openAt, plan.newRoot);
            std::optional<SavedPlace::NamePath> selection;
            if (plan.select) selection = SnapshotPaths::components(*plan.select, plan.newRoot);
            if (places)
              SavedPlace::store(folder.value_or(SavedPlace::NamePath{}), selection, *outcome.written,
                                *places);
            if (!documents) return;
            documents->openDocument(*outcome.written);
            if (old) documents->closeDocument(*old);
          });
}

void PartialScans::setAddingScanSpeed(ScanSpeed value) {
  if (job_) job_->setSpeed(value);
  if (addingScanSpeed_ == value) return;
  addingScanSpeed_ = value;
  emit addingScanSpeedChanged();
}

void PartialScans::setAddingScanPath(const std::optional<std::string>& value) {
  if (addingScanPath_ == value) return;
  addingScanPath_ = value;
  emit addingScanPathChanged();
}

void PartialScans::setAddingScanEntries(quint64 value) {
  if (addingScanEntries_ == value) return;
  addingScanEntries_ = value;
  emit addingScanEntriesChanged();
}

void PartialScans::setAddingScanError(const std::optional<QString>& value) {
  if (addingScanError_ == value) return;
  addingScanError_ = value;
  emit addingScanErrorChanged();
}

}  // namespace tallyfox
