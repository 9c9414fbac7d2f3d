#include "model/FolderHistory.h"

#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/Documents.h"
#include "model/Format.h"
#include "model/Settings.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotPaths.h>

#include <algorithm>
#include <exception>
#include <map>
#include <mutex>
#include <system_error>
#include <tuple>

namespace tallyfox {

// Shared with the reading tasks, which may outlive the model by a moment.
struct FolderHistory::Cache {
  // A file is read again only when it is no longer the file that was read: another size or
  // time of change.
  struct Opened {
    std::filesystem::file_time_type modified;
    std::uintmax_t size = 0;
    DiskTreePtr tree;
    std::optional<std::string> error;
  };

  std::mutex mutex;
  std::map<std::filesystem::path, Opened> files;

  // The tree of `file`, opened now or earlier; null with the reason when it cannot be read.
  DiskTreePtr open(const std::filesystem::path& file, std::optional<std::string>& error) {
    std::error_code failed;
    const auto modified = std::filesystem::last_write_time(file, failed);
    const auto size = failed ? 0 : std::filesystem::file_size(file, failed);
    {
      const std::lock_guard lock(mutex);
      const auto found = files.find(file);
      if (!failed && found != files.end() && found->second.modified == modified &&
          found->second.size == size) {
        error = found->second.error;
        return found->second.tree;
      }
    }
    Opened opened{modified, size, nullptr, std::nullopt};
    try {
      opened.tree = SnapshotDump::open(file);
    } catch (const std::exception& e) {
      opened.error = e.what();
    }
    error = opened.error;
    const std::lock_guard lock(mutex);
    if (!failed) files[file] = opened;
    return opened.tree;
  }

  // Lets go of the files that are gone, so that their mappings do not keep them on disk.
  void forgetMissing() {
    const std::lock_guard lock(mutex);
    std::erase_if(files, [](const auto& item) {
      std::error_code failed;
      return !std::filesystem::exists(item.first, failed);
    });
  }
};

bool FolderHistory::Point::operator==(const Point& other) const {
  const auto figuresOf = [](const Point& p) {
    return p.figures ? std::optional(std::tuple(p.figures->bytes, p.figures->entries, p.figures->uncertain))
                     : std::nullopt;
  };
  return file == other.file && started == other.started && figuresOf(*this) == figuresOf(other) &&
         error == other.error && isOwn == other.isOwn;
}

namespace {

// Stops at the next file once a newer reading overtakes it.
std::vector<FolderHistory::Point> readPoints(FolderHistory::Cache& cache, const Background::StopFlag& stop,
                                             const std::string& path, const std::filesystem::path& folder,
                                             const std::optional<std::filesystem::path>& ownFile,
                                             const DiskTreePtr& ownTree) {
  cache.forgetMissing();
  const std::optional<std::filesystem::path> own =
      ownFile ? std::optional(knownPath(*ownFile)) : std::nullopt;
  std::vector<FolderHistory::Point> points;
  bool ownListed = false;
  for (const SnapshotPaths::Listed& listed : SnapshotPaths::snapshots(path, folder)) {
    if (stop) return {};
    FolderHistory::Point point{listed.url, listed.info.scanStart, std::nullopt, std::nullopt, false};
    // The window's own tree is already open, and is what the window shows.
    if (own && knownPath(listed.url) == *own) {
      point.isOwn = ownListed = true;
      point.figures = SnapshotHistory::figuresIn(*ownTree, path);
    } else if (const DiskTreePtr tree = cache.open(listed.url, point.error)) {
      point.figures = SnapshotHistory::figuresIn(*tree, path);
    }
    points.push_back(std::move(point));
  }
  // A snapshot opened from elsewhere still belongs on its own timeline.
  if (!ownListed)
    points.push_back({ownFile.value_or(std::filesystem::path()), ownTree->scanStart(),
                      SnapshotHistory::figuresIn(*ownTree, path), std::nullopt, true});
  std::stable_sort(points.begin(), points.end(),
                   [](const auto& a, const auto& b) { return a.started < b.started; });
  return points;
}

}  // namespace

FolderHistory::FolderHistory(BrowserModel& browser)
    : QObject(&browser), browser_(browser), cache_(std::make_shared<Cache>()) {
  connect(&browser_, &BrowserModel::treeChanged, this, &FolderHistory::refresh);
  connect(&browser_, &BrowserModel::currentChanged, this, &FolderHistory::refresh);
  // A new scan of the place, or a snapshot removed, shows in the list of candidates first.
  connect(&browser_.comparing(), &ComparisonModel::candidatesChanged, this, &FolderHistory::refresh);
}

FolderHistory::~FolderHistory() = default;

void FolderHistory::setShown(bool value) {
  if (shown_ == value) return;
  shown_ = value;
  emit shownChanged();
  if (shown_) refresh();
}

std::filesystem::path FolderHistory::snapshotsFolder() const {
  if (const Settings* settings = browser_.services().settings) return settings->snapshotsFolder();
  return SnapshotsFolder::resolve(std::nullopt);
}

void FolderHistory::refresh() {
  const DiskTreePtr tree = browser_.tree();
  if (!shown_ || !tree || !tree->contains(browser_.current())) return;
  // A snapshot of no place on disk (some exports) has no other snapshots of it.
  const std::string path =
      tree->rootPath().empty() ? std::string() : SnapshotPaths::canonical(tree->path(browser_.current()));
  setReading(true);
  Background::run(
      this, lane_,
      [cache = cache_, path, folder = snapshotsFolder(), own = browser_.fileURL(),
       tree](const Background::StopFlag& stop) {
        std::vector<Point> points;
        if (!path.empty()) points = readPoints(*cache, stop, path, folder, own, tree);
        return points;
      },
      [this, path](std::vector<Point> points) {
        const bool changed = points != points_ || path != path_;
        points_ = std::move(points);
        path_ = path;
        if (changed) emit pointsChanged();
        setReading(false);
      });
}

void FolderHistory::setReading(bool value) {
  if (reading_ == value) return;
  reading_ = value;
  emit readingChanged();
}

void FolderHistory::compareWith(std::size_t index) {
  if (index >= points_.size() || points_[index].isOwn) return;
  browser_.comparing().compare(points_[index].file);
}

QString FolderHistory::describe(const Point& point) {
  QString text = Format::abbreviatedDateTime(point.started);
  if (point.isOwn) text += QStringLiteral(" (this snapshot)");
  text += QLatin1Char('\n');
  if (point.error) return text + QStringLiteral("Couldn't be read: ") + QString::fromStdString(*point.error);
  if (!point.figures) return text + QStringLiteral("Not in this snapshot");
  text += Format::bytes(point.figures->bytes) + QStringLiteral(" in ") +
          QLocale().toString(qlonglong(point.figures->entries)) +
          (point.figures->entries == 1 ? QStringLiteral(" entry") : QStringLiteral(" entries"));
  if (point.figures->uncertain) text += QStringLiteral("\nPart of it could not be read");
  return text;
}

}  // namespace tallyfox
