#include "model/OutsideModel.h"

#include "model/BrowserModel.h"
#include "model/RemoteBrowsing.h"

#include <tallyfox/EntryNames.h>
#include <tallyfox/SnapshotPaths.h>

#include <QCollator>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace tallyfox {

namespace {

std::vector<std::string> piecesOf(const std::string& path) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    if (slash > start) pieces.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return pieces;
}

std::string joined(const std::vector<std::string>& pieces, std::size_t count) {
  std::string path;
  for (std::size_t k = 0; k < count; ++k) path += "/" + pieces[k];
  return path.empty() ? "/" : path;
}

// Reads a folder's names and looks at each without following links; `keep` decides by name.
template <typename Keep>
std::vector<OutsideEntry> read(const std::string& folder, Keep keep) {
  std::vector<OutsideEntry> entries;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return entries;
  while (const dirent* found = readdir(dir)) {
    const char* name = found->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || !keep(name)) continue;
    struct stat info {};
    if (fstatat(dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    OutsideEntry entry;
    entry.name = name;
    entry.path = PathText::appendComponent(folder, name);
    entry.isDirectory = S_ISDIR(info.st_mode);
    if (!entry.isDirectory) entry.fileSize = std::uint64_t(info.st_blocks) * 512;
    entries.push_back(std::move(entry));
  }
  closedir(dir);
  return entries;
}

// Marked entries first (the snapshot's own), then folders, then files by size, larger
// first; otherwise by name as a file manager orders them ("file2" before "file10").
void sortEntries(std::vector<OutsideEntry>& entries) {
  // Qt compares plain code points in the C locale, numbers included; a file manager orders
  // "file2" before "file10" there too, so the C locale collates as English does.
  const QLocale system;
  QCollator collator(system.language() == QLocale::C ? QLocale(QLocale::English) : system);
  collator.setNumericMode(true);
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::vector<QString> names;
  names.reserve(entries.size());
  for (const OutsideEntry& e : entries) names.push_back(QString::fromStdString(e.name));
  std::vector<std::size_t> order(entries.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const OutsideEntry& x = entries[a];
    const OutsideEntry& y = entries[b];
    const bool xMarked = x.relation != OutsideEntry::Relation::notScanned;
    const bool yMarked = y.relation != OutsideEntry::Relation::notScanned;
    if (xMarked != yMarked) return xMarked;
    if (x.isDirectory != y.isDirectory) return x.isDirectory;
    if (x.fileSize && y.fileSize && *x.fileSize != *y.fileSize) return *x.fileSize > *y.fileSize;
    if (const int byName = collator.compare(names[a], names[b])) return byName < 0;
    return x.name < y.name;
  });
  std::vector<OutsideEntry> sorted;
  sorted.reserve(entries.size());
  for (std::size_t k : order) sorted.push_back(std::move(entries[k]));
  entries = std::move(sorted);
}

}  // namespace

OutsideModel::OutsideModel(BrowserModel& browser) : QObject(&browser), browser_(browser) {
  connect(&browser, &BrowserModel::currentChanged, this, &OutsideModel::readUnscanned);
  connect(&browser, &BrowserModel::treeChanged, this, &OutsideModel::readUnscanned);
}

OutsideModel::~OutsideModel() = default;

std::vector<OutsideEntry> OutsideModel::list(const std::string& folder, const std::string& canonicalRoot) {
  std::vector<OutsideEntry> entries = read(folder, [](const char*) { return true; });
  for (OutsideEntry& entry : entries) {
    if (entry.path == canonicalRoot)
      entry.relation = OutsideEntry::Relation::scannedRoot;
    else if (entry.isDirectory && canonicalRoot.size() > entry.path.size() &&
             canonicalRoot.starts_with(entry.path) && canonicalRoot[entry.path.size()] == '/')
      entry.relation = OutsideEntry::Relation::containsScan;
  }
  sortEntries(entries);
  return entries;
}

std::vector<OutsideEntry> OutsideModel::listUnscanned(const std::string& folder,
                                                      const std::set<std::string>& scanned) {
  std::vector<OutsideEntry> entries = read(folder, [&](const char* name) { return !scanned.contains(name); });
  sortEntries(entries);
  return entries;
}

std::string OutsideModel::commonAncestor(const std::string& a, const std::string& b) {
  const auto x = piecesOf(a);
  const auto y = piecesOf(b);
  std::size_t shared = 0;
  while (shared < x.size() && shared < y.size() && x[shared] == y[shared]) ++shared;
  return joined(x, shared);
}

std::string OutsideModel::parentOf(const std::string& path) {
  const auto pieces = piecesOf(path);
  return joined(pieces, pieces.empty() ? 0 : pieces.size() - 1);
}

std::string OutsideModel::canonicalRoot() const {
  const DiskTreePtr& tree = browser_.tree();
  if (!tree || tree->rootPath().empty()) return {};
  return SnapshotPaths::canonical(tree->rootPath());
}

