#include "views/SnapshotsFolder.h"

#include "model/Settings.h"

#include <tallyfox/SnapshotPaths.h>

#include <QFileDialog>

namespace tallyfox {

bool chooseSnapshotsFolder(Settings& settings, QWidget* parent) {
  QFileDialog dialog(parent, QStringLiteral("Choose where Tallyfox and tfscan save snapshots"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Use Folder"));
  dialog.setDirectory(QString::fromStdString(settings.snapshotsFolder().string()));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !settings.store())
    return false;
  settings.setSnapshotsFolder(dialog.selectedFiles().front().toStdString());
  return true;
}

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
