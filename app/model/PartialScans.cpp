#include "model/PartialScans.h"

#include "model/BrowserModel.h"
#include "model/ChildScan.h"
#include "model/Documents.h"
#include "model/OutsideModel.h"
#include "model/PlaceMemory.h"
#include "model/RemoteBrowsing.h"
#include "model/Settings.h"
#include "model/SshTarget.h"
#include "model/StreamScanJob.h"

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
  const std::filesystem::path snapshots =
      settings ? settings->snapshotsFolder() : SnapshotsFolder::ofUser(Preferences::standard());
  // A snapshot scanned on another machine is rescanned there, over SSH, and the result
  // stays with that host's snapshots.
  const std::optional<QString> host = RemoteBrowsing::hostOf(browser_);
  const std::filesystem::path folder = host ? RemoteSnapshots::folderOf(snapshots, *host) : snapshots;
  if (host && (!plan.ignoring.empty() || !plan.combine)) {
    setAddingScanError(QStringLiteral("Only a whole folder can be rescanned on %1").arg(*host));
    return;
  }
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

  // The fresh scan is never written on its own: it is merged with the open snapshot, which
  // stays mapped, and only the result is written.
  auto saveMerged = [combine = plan.combine, newRoot = plan.newRoot, folder](const DiskTreePtr& fresh) {
    const SnapshotMerge::Result merged = combine(fresh);
    const auto file = SnapshotsFolder::newSnapshotPath(folder, newRoot, ScanJob::Clock::now());
    SnapshotFile::write(merged.columns, merged.info, file);
    return file;
  };

  // Connected to the job, not to this window: the new snapshot opens even when the window
  // was closed meanwhile.
  Documents* documents = browser_.services().documents;
  std::shared_ptr<PlaceStore> places = browser_.services().places;
  auto opened = [plan, documents, places, old = browser_.fileURL()](const ScanJob::Outcome& outcome) {
    if (!outcome.written) return;
    const auto openAt = SnapshotPaths::components(plan.openAt, plan.newRoot);
    std::optional<SavedPlace::NamePath> selection;
    if (plan.select) selection = SnapshotPaths::components(*plan.select, plan.newRoot);
    if (places)
      SavedPlace::store(openAt.value_or(SavedPlace::NamePath{}), selection, *outcome.written, *places);
    if (!documents) return;
    documents->openDocument(*outcome.written);
    if (old) documents->closeDocument(*old);
  };
  auto follow = [&](auto* job) {
    using Job = std::remove_pointer_t<decltype(job)>;
    connect(job, &Job::entriesChanged, this, &PartialScans::setAddingScanEntries);
    connect(job, &Job::finished, this, [this](const ScanJob::Outcome& outcome) {
      setAddingScanPath(std::nullopt);
      if (!outcome.written) setAddingScanError(outcome.error);
    });
    connect(job, &Job::finished, job, opened);
  };

  if (host) {
    ChildScans::SshSetup setup;
    setup.askpass = ChildScans::askpassProgram();
    const std::optional<SshTarget> target = SshTarget::parse(*host);
    if (!target) {
      setAddingScanPath(std::nullopt);
      setAddingScanError(QStringLiteral("“%1” is not a host to connect to").arg(*host));
      return;
    }
    follow(StreamScanJob::start(ChildScans::overSsh(*target, QString::fromStdString(plan.path), setup),
                                folder, saveMerged));
    return;
  }

  std::set<std::string> ignoring = ignoredFoldersFromEnvironment();
  ignoring.insert(plan.ignoring.begin(), plan.ignoring.end());
  ScanOptions options(threads(speed), /*oneFileSystem=*/true, std::move(ignoring), {}, {}, speed);
  if (addingScanSpeed_ != speed) {
    addingScanSpeed_ = speed;
    emit addingScanSpeedChanged();
  }
  auto write = [combine = plan.combine, newRoot = plan.newRoot, folder, saveMerged](
                   SnapshotBuilderSink& sink, const SnapshotFile::Info& header) {
    if (combine) return saveMerged(SnapshotFile::inMemory(sink.finish(), header));
    const auto file = SnapshotsFolder::newSnapshotPath(folder, newRoot, ScanJob::Clock::now());
    SnapshotFile::write(sink.finishArranged(), header, file);
    return file;
  };
  ScanJob* job = ScanJob::start(plan.path, std::move(options), std::move(write));
  job_ = job;
  follow(job);
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
