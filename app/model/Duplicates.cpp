#include "model/Duplicates.h"

#include "model/Background.h"
#include "model/BrowserModel.h"
#include "model/DeleteList.h"
#include "model/Format.h"
#include "model/Settings.h"

#include <tallyfox/CloneReplacer.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotPaths.h>

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <exception>

namespace tallyfox {

namespace {

QString grouped(std::int64_t value) {
  return QLocale().toString(qlonglong(value));
}

// What one group's replacement came to, handed from the worker to the main thread.
struct GroupOutcome {
  std::uint64_t bytes = 0;
  std::vector<std::string> replaced;
  QString failure;
};

GroupOutcome replaceGroup(const DuplicateFinder::Group& group, const std::string& searched,
                          const std::filesystem::path& logFolder) {
  GroupOutcome outcome;
  // Nothing is replaced that could not be logged.
  if (const auto why = CloneLog::check(logFolder)) {
    outcome.failure = QStringLiteral("Can't write the clone log: ") + QString::fromStdString(*why);
    return outcome;
  }
  const std::string& keeper = group.paths.front();
  for (std::size_t k = 1; k < group.paths.size(); ++k) {
    const std::string& path = group.paths[k];
    try {
      const auto result = CloneReplacer::replace(path, keeper, true, searched);
      if (result.kind != CloneReplacer::Outcome::Kind::replaced) continue;
      outcome.bytes += result.bytesFreed;
      outcome.replaced.push_back(path);
      if (const auto why = CloneLog::record(logFolder, keeper, path, result.bytesFreed)) {
        outcome.failure = QStringLiteral("Can't write the clone log: ") + QString::fromStdString(*why);
        return outcome;
      }
    } catch (const CloneReplacer::Failure& failure) {
      // The later failure wins; the remaining copies are still tried, unless a folder of the
      // group changed: they may lie below it.
      outcome.failure = QString::fromStdString(PathText::lastComponent(path)) + QStringLiteral(": ") +
                        QString::fromStdString(failure.message());
      if (failure.kind() == CloneReplacer::Failure::Kind::folderChanged) return outcome;
    } catch (const std::exception& e) {
      outcome.failure = QString::fromStdString(PathText::lastComponent(path)) + QStringLiteral(": ") +
                        QString::fromStdString(e.what());
    }
  }
  return outcome;
}

}  // namespace

// The finder outlives the state when the state goes first: the worker holds it too.
struct DuplicatesState::Search {
  explicit Search(DiskTreePtr tree, NodeId scope) : finder(std::move(tree), scope, finderOptions()) {}
  DuplicateFinder finder;
};

DuplicateFinder::Options DuplicatesState::finderOptions() {
  DuplicateFinder::Options options;
  options.minimumSize = 65536;
  options.excludeSyncFolders = true;
  options.excludeCodeBundles = false;
  options.threads = 4;
  return options;
}

DuplicatesState::DuplicatesState(NodeId scope, std::string scopePath, std::filesystem::path snapshotsFolder,
                                 QObject* parent)
    : QObject(parent),
      scope_(scope),
      scopePath_(std::move(scopePath)),
      snapshotsFolder_(std::move(snapshotsFolder)) {
  poll_.setInterval(progressIntervalMs);
  // A coarse timer may fire 5 % late; the window promises the interval.
  poll_.setTimerType(Qt::PreciseTimer);
  connect(&poll_, &QTimer::timeout, this, &DuplicatesState::pollProgress);
}

DuplicatesState::~DuplicatesState() {
  if (search_) search_->finder.cancel();
}

void DuplicatesState::find(DiskTreePtr tree) {
  if (search_ || !tree) return;
  search_ = std::make_shared<Search>(std::move(tree), scope_);
  setPhase(Phase::finding());
  poll_.start();
  struct Found {
    std::vector<Group> groups;
    std::optional<QString> error;
    bool canShare = false;
    std::string searched;
  };
  Background::run(
      this,
      [search = search_] {
        Found found;
        found.searched = search->finder.searchedPath().value_or(std::string());
        try {
          found.groups = search->finder.run();
          // Asked here, off the main thread: statfs may wait on a slow or gone file system.
          if (!search->finder.isCancelled() && !found.searched.empty())
            found.canShare = CloneReplacer::canShareStorage(found.searched);
        } catch (const std::exception& e) {
          found.error = QString::fromStdString(e.what());
        }
        return found;
      },
      [this](Found found) {
        if (cancelled_) return;
        if (found.error) {
          poll_.stop();
          setPhase(Phase::failed(*found.error));
          return;
        }
        searchedPath_ = std::move(found.searched);
        finishSearch(std::move(found.groups), found.canShare);
      });
}

void DuplicatesState::cancel() {
  if (cancelled_ || phase_.kind != Phase::Kind::finding) return;
  cancelled_ = true;
  poll_.stop();
  if (search_) search_->finder.cancel();
  emit changed();
}

void DuplicatesState::finishSearch(std::vector<Group> groups, bool canShare) {
  poll_.stop();
  pollProgress();
  groups_ = std::move(groups);
  canShareStorage_ = canShare;
  selected_.clear();
  for (int k = 0; k < int(groups_.size()); ++k) selected_.insert(k);
  setPhase(Phase::ready());
}

void DuplicatesState::pollProgress() {
  if (!search_) return;
  DuplicateFinder::Progress now = search_->finder.progress();
  if (now == progress_) return;
  progress_ = std::move(now);
  emit progressChanged();
}

void DuplicatesState::setPhase(Phase value) {
  if (phase_ == value) return;
  phase_ = std::move(value);
  emit changed();
}

void DuplicatesState::setIncludeApps(bool value) {
  if (includeApps_ == value) return;
  includeApps_ = value;
  emit changed();
}

void DuplicatesState::setSelected(int index, bool on) {
  if (index < 0 || index >= int(groups_.size()) || selected_.contains(index) == on) return;
  if (on)
    selected_.insert(index);
  else
    selected_.remove(index);
  emit changed();
}

void DuplicatesState::setExpanded(int index, bool on) {
  if (index < 0 || index >= int(groups_.size()) || expanded_.contains(index) == on) return;
  if (on)
    expanded_.insert(index);
  else
    expanded_.remove(index);
  emit changed();
}

std::optional<DuplicatesState::GroupStatus> DuplicatesState::statusOf(int index) const {
  const auto found = status_.find(index);
  if (found == status_.end()) return std::nullopt;
  return found->second;
}

bool DuplicatesState::isVisible(int index) const {
  return index >= 0 && index < int(groups_.size()) &&
         (includeApps_ || !groups_[std::size_t(index)].inCodeBundle);
}

std::vector<int> DuplicatesState::visibleGroups() const {
  std::vector<int> visible;
  for (int k = 0; k < int(groups_.size()); ++k)
    if (isVisible(k)) visible.push_back(k);
  return visible;
}

std::vector<int> DuplicatesState::selectedVisible() const {
  std::vector<int> chosen;
  for (int k : visibleGroups())
    if (selected_.contains(k) && !status_.contains(k)) chosen.push_back(k);
  return chosen;
}

std::uint64_t DuplicatesState::reclaimable() const {
  std::uint64_t total = 0;
  for (int k : visibleGroups())
    if (!status_.contains(k)) total += groups_[std::size_t(k)].savings();
  return total;
}

void DuplicatesState::applySelected(ReplacedCallback onReplaced) {
  if (isApplying_ || phase_.kind != Phase::Kind::ready) return;
  std::vector<int> work = selectedVisible();
  if (work.empty()) return;
  if (!canShareStorage_) {
    // Said once, up front, instead of one failure per copy.
    if (refusal_.isEmpty()) {
      refusal_ = QStringLiteral(
          "This file system can't share storage between files, so the copies can't "
          "become clones. Add the extras to the delete list instead.");
      emit changed();
    }
    return;
  }
  isApplying_ = true;
  emit changed();
  applyNext(std::move(work), std::move(onReplaced));
}

void DuplicatesState::applyNext(std::vector<int> work, ReplacedCallback onReplaced) {
  if (work.empty()) {
    isApplying_ = false;
    emit changed();
    return;
  }
  const int index = work.front();
  work.erase(work.begin());
  status_[index] = GroupStatus::pending();
  emit changed();
  Background::run(
      this,
      [group = groups_[std::size_t(index)], searched = searchedPath_, folder = snapshotsFolder_] {
        return replaceGroup(group, searched, folder);
      },
      [this, index, work = std::move(work),
       onReplaced = std::move(onReplaced)](GroupOutcome outcome) mutable {
        for (const std::string& path : outcome.replaced)
          if (onReplaced) onReplaced(path);
        freed_ += outcome.bytes;
        appliedCount_ += int(outcome.replaced.size());
        status_[index] = outcome.failure.isEmpty() ? GroupStatus::replaced(outcome.bytes)
                                                   : GroupStatus::failed(outcome.failure);
        emit changed();
        applyNext(std::move(work), std::move(onReplaced));
      });
}

QString DuplicatesState::title() const {
  return QStringLiteral("Duplicates in ") + QString::fromStdString(PathText::abbreviateTilde(scopePath_));
}

QString DuplicatesState::progressLine() const {
  return QString::fromStdString(progress_.phase) + QStringLiteral("… ") + grouped(progress_.done) +
         QStringLiteral(" of ") + grouped(progress_.total);
}

QString DuplicatesState::summary() const {
  const QString selected =
      QStringLiteral(" · ") + grouped(std::int64_t(selectedVisible().size())) + QStringLiteral(" selected");
  if (canShareStorage_)
    return Format::bytes(reclaimable()) + QStringLiteral(" could be shared as clones") + selected;
  // Here the copies can only be deleted: say what that would free.
  std::int64_t copies = 0;
  for (int k : visibleGroups())
    if (!status_.contains(k)) copies += std::int64_t(groups_[std::size_t(k)].paths.size()) - 1;
  return QStringLiteral("Deleting the ") + grouped(copies) +
         (copies == 1 ? QStringLiteral(" extra copy") : QStringLiteral(" extra copies")) +
         QStringLiteral(" would free ") + Format::bytes(reclaimable()) + selected;
}

QString DuplicatesState::appliedLine() const {
  if (status_.empty()) return {};
  return grouped(appliedCount_) + QStringLiteral(" copies replaced · ") + Format::bytes(freed_) +
         QStringLiteral(" freed");
}

QString DuplicatesState::groupTitle(int index) const {
  if (index < 0 || index >= int(groups_.size())) return {};
  const Group& group = groups_[std::size_t(index)];
  return grouped(std::int64_t(group.paths.size())) + QStringLiteral(" × ") + Format::bytes(group.length);
}

// ---- Duplicates

Duplicates::Duplicates(BrowserModel& browser) : QObject(&browser), browser_(browser) {}

Duplicates::~Duplicates() = default;

void Duplicates::findDuplicates(std::optional<NodeId> node) {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || state_) return;
  const NodeId scope = node.value_or(browser_.current());
  if (!tree->contains(scope) || !tree->isDirectory(scope)) return;
  const Settings* settings = browser_.services().settings;
  auto* state = new DuplicatesState(
      scope, SnapshotPaths::canonical(tree->path(scope)),
      settings ? settings->snapshotsFolder() : SnapshotsFolder::resolve(std::nullopt), this);
  connect(state, &DuplicatesState::changed, this, [this, state] {
    if (state == state_) emit contentChanged();
    emit busyChanged();
  });
  connect(state, &DuplicatesState::progressChanged, this, [this, state] {
    if (state == state_) emit contentChanged();
  });
  state_ = state;
  emit stateChanged();
  state->find(tree);
  emit busyChanged();
}

