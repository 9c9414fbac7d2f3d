#include "model/Settings.h"

#include <tallyfox/SnapshotPaths.h>

#include <exception>

namespace tallyfox {

Settings::Settings(std::optional<Preferences> store, QObject* parent)
    : QObject(parent), store_(std::move(store)) {}

ScanSpeed Settings::scanSpeed() const {
  return store_ ? store_->scanSpeed() : ScanSpeed::fast;
}

void Settings::setScanSpeed(ScanSpeed value) {
  if (value == scanSpeed()) return;
  if (write(Preferences::scanSpeedKey, std::string(rawValue(value)))) emit scanSpeedChanged();
}

void Settings::resetScanSpeed() {
  const ScanSpeed before = scanSpeed();
  if (write(Preferences::scanSpeedKey, std::nullopt) && scanSpeed() != before) emit scanSpeedChanged();
}

std::filesystem::path Settings::snapshotsFolder() const {
  return SnapshotsFolder::ofUser(store_);
}

QString Settings::snapshotsFolderText() const {
  return QString::fromStdString(PathText::abbreviateTilde(snapshotsFolder().string()));
}

void Settings::setSnapshotsFolder(const std::filesystem::path& folder) {
  const std::filesystem::path before = snapshotsFolder();
  if (write(Preferences::snapshotsFolderKey, PathText::abbreviateTilde(folder.string())) &&
      snapshotsFolder() != before)
    emit snapshotsFolderChanged();
}

void Settings::resetSnapshotsFolder() {
  const std::filesystem::path before = snapshotsFolder();
  if (write(Preferences::snapshotsFolderKey, std::nullopt) && snapshotsFolder() != before)
    emit snapshotsFolderChanged();
}

bool Settings::write(const char* key, std::optional<std::string> value) {
  if (!store_) return false;
  try {
    if (value)
      store_->set(key, *value);
    else
      store_->remove(key);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tallyfox
