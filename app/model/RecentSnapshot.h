#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tallyfox {

// One snapshot file as the recent lists show it (start window, tray menu, title switcher).
struct RecentSnapshot {
  std::filesystem::path url;
  std::string root;  // empty when the file does not tell
  std::chrono::system_clock::time_point date;
  std::optional<std::int64_t> entries;      // absent for a vok file
  std::optional<std::uint64_t> totalBytes;  // absent for a vok file
  bool isVok = false;

  // Files of the snapshots folders (with each host's folder), "~/.vok" and the recent
  // documents, newest first, at most
  // `limit`. Temporary places and unfinished files are left out; never fails. Reads only the
  // file system, so it may run off the main thread.
  static std::vector<RecentSnapshot> find(std::size_t limit, const std::filesystem::path& snapshotsFolder,
                                          const std::vector<std::filesystem::path>& recentDocuments);
  // The entry for one file: nothing for a snapshot still being written; a file our reader
  // does not take is listed as a vok snapshot.
  static std::optional<RecentSnapshot> from(const std::filesystem::path& file);

  // The machine it was scanned on, for a snapshot in `snapshotsFolder`'s hosts/HOST/;
  // nothing for this computer's.
  std::optional<QString> host(const std::filesystem::path& snapshotsFolder) const;

  QString name() const;
  QString detail() const;
  // "Today", "Yesterday", a weekday within the last week, else the abbreviated date.
  QString dayHeading(const QDateTime& now = QDateTime::currentDateTime()) const;
  // The scan time in the short style, with seconds when asked for.
  QString time(bool seconds = false) const;

  // Each snapshot's name and scan time ("Documents  14:03"), as listed under day headings:
  // with seconds for two of one place and day that would otherwise read the same.
  static std::vector<QString> timedNames(const std::vector<RecentSnapshot>& recents,
                                         const QDateTime& now = QDateTime::currentDateTime());
  // The scan times alone, beside names listed elsewhere, under the same rule.
  static std::vector<QString> times(const std::vector<RecentSnapshot>& recents,
                                    const QDateTime& now = QDateTime::currentDateTime());

  bool operator==(const RecentSnapshot&) const = default;
};

}  // namespace tallyfox
