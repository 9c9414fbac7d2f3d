// The window's title bar, the paths of its entries on disk, the preview, and switching the
// window to another snapshot. What acts on the files is FileActions.
#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/Documents.h"
#include "model/Format.h"
#include "model/OutsideModel.h"
#include "model/RemoteBrowsing.h"
#include "model/Settings.h"
#include "model/SshTarget.h"
#include "platform/LocalPath.h"

#include <tallyfox/EntryNames.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <filesystem>
#include <system_error>

namespace tallyfox {

namespace {

// The path a node has in the tree, wherever the tree was scanned.
std::optional<QByteArray> treePath(const DiskTreePtr& tree, std::optional<NodeId> node) {
  if (!tree || !node || !EntryNames::hasPlainPath(*tree, *node)) return std::nullopt;
  return QByteArray::fromStdString(tree->filePath(*node));
}

}  // namespace

QString BrowserModel::windowTitle() const {
  if (!tree_) {
    if (!fileURL_) return QStringLiteral("Tallyfox");
    return QString::fromStdString(fileURL_->filename().string());
  }
  if (const auto& outside = outside_->outsidePath()) return displayName(QString::fromStdString(*outside));
  if (current_ != DiskTree::root) return QString::fromStdString(tree_->name(current_));
  if (tree_->rootPath().empty()) return QStringLiteral("All roots");
  if (const auto host = RemoteBrowsing::hostOf(*this))
    return RemoteSnapshots::displayPath(host,
                                        QString::fromStdString(SnapshotPaths::canonical(tree_->rootPath())));
  return displayName(QString::fromStdString(SnapshotPaths::canonical(tree_->rootPath())));
}

QString BrowserModel::windowSubtitle() const {
  if (!tree_) return {};
  const QString date = comparing_->scanTimeText(tree_->scanStart());
  if (outside_->isShown()) return QStringLiteral("Outside the snapshot from ") + date;
  return QStringLiteral("Snapshot from ") + date;
}

std::optional<QByteArray> BrowserModel::filePath(OptionalNode node) const {
  // A remote snapshot's paths name files on another machine: whatever acts on a file here
  // (open, reveal, preview, Trash, terminal) finds none, even where a local file happens to
  // have the same path.
  if (RemoteBrowsing::hostOf(*this)) return std::nullopt;
  return treePath(tree_, node ? node : selection_);
}

std::optional<QString> BrowserModel::path(OptionalNode node) const {
  const std::optional<QByteArray> bytes = treePath(tree_, node ? node : selection_);
  if (!bytes) return std::nullopt;
  return RemoteSnapshots::displayPath(RemoteBrowsing::hostOf(*this), displayPath(*bytes));
}

QUrl BrowserModel::currentFolderURL() const {
  const std::optional<QByteArray> folder = filePath(current_);
  return folder && existsOnDisk(*folder) ? fileUrl(*folder) : QUrl();
}

namespace {

// The file as the system finds it: absolute, links resolved where they exist.
std::filesystem::path resolvedFile(const std::filesystem::path& file) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(file, error);
  if (error) return file.lexically_normal();
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
  return error ? absolute.lexically_normal() : resolved;
}

}  // namespace

bool BrowserModel::isOwnFile(const std::filesystem::path& file) const {
  return fileURL_ && resolvedFile(file) == resolvedFile(*fileURL_);
}

void BrowserModel::switchTo(const std::filesystem::path& file, bool keepCurrent) {
  Documents* documents = services_.documents;
  if (!documents || isOwnFile(file)) return;
  const std::optional<std::filesystem::path> leaving = keepCurrent ? std::nullopt : fileURL_;
  documents->openDocument(file);
  // Closed whatever became of the other file: the window changes its content either way.
  if (leaving) documents->closeDocument(*leaving);
}

std::vector<RecentSnapshot> BrowserModel::switchCandidates() const {
  const std::filesystem::path folder = services_.settings ? services_.settings->snapshotsFolder()
                                                          : SnapshotsFolder::ofUser(Preferences::standard());
  std::vector<RecentSnapshot> found = RecentSnapshot::find(
      15, folder,
      services_.documents ? services_.documents->recentDocuments() : std::vector<std::filesystem::path>{});
  // Switching stays on one machine: this computer's snapshots, or one host's.
  const std::optional<QString> host = RemoteBrowsing::hostOf(*this);
  std::erase_if(found, [&](const RecentSnapshot& recent) { return recent.host(folder) != host; });
  return found;
}

void BrowserModel::togglePreview(OptionalNode node) {
  if (!previewURL_.isEmpty()) {
    setPreviewURL(QUrl());
    return;
  }
  const std::optional<QByteArray> target = filePath(node);
  if (target && existsOnDisk(*target)) {
    previewPath_ = *target;
    setPreviewURL(fileUrl(*target));
  } else
    beep();
}

}  // namespace tallyfox
