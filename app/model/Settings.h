#pragma once

#include <tallyfox/Preferences.h>
#include <tallyfox/Scanner.h>

#include <QObject>
#include <QSize>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tallyfox {

// The user's settings as the app sees them: the scan speed, the snapshots folder and the size
// of the last browser window, read from and written to the preferences store that tfscan
// shares. Created once at start-up;
// no view reads or writes the preferences file itself. Each value notifies when a write
// through this object changes it.
class Settings : public QObject {
  Q_OBJECT

 public:
  // Without a store (no home folder) everything reads as its default and writes do nothing.
  explicit Settings(std::optional<Preferences> store, QObject* parent = nullptr);

  const std::optional<Preferences>& store() const { return store_; }

  ScanSpeed scanSpeed() const;
  void setScanSpeed(ScanSpeed value);
  void resetScanSpeed();

  // The folder new snapshots go to, "~" expanded; the built-in folder unless one was chosen.
  std::filesystem::path snapshotsFolder() const;
  // The same with the home folder written as "~", for showing.
  QString snapshotsFolderText() const;
  // Stored with "~" for the home folder, so that the setting survives a renamed home.
  void setSnapshotsFolder(const std::filesystem::path& folder);
  void resetSnapshotsFolder();

  // The size the last browser window had, for the next one; nothing before the first window
  // closed, or when the stored value is not a plausible size.
  std::optional<QSize> browserWindowSize() const;
  void setBrowserWindowSize(QSize size);

  // The width the list was last given beside the chart, for the next window; nothing
  // before the person first moved the border, or when the stored value is not a width.
  std::optional<int> browserListWidth() const;
  void setBrowserListWidth(int width);

  // What scheduled snapshots cover, and when a growth alert speaks: tfscan --scheduled reads
  // them at each run. The folders are full paths here, stored with "~" for the home folder.
  std::vector<std::string> scheduledFolders() const;
  void setScheduledFolders(const std::vector<std::string>& folders);
  std::uint64_t growthAlertBytes() const;
  void setGrowthAlertBytes(std::uint64_t bytes);
  // How often the schedule runs, "daily" or "weekly": written into the timer, kept here to be
  // shown again.
  std::string scheduleFrequency() const;
  void setScheduleFrequency(const std::string& frequency);

  static constexpr const char* browserWindowSizeKey = "browserWindowSize";
  static constexpr const char* browserListWidthKey = "browserListWidth";
  static constexpr const char* scheduleFrequencyKey = "scheduleFrequency";

  // Why the preferences file is ignored and left as it is ("… is nested deeper than 100
  // levels, so Tallyfox uses its default settings and saves no changes"); empty when it is used.
  QString refusal() const;

 signals:
  void scanSpeedChanged();
  void snapshotsFolderChanged();
  void scheduledFoldersChanged();
  void growthAlertBytesChanged();

 private:
  // False when the store is missing or cannot be written; the value then stays as it was.
  bool write(const char* key, std::optional<nlohmann::json> value);

  std::optional<Preferences> store_;
};

}  // namespace tallyfox
