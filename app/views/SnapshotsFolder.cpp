#include "views/SnapshotsFolder.h"

#include "platform/FileManager.h"

#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>

#include <QFileDialog>

#include <exception>
#include <filesystem>
#include <system_error>

namespace tallyfox {

namespace SnapshotsFolder {

QString displayPath() {
  return QString::fromStdString(
      PathText::abbreviateTilde(SnapshotsFolder::ofUser(Preferences::standard()).string()));
}

bool choose(QWidget* parent) {
  auto preferences = Preferences::standard();
  QFileDialog dialog(parent, QStringLiteral("Choose where Tallyfox and tfscan save snapshots"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Use Folder"));
  dialog.setDirectory(QString::fromStdString(SnapshotsFolder::ofUser(Preferences::standard()).string()));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !preferences) return false;
  const std::string chosen = dialog.selectedFiles().front().toStdString();
  try {
    preferences->set(Preferences::snapshotsFolderKey, PathText::abbreviateTilde(chosen));
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void reveal() {
  const std::filesystem::path folder = SnapshotsFolder::ofUser(Preferences::standard());
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  FileManager::system()->reveal(QString::fromStdString(folder.string()));
}

}  // namespace SnapshotsFolder

std::optional<QString> chooseFolderToScan(QWidget* parent) {
  QFileDialog dialog(parent, QStringLiteral("Scan Folder"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Scan"));
  dialog.setDirectory(QString::fromStdString(PathText::homeDirectory()));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

}  // namespace tallyfox