void Duplicates::applyDuplicates() {
  if (!state_) return;
  const QPointer<BrowserModel> browser(&browser_);
  state_->applySelected([browser](const std::string& path) {
    if (!browser || !browser->tree()) return;
    const DiskTree& tree = *browser->tree();
    const auto node = SnapshotPaths::node(path, tree);
    if (!node) return;
    SizeOverlay edited(browser->overlay());
    edited.shrink(*node, tree);
    browser->setOverlay(SizeOverlay::share(std::move(edited)));
  });
}

void Duplicates::addDuplicateExtrasToDeleteList() {
  const DiskTreePtr& tree = browser_.tree();
  if (!state_ || !tree) return;
  DeleteList& list = browser_.deleteList();
  for (int index : state_->selectedVisible()) {
    const auto& paths = state_->groups()[std::size_t(index)].paths;
    // The first copy is the one that stays.
    for (std::size_t k = 1; k < paths.size(); ++k) {
      const auto node = SnapshotPaths::node(paths[k], *tree);
      if (node && !list.isMarked(*node)) list.toggleMark(*node);
    }
  }
}

void Duplicates::close() {
  if (!state_) return;
  DuplicatesState* state = state_;
  state_ = nullptr;
  state->cancel();
  retire(state);
  emit stateChanged();
  emit busyChanged();
}

void Duplicates::retire(DuplicatesState* state) {
  std::erase_if(retired_, [](const QPointer<DuplicatesState>& s) { return s.isNull(); });
  if (!state->isApplying()) {
    state->deleteLater();
    return;
  }
  retired_.emplace_back(state);
  connect(state, &DuplicatesState::changed, state, [state] {
    if (!state->isApplying()) state->deleteLater();
  });
}

bool Duplicates::isBusy() const {
  if (state_ && state_->isBusy()) return true;
  return std::any_of(retired_.begin(), retired_.end(),
                     [](const QPointer<DuplicatesState>& s) { return s && s->isBusy(); });
}

}  // namespace tallyfox
