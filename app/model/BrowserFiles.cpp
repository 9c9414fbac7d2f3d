// The window's title bar, and the actions that reach a node's file on disk.
#include "model/BrowserModel.h"
#include "model/Comparison.h"
#include "model/DeleteList.h"
#include "model/Documents.h"
#include "model/Format.h"
#include "model/Outside.h"
#include "model/RemoteBrowsing.h"
#include "model/RemoteHost.h"
#include "model/Settings.h"
#include "platform/LocalPath.h"

#include <tallyfox/EntryNames.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <QCoreApplication>
#include <QPointer>
#include <QtConcurrent>

#include <exception>
#include <filesystem>
#include <system_error>

namespace tallyfox {

namespace {

// Something is there, even a dangling symbolic link: that is what a file manager shows.
bool existsOnDisk(const QByteArray& path) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(std::filesystem::path(path.toStdString()), error);
  return !error && status.type() != std::filesystem::file_type::not_found;
}

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

void BrowserModel::revealInFinder(OptionalNode node) {
  std::optional<QByteArray> target = filePath(node);
  if (!target) {
    beep();
    return;
  }
  // A path that is gone reveals its nearest ancestor that is still there.
  QByteArray p = *target;
  while (p != "/" && !p.isEmpty() && !existsOnDisk(p)) p = parentPath(p);
  if (services_.desktop.fileManager) services_.desktop.fileManager->reveal(p);
}

void BrowserModel::openSelection(OptionalNode node) {
  const std::optional<QByteArray> target = filePath(node);
  if (!target || !existsOnDisk(*target)) {
    beep();
    return;
  }
  if (services_.desktop.opener) services_.desktop.opener->open(*target);
}

void BrowserModel::copyFileReference(OptionalNode node) {
  const std::optional<QByteArray> target = filePath(node);
  if (!target) return;
  if (services_.desktop.clipboard) services_.desktop.clipboard->copyFileReference(*target);
}

void BrowserModel::copyPath(OptionalNode node) {
  const std::optional<QString> target = path(node);
  if (!target) return;
  if (services_.desktop.clipboard) services_.desktop.clipboard->copyText(*target);
}

void BrowserModel::copyName(OptionalNode node) {
  const std::optional<QByteArray> bytes = treePath(tree_, node ? node : selection_);
  if (!bytes || !services_.desktop.clipboard) return;
  services_.desktop.clipboard->copyText(displayLastComponent(*bytes));
}

void BrowserModel::copyPathForShell(OptionalNode node) {
  const std::optional<QByteArray> target = filePath(node);
  if (!target || !services_.desktop.clipboard) return;
  services_.desktop.clipboard->copyText(DeleteList::shellQuoted(*target));
}

void BrowserModel::openInTerminal(const QByteArray& folder) {
  if (!EntryNames::isPlainPath(std::string_view(folder.constData(), std::size_t(folder.size())))) {
    beep();
    return;
  }
  if (!services_.desktop.terminal) return;
  // With no terminal installed there is nothing to open; the beep says so.
  if (services_.desktop.terminal->openIn(folder)) beep();
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

void BrowserModel::saveSnapshotAs() {
  if (!tree_) return;
  const std::filesystem::path folder =
      services_.settings ? services_.settings->snapshotsFolder() : SnapshotsFolder::resolve(std::nullopt);
  // Also makes the folder, so that the chooser can start in it.
  const std::string& root = tree_->rootPath();
  std::filesystem::path proposed;
  try {
    proposed = SnapshotsFolder::newSnapshotPath(folder, root.empty() ? "snapshot" : root, tree_->scanStart());
  } catch (const std::exception& e) {
    requests_.alert(QStringLiteral("Couldn't save the snapshot"), QString::fromStdString(e.what()));
    return;
  }
  const QPointer<BrowserModel> self(this);
  auto request = std::make_shared<FileRequest>(FileRequest::Kind::save, [self](auto chosen) {
    if (!self || !chosen || !self->tree_) return;
    std::filesystem::path file = *chosen;
    // Without its extension the file would not be offered for opening again.
    if (!file.has_extension()) file += std::string(".") + SnapshotFile::fileExtension;
    (void)QtConcurrent::run([self, tree = self->tree_, file] {
      QString error;
      try {
        tree->write(file);
      } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
      }
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [self, file, error] {
            if (!self) return;
            if (!error.isEmpty())
              self->requests_.alert(QStringLiteral("Couldn't save the snapshot"), error);
            else if (self->services_.documents)
              self->services_.documents->noteRecentDocument(file);
          },
          Qt::QueuedConnection);
    });
  });
  request->message = QStringLiteral("Save Snapshot As");
  request->folder = folder;
  request->proposedName = QString::fromStdString(proposed.filename().string());
  request->nameFilters = {QStringLiteral("Snapshots (*.tfsnap)")};
  requests_.ask(request);
}

}  // namespace tallyfox
