#include "model/Settings.h"

#include <tallyfox/GrowthReport.h>
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

std::optional<QSize> Settings::browserWindowSize() const {
  if (!store_) return std::nullopt;
  const auto value = store_->get(browserWindowSizeKey);
  if (!value || !value->is_object()) return std::nullopt;
  const auto side = [&](const char* name) -> int {
    const auto found = value->find(name);
    if (found == value->end() || !found->is_number_integer()) return 0;
    const auto number = found->get<std::int64_t>();
    // A size no screen has is a damaged value, not a wish.
    return number > 0 && number <= 100000 ? int(number) : 0;
  };
  const QSize size(side("width"), side("height"));
  if (size.width() == 0 || size.height() == 0) return std::nullopt;
  return size;
}

void Settings::setBrowserWindowSize(QSize size) {
  if (size.isEmpty() || browserWindowSize() == size) return;
  write(browserWindowSizeKey, nlohmann::json{{"width", size.width()}, {"height", size.height()}});
}

std::optional<int> Settings::browserListWidth() const {
  if (!store_) return std::nullopt;
  const auto value = store_->get(browserListWidthKey);
  if (!value || !value->is_number_integer()) return std::nullopt;
  const auto width = value->get<std::int64_t>();
  if (width <= 0 || width > 100000) return std::nullopt;
  return int(width);
}

void Settings::setBrowserListWidth(int width) {
  if (width <= 0 || browserListWidth() == width) return;
  write(browserListWidthKey, width);
}

std::vector<std::string> Settings::scheduledFolders() const {
  if (!store_) return {PathText::standardize(PathText::homeDirectory())};
  return store_->scheduledFolders();
}

void Settings::setScheduledFolders(const std::vector<std::string>& folders) {
  if (folders == scheduledFolders()) return;
  nlohmann::json list = nlohmann::json::array();
  for (const std::string& folder : folders) list.push_back(PathText::abbreviateTilde(folder));
  if (write(Preferences::scheduledFoldersKey, list)) emit scheduledFoldersChanged();
}

std::uint64_t Settings::growthAlertBytes() const {
  return store_ ? store_->growthAlertBytes() : GrowthReport::defaultThreshold;
}

void Settings::setGrowthAlertBytes(std::uint64_t bytes) {
  if (bytes == growthAlertBytes()) return;
  if (write(Preferences::growthAlertBytesKey, bytes)) emit growthAlertBytesChanged();
}

std::string Settings::scheduleFrequency() const {
  const auto value = store_ ? store_->getString(scheduleFrequencyKey) : std::nullopt;
  return value == "weekly" ? "weekly" : "daily";
}

void Settings::setScheduleFrequency(const std::string& frequency) {
  if (frequency != scheduleFrequency()) write(scheduleFrequencyKey, frequency);
}

QString Settings::refusal() const {
  const auto why = store_ ? store_->refusal() : std::nullopt;
  if (!why) return {};
  return QString::fromStdString(PathText::abbreviateTilde(store_->file().string())) + QStringLiteral(" is ") +
         QString::fromStdString(*why) +
         QStringLiteral(", so Tallyfox uses its default settings and saves no changes.");
}

bool Settings::write(const char* key, std::optional<nlohmann::json> value) {
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
