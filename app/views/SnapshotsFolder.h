#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace tallyfox {

// Where snapshots are saved, as the user sees and changes it.
namespace SnapshotsFolder {

// The snapshots folder with the home folder written as "~".
QString displayPath();
// Asks for a folder; when the user confirms, stores it (with "~" for the home folder) as the
// snapshots folder that the app and tfscan share. True when something was stored.
bool choose(QWidget* parent = nullptr);
// Creates the folder when missing and shows it in the file manager.
void reveal();

}  // namespace SnapshotsFolder

// Asks for a folder to scan, with "Scan" on the confirming button; nothing when cancelled.
std::optional<QString> chooseFolderToScan(QWidget* parent = nullptr);

}  // namespace tallyfox
