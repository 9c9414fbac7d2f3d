#include "model/GrowthAlert.h"

#include "model/Format.h"

#include <tallyfox/ScheduledSnapshots.h>
#include <tallyfox/SnapshotPaths.h>

#include <QStringList>

#include <cmath>

namespace tallyfox {

namespace {

QString shown(const std::string& path) {
  return QString::fromStdString(PathText::abbreviateTilde(path));
}

}  // namespace

std::variant<GrowthAlert, QString> GrowthAlert::forSnapshot(const std::filesystem::path& snapshot) {
  const std::filesystem::path folder = snapshot.parent_path();
  const ScheduledSnapshots::Index index = ScheduledSnapshots::read(folder);
  if (index.damage)
    return QStringLiteral("The index of scheduled snapshots in %1 is damaged: %2")
        .arg(shown(folder.string()), QString::fromStdString(*index.damage));
  const ScheduledSnapshots::Entry* entry = nullptr;
  for (const auto& candidate : index.entries)
    if (candidate.file == snapshot.filename().native()) entry = &candidate;
  if (!entry) return QStringLiteral("%1 is not a scheduled snapshot.").arg(shown(snapshot.string()));
  if (!entry->growth) return QStringLiteral("No growth was recorded for %1.").arg(shown(snapshot.string()));
  const GrowthReport::Report& report = *entry->growth;
  if (!report.alert())
    return QStringLiteral("Nothing grew past the threshold in %1.").arg(shown(report.place));

  GrowthAlert alert;
  alert.snapshot = snapshot;
  if (report.previous) {
    // The index may name the earlier snapshot by its place in the same folder.
    const std::filesystem::path previous(*report.previous);
    alert.previous = previous.is_absolute() ? previous : folder / previous;
  }
  alert.folder = report.folders.empty() ? report.place : report.folders.front().path;

  QStringList lines;
  for (const GrowthReport::Folder& grown : report.folders)
    lines << shown(grown.path) + QStringLiteral(" grew by ") +
                 Format::bytes(std::uint64_t(std::max<std::int64_t>(grown.grew(), 0)));
  if (report.spaceFellLow && report.space && report.space->totalBytes > 0) {
    const double share = double(report.space->freeBytes) / double(report.space->totalBytes);
    lines << QStringLiteral("Free space is down to %1 (%2 %)")
                 .arg(Format::bytes(report.space->freeBytes))
                 .arg(std::floor(share * 1000) / 10);
  }
  alert.body = lines.join(QLatin1Char('\n'));
  if (!report.folders.empty())
    alert.summary = (report.folders.size() == 1 ? QStringLiteral("A folder grew in ")
                                                : QStringLiteral("Folders grew in ")) +
                    shown(report.place);
  else
    alert.summary = QStringLiteral("Free space is running low for ") + shown(report.place);
  return alert;
}

}  // namespace tallyfox