std::vector<std::string> OutsideModel::outsideAncestors() const {
  // The folders around a remote snapshot are on its host; this computer's are not them.
  if (!RemoteBrowsing::hasLocalFiles(browser_)) return {};
  const std::string root = canonicalRoot();
  if (root.empty() || !root.starts_with('/')) return {};
  const auto pieces = piecesOf(root);
  std::vector<std::string> ancestors;
  for (std::size_t k = 0; k < pieces.size(); ++k) ancestors.push_back(joined(pieces, k));
  return ancestors;
}

// ---- Moving

void OutsideModel::showOutside(const std::string& path) {
  if (!browser_.tree()) return;
  if (!RemoteBrowsing::hasLocalFiles(browser_)) {
    if (browser_.services().desktop.beep) browser_.services().desktop.beep->beep();
    return;
  }
  browser_.recordHistory();
  browser_.setFilter(QString());
  browser_.setIsFiltering(false);
  browser_.setExpanded({});
  setOutsideSelection(std::nullopt);
  setOutsidePath(path);
}

void OutsideModel::goUpOutside() {
  if (!outsidePath_ || *outsidePath_ == "/") {
    if (browser_.services().desktop.beep) browser_.services().desktop.beep->beep();
    return;
  }
  const std::string left = *outsidePath_;
  showOutside(parentOf(left));
  setOutsideSelection(left);
}

void OutsideModel::moveOutside(int delta) {
  if (entries_.empty()) return;
  const auto count = std::int64_t(entries_.size());
  std::int64_t start = delta > 0 ? -1 : count;
  for (std::int64_t k = 0; outsideSelection_ && k < count; ++k)
    if (entries_[std::size_t(k)].path == *outsideSelection_) start = k;
  const std::int64_t next = std::clamp<std::int64_t>(start + delta, 0, count - 1);
  setOutsideSelection(entries_[std::size_t(next)].path);
}

void OutsideModel::openOutside(const OutsideEntry& entry) {
  switch (entry.relation) {
    case OutsideEntry::Relation::scannedRoot:
      backInside();
      return;
    case OutsideEntry::Relation::containsScan:
      showOutside(entry.path);
      return;
    case OutsideEntry::Relation::notScanned:
      if (entry.isDirectory) setOutsideSelection(entry.path);
      return;
  }
}

void OutsideModel::backInside() {
  leave();
  browser_.navigate(DiskTree::root, std::nullopt);
}

void OutsideModel::leave() {
  setOutsideSelection(std::nullopt);
  setOutsidePath(std::nullopt);
}

// ---- Properties and listings

void OutsideModel::setOutsidePath(const std::optional<std::string>& value) {
  if (outsidePath_ == value) return;
  outsidePath_ = value;
  readEntries();
  emit outsidePathChanged();
}

void OutsideModel::setOutsideSelection(const std::optional<std::string>& value) {
  if (outsideSelection_ == value) return;
  outsideSelection_ = value;
  emit outsideSelectionChanged();
}

void OutsideModel::readEntries() {
  entriesLane_.stop();
  if (!entries_.empty()) {
    entries_.clear();
    emit entriesChanged();
  }
  if (!outsidePath_) return;
  Background::run(
      this, entriesLane_, [folder = *outsidePath_, root = canonicalRoot()] { return list(folder, root); },
      [this](std::vector<OutsideEntry> entries) {
        entries_ = std::move(entries);
        // The first of the snapshot's own entries, else the first; unless one was chosen.
        if (!outsideSelection_ && !entries_.empty()) {
          const auto own = std::find_if(entries_.begin(), entries_.end(), [](const OutsideEntry& e) {
            return e.relation != OutsideEntry::Relation::notScanned;
          });
          setOutsideSelection(own != entries_.end() ? own->path : entries_.front().path);
        }
        emit entriesChanged();
      });
}

void OutsideModel::readUnscanned() {
  unscannedLane_.stop();
  if (!unscanned_.empty()) {
    unscanned_.clear();
    emit unscannedChanged();
  }
  const DiskTreePtr& tree = browser_.tree();
  const NodeId folder = browser_.current();
  if (!tree || tree->rootPath().empty() || !tree->contains(folder) || !tree->isPartial(folder)) return;
  if (!RemoteBrowsing::hasLocalFiles(browser_)) return;
  // What lies on disk beside a folder's scanned entries is listed from its path; one that
  // does not lead to the folder would offer another folder's entries.
  if (!EntryNames::hasPlainPath(*tree, folder)) return;
  const std::string path = tree->filePath(folder);
  std::set<std::string> scanned;
  for (NodeId child : tree->children(folder)) {
    const auto name = tree->nameView(child);
    scanned.emplace(name.begin(), name.end());
  }
  Background::run(
      this, unscannedLane_,
      [path = SnapshotPaths::canonical(path), scanned = std::move(scanned)] {
        return listUnscanned(path, scanned);
      },
      [this](std::vector<OutsideEntry> entries) {
        unscanned_ = std::move(entries);
        emit unscannedChanged();
      });
}

}  // namespace tallyfox
