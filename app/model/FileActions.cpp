#include "model/FileActions.h"

#include "model/Background.h"
#include "model/BrowserModel.h"
#include "model/DeleteListExport.h"
#include "model/Documents.h"
#include "model/Settings.h"
#include "platform/LocalPath.h"

#include <tallyfox/EntryNames.h>
#include <tallyfox/SnapshotFile.h>

#include <QPointer>

#include <exception>
#include <filesystem>
#include <system_error>

namespace tallyfox {

FileActions::FileActions(BrowserModel& browser) : QObject(&browser), browser_(browser) {}

void FileActions::revealInFinder(OptionalNode node) {
  std::optional<QByteArray> target = browser_.filePath(node);
  if (!target) {
    browser_.beep();
    return;
  }
  // A path that is gone reveals its nearest ancestor that is still there.
  QByteArray p = *target;
  while (p != "/" && !p.isEmpty() && !existsOnDisk(p)) p = parentPath(p);
  if (browser_.services().desktop.fileManager) browser_.services().desktop.fileManager->reveal(p);
}

void FileActions::openSelection(OptionalNode node) {
  const std::optional<QByteArray> target = browser_.filePath(node);
  if (!target || !existsOnDisk(*target)) {
    browser_.beep();
    return;
  }
  if (browser_.services().desktop.opener) browser_.services().desktop.opener->open(*target);
}

void FileActions::copyFileReference(OptionalNode node) {
  const std::optional<QByteArray> target = browser_.filePath(node);
  if (!target) return;
  if (browser_.services().desktop.clipboard)
    browser_.services().desktop.clipboard->copyFileReference(*target);
}

void FileActions::copyPath(OptionalNode node) {
  const std::optional<QString> target = browser_.path(node);
  if (!target) return;
  if (browser_.services().desktop.clipboard) browser_.services().desktop.clipboard->copyText(*target);
}

void FileActions::copyName(OptionalNode node) {
  // The name as the snapshot has it, a remote one's too.
  const DiskTreePtr& tree = browser_.tree();
  const std::optional<NodeId> target = node ? node : browser_.selection();
  if (!tree || !target || !EntryNames::hasPlainPath(*tree, *target) || !browser_.services().desktop.clipboard)
    return;
  browser_.services().desktop.clipboard->copyText(
      displayLastComponent(QByteArray::fromStdString(tree->filePath(*target))));
}

void FileActions::copyPathForShell(OptionalNode node) {
  const std::optional<QByteArray> target = browser_.filePath(node);
  if (!target || !browser_.services().desktop.clipboard) return;
  browser_.services().desktop.clipboard->copyText(DeleteListExport::shellQuoted(*target));
}

void FileActions::openInTerminal(const QByteArray& folder) {
  if (!EntryNames::isPlainPath(std::string_view(folder.constData(), std::size_t(folder.size())))) {
    browser_.beep();
    return;
  }
  if (!browser_.services().desktop.terminal) return;
  // With no terminal installed there is nothing to open; the beep says so.
  if (browser_.services().desktop.terminal->openIn(folder)) browser_.beep();
}

void FileActions::saveSnapshotAs() {
  const DiskTreePtr tree = browser_.tree();
  if (!tree) return;
  const Services& services = browser_.services();
  const std::filesystem::path folder =
      services.settings ? services.settings->snapshotsFolder() : SnapshotsFolder::resolve(std::nullopt);
  // Also makes the folder, so that the chooser can start in it.
  const std::string& root = tree->rootPath();
  std::filesystem::path proposed;
  try {
    proposed = SnapshotsFolder::newSnapshotPath(folder, root.empty() ? "snapshot" : root, tree->scanStart());
  } catch (const std::exception& e) {
    browser_.requests().alert(QStringLiteral("Couldn't save the snapshot"), QString::fromStdString(e.what()));
    return;
  }
  const QPointer<FileActions> self(this);
  auto request = std::make_shared<FileRequest>(FileRequest::Kind::save, [self](auto chosen) {
    // The tree the window shows when the person confirms.
    const DiskTreePtr tree = self ? self->browser_.tree() : nullptr;
    if (!tree || !chosen) return;
    std::filesystem::path file = *chosen;
    // Without its extension the file would not be offered for opening again.
    if (!file.has_extension()) file += std::string(".") + SnapshotFile::fileExtension;
    Background::run(
        self,
        [tree, file] {
          try {
            tree->write(file);
            return QString();
          } catch (const std::exception& e) {
            return QString::fromLocal8Bit(e.what());
          }
        },
        [self, file](const QString& error) {
          if (!error.isEmpty())
            self->browser_.requests().alert(QStringLiteral("Couldn't save the snapshot"), error);
          else if (Documents* documents = self->browser_.services().documents)
            documents->noteRecentDocument(file);
        });
  });
  request->message = QStringLiteral("Save Snapshot As");
  request->folder = folder;
  request->proposedName = QString::fromStdString(proposed.filename().string());
  request->nameFilters = {QStringLiteral("Snapshots (*.tfsnap)")};
  browser_.requests().ask(request);
}

}  // namespace tallyfox
