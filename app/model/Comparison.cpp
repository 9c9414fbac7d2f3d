#include "model/Comparison.h"

#include "model/BrowserModel.h"
#include "model/Format.h"
#include "model/Holds.h"
#include "model/RemoteBrowsing.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotDump.h>

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <exception>
#include <limits>

namespace tallyfox {

namespace {

std::atomic<std::uint64_t> lastComparisonId{0};

}  // namespace

// ---- Comparison

Comparison::Comparison(std::shared_ptr<const SnapshotDiff> diff, std::filesystem::path baselineURL)
    : diff_(std::move(diff)), baselineURL_(std::move(baselineURL)), id_(++lastComparisonId) {
  entries_.emplace(diff_->newBase(), diff_->root());
}

bool Comparison::changed(const Entry& entry) {
  constexpr std::uint64_t largest = std::uint64_t(std::numeric_limits<std::int64_t>::max());
  return std::min(entry.oldSize, largest) != std::min(entry.newSize, largest);
}

std::optional<Comparison::Entry> Comparison::entry(NodeId node) const {
  const DiskTree& tree = diff_->newTree();
  if (!tree.contains(node)) return std::nullopt;
  // Up to the nearest node whose entry is known, then down again, comparing each folder on
  // the way once.
  std::vector<NodeId> below;
  NodeId n = node;
  while (!entries_.contains(n)) {
    if (n == DiskTree::root) return std::nullopt;  // not inside the compared folder
    below.push_back(n);
    n = tree.parentOf(n);
    if (n < 0) return std::nullopt;
  }
  for (auto it = below.rbegin(); it != below.rend(); ++it) {
    childEntries(entries_.at(tree.parentOf(*it)));
    if (!entries_.contains(*it)) return std::nullopt;
  }
  return entries_.at(node);
}

const std::vector<Comparison::Entry>& Comparison::childEntries(const Entry& entry) const {
  if (entry.newNode) {
    if (const auto cached = children_.find(*entry.newNode); cached != children_.end()) return cached->second;
    std::vector<Entry> computed = diff_->children(entry);
    for (const Entry& child : computed)
      if (child.newNode) entries_.try_emplace(*child.newNode, child);
    return children_.emplace(*entry.newNode, std::move(computed)).first->second;
  }
  uncached_ = diff_->children(entry);
  return uncached_;
}

std::vector<Comparison::Entry> Comparison::changedChildren(const Entry& of) const {
  std::vector<Entry> changedOnes;
  for (const Entry& child : childEntries(of))
    if (changed(child)) changedOnes.push_back(child);
  return changedOnes;
}

const std::vector<Comparison::Entry>& Comparison::children(NodeId node) const {
  static const std::vector<Entry> none;
  if (const auto cached = children_.find(node); cached != children_.end()) return cached->second;
  const std::optional<Entry> of = entry(node);
  return of ? childEntries(*of) : none;
}

std::uint64_t Comparison::largestChange(NodeId node) const {
  const std::vector<Entry>& all = children(node);
  return all.empty() ? 1 : std::max<std::uint64_t>(all.front().magnitude(), 1);
}

std::vector<Comparison::Entry> Comparison::changedChildren(NodeId node) const {
  std::vector<Entry> changedOnes;
  for (const Entry& child : children(node))
    if (changed(child)) changedOnes.push_back(child);
  return changedOnes;
}

// ---- ComparisonModel

ComparisonModel::ComparisonModel(BrowserModel& browser) : QObject(&browser), browser_(browser) {}

// Snapshots of the same machine only: a remote snapshot's host folder, else the snapshots
// folder itself (whose listing never descends into hosts/).
std::filesystem::path ComparisonModel::snapshotsFolder() const {
  return RemoteBrowsing::sameMachineFolder(browser_);
}

void ComparisonModel::refreshCandidates() {
  const DiskTreePtr tree = browser_.tree();
  if (!tree || tree->rootPath().empty()) {
    if (!candidates_.empty()) {
      candidates_.clear();
      emit candidatesChanged();
    }
    return;
  }
  Background::run(
      this, candidatesLane_,
      [root = tree->rootPath(), folder = snapshotsFolder(), own = browser_.fileURL()] {
        try {
          return SnapshotPaths::snapshots(root, folder, own);
        } catch (const std::exception&) {
          // An unreadable snapshots folder offers nothing to compare with.
          return std::vector<SnapshotPaths::Listed>{};
        }
      },
      [this](std::vector<SnapshotPaths::Listed> found) {
        candidates_ = std::move(found);
        emit candidatesChanged();
      });
}

std::optional<std::filesystem::path> ComparisonModel::previousSnapshot() const {
  const DiskTreePtr tree = browser_.tree();
  if (!tree) return std::nullopt;
  for (const SnapshotPaths::Listed& candidate : candidates_)
    if (candidate.info.scanStart < tree->scanStart()) return candidate.url;
  return std::nullopt;
}

QString ComparisonModel::scanTimeText(std::chrono::system_clock::time_point time) const {
  std::vector<std::chrono::system_clock::time_point> times{time};
  const auto add = [&times](std::chrono::system_clock::time_point t) {
    // A copy of a snapshot started at the very same moment: no seconds tell those apart.
    if (std::find(times.begin(), times.end(), t) == times.end()) times.push_back(t);
  };
  if (const DiskTreePtr tree = browser_.tree()) {
    add(tree->scanStart());
    const std::string root = SnapshotPaths::canonical(tree->rootPath());
    for (const SnapshotPaths::Listed& candidate : candidates_)
      if (SnapshotPaths::canonical(candidate.info.rootPath) == root) add(candidate.info.scanStart);
  }
  if (comparison_) add(comparison_->diff().oldTree().scanStart());
  const std::vector<QString> labels = Format::labelsApart(times.size(), [&](std::size_t i, bool seconds) {
    return Format::abbreviatedDateTime(times[i], {}, seconds);
  });
  return labels.front();
}

void ComparisonModel::compare(const std::filesystem::path& file) {
  const DiskTreePtr tree = browser_.tree();
  if (!tree) return;
  setComparisonError(std::nullopt);
  struct Loaded {
    std::shared_ptr<const SnapshotDiff> diff;
    QString error;
    std::shared_ptr<const SnapshotHold> hold;
  };
  Background::run(
      this, compareLane_,
      [file, tree] {
        Loaded loaded;
        loaded.hold = holdSnapshot(file);
        try {
          const DiskTreePtr earlier = SnapshotDump::open(file);
          const std::string path = SnapshotDiff::comparedPath(*earlier, *tree);
          loaded.diff = SnapshotDiff::make(earlier, tree, path);
          if (!loaded.diff)
            loaded.error = QString::fromStdString(file.filename().string() + " doesn't include " +
                                                  PathText::abbreviateTilde(path) + ".");
        } catch (const std::exception& e) {
          loaded.error = QString::fromStdString(e.what());
        }
        return loaded;
      },
      [this, file](Loaded loaded) {
        if (!loaded.diff) {
          setComparisonError(loaded.error);
          return;
        }
        baselineHold_ = loaded.hold;
        setComparison(std::make_shared<const Comparison>(loaded.diff, file));
        browser_.selectFirst();
      });
}

void ComparisonModel::chooseComparison() {
  const QPointer<ComparisonModel> self(this);
  auto request = std::make_shared<FileRequest>(FileRequest::Kind::open, [self](auto file) {
    if (self && file) self->compare(*file);
  });
  request->message = QStringLiteral("Choose an earlier snapshot to compare against");
  request->folder = snapshotsFolder();
  browser_.requests().ask(request);
}

void ComparisonModel::showChanges(const std::optional<std::filesystem::path>& file,
                                  const std::string& folder) {
  const QPointer<ComparisonModel> self(this);
  const auto show = [self, file, folder] {
    if (!self || !self->browser_.tree()) return;
    BrowserModel& browser = self->browser_;
    if (const auto node = SnapshotPaths::node(folder, *browser.tree());
        node && browser.tree()->isDirectory(*node))
      browser.navigate(*node);
    if (file) self->compare(*file);
  };
  if (browser_.state().isReady()) {
    show();
    return;
  }
  // The window restores its remembered place right after it becomes ready: go there after.
  auto* waiting = new QObject(this);
  connect(&browser_, &BrowserModel::stateChanged, waiting, [this, waiting, show] {
    if (browser_.state().isLoading()) return;
    waiting->deleteLater();
    QMetaObject::invokeMethod(this, show, Qt::QueuedConnection);
  });
}

void ComparisonModel::stop() {
  compareLane_.stop();  // a comparison still loading does not come back after Stop
  setComparison(nullptr);
  baselineHold_.reset();
  setComparisonError(std::nullopt);
}

std::vector<Comparison::Entry> ComparisonModel::goneEntries() const {
  if (!comparison_) return {};
  std::vector<Comparison::Entry> gone = comparison_->changedChildren(browser_.current());
  std::erase_if(gone, [](const Comparison::Entry& e) { return !e.isGone(); });
  return gone;
}

void ComparisonModel::setComparison(ComparisonPtr value) {
  if (comparison_ == value) return;
  comparison_ = std::move(value);
  emit comparisonChanged();
}

void ComparisonModel::setComparisonError(std::optional<QString> value) {
  if (comparisonError_ == value) return;
  comparisonError_ = std::move(value);
  emit comparisonErrorChanged();
}

}  // namespace tallyfox
