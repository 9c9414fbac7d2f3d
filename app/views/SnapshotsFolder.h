#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace tallyfox {

class Settings;

// Asks for the folder where the app and tfscan save snapshots; when the user confirms,
// stores it in the settings. True when something was stored.
bool chooseSnapshotsFolder(Settings& settings, QWidget* parent = nullptr);

// Asks for a folder to scan, with "Scan" on the confirming button; nothing when cancelled.
std::optional<QString> chooseFolderToScan(QWidget* parent = nullptr);

}  // namespace tallyfox
