#include "model/RecentSnapshot.h"

#include "model/BrowserModel.h"
#include "model/Format.h"
#include "model/SshTarget.h"

#include <tallyfox/NcduExport.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/VokSnapshotReader.h>

#include <QLocale>

#include <algorithm>
#include <limits>
#include <system_error>
#include <unordered_set>

namespace tallyfox {

namespace {

namespace fs = std::filesystem;

void addListing(const fs::path& folder, std::vector<fs::path>& out) {
  std::error_code error;
  fs::directory_iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) {
    const auto extension = it->path().extension();
    if (extension == ".tfsnap" || extension == ".vok") out.push_back(it->path());
  }
}

fs::path resolved(const fs::path& file) {
  std::error_code error;
  fs::path real = fs::weakly_canonical(file, error);
  return error ? file : real;
}

bool isTemporaryPlace(const std::string& path) {
  for (const char* prefix : {"/tmp/", "/private/tmp/", "/private/var/folders/", "/var/folders/"})
    if (path.starts_with(prefix)) return true;
  return false;
}

std::chrono::system_clock::time_point modificationTime(const fs::path& file) {
  std::error_code error;
  const auto time = fs::last_write_time(file, error);
  if (error) return std::chrono::system_clock::time_point::min();
  return std::chrono::file_clock::to_sys(time);
}

}  // namespace

std::optional<RecentSnapshot> RecentSnapshot::from(const fs::path& file) {
  RecentSnapshot snapshot;
  snapshot.url = file;
  const auto header = SnapshotFile::readInfo(file);
  if (!header && NcduExport::matches(file)) {
    const auto peeked = NcduExport::peek(file);
    if (!peeked) return std::nullopt;
    snapshot.root = peeked->rootPath;
    snapshot.date = peeked->scanStart;
    return snapshot;
  }
  if (!header) {
    snapshot.root = VokSnapshotReader::basePath(file).value_or("");
    snapshot.date = modificationTime(file);
    snapshot.isVok = true;
    return snapshot;
  }
  if (!header->complete) return std::nullopt;
  snapshot.root = header->info.rootPath;
  snapshot.date = header->info.scanStart;
  snapshot.entries = std::int64_t(header->nodeCount) - 1;
  snapshot.totalBytes = SnapshotFile::totalBytes(file);
  return snapshot;
}

std::vector<RecentSnapshot> RecentSnapshot::find(std::size_t limit, const fs::path& snapshotsFolder,
                                                 const std::vector<fs::path>& recentDocuments) {
  std::vector<fs::path> candidates;
  addListing(snapshotsFolder, candidates);
  std::error_code hostsError;
  for (fs::directory_iterator it(RemoteSnapshots::hostsFolder(snapshotsFolder), hostsError), end;
       !hostsError && it != end; it.increment(hostsError))
    if (it->is_directory()) addListing(it->path(), candidates);
  addListing(PathText::expandTilde("~/.local/share/vok-snap"), candidates);
  std::error_code error;
  const fs::path homeVok = fs::path(PathText::homeDirectory()) / ".vok";
  if (fs::exists(homeVok, error)) candidates.push_back(homeVok);
  for (const auto& file : recentDocuments)
    if (fs::exists(file, error)) candidates.push_back(file);

  std::vector<RecentSnapshot> found;
  std::unordered_set<std::string> seen;
  for (const auto& candidate : candidates) {
    const std::string real = resolved(candidate).string();
    if (isTemporaryPlace(real)) continue;
    if (!seen.insert(PathText::standardize(real)).second) continue;
    if (auto snapshot = from(candidate)) found.push_back(std::move(*snapshot));
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.date > b.date; });
  if (found.size() > limit) found.resize(limit);
  return found;
}

std::optional<QString> RecentSnapshot::host(const fs::path& snapshotsFolder) const {
  return RemoteSnapshots::hostOf(url, snapshotsFolder);
}

QString RecentSnapshot::name() const {
  if (root.empty()) return QString::fromStdString(url.filename().string());
  return BrowserModel::displayName(QString::fromStdString(SnapshotPaths::canonical(root)));
}

QString RecentSnapshot::detail() const {
  QStringList parts;
  // "~" is this computer's home; another machine's paths are shown whole, after its name
  // (the folder it is kept in, below hosts/).
  const fs::path kept = url.parent_path();
  const bool remote = kept.parent_path().filename() == RemoteSnapshots::hostsFolder({}).filename();
  if (!root.empty())
    parts << (remote ? RemoteSnapshots::displayPath(QString::fromStdString(kept.filename().string()),
                                                    QString::fromStdString(root))
                     : QString::fromStdString(PathText::abbreviateTilde(root)));
  if (totalBytes)
    parts << Format::bytes(std::min<std::uint64_t>(*totalBytes, std::numeric_limits<std::int64_t>::max()));
  if (entries) parts << Format::compactCount(std::uint64_t(std::max<std::int64_t>(*entries, 0))) + " items";
  if (isVok) parts << QStringLiteral("vok");
  return parts.join(QStringLiteral(" \u00B7 "));
}

QString RecentSnapshot::dayHeading(const QDateTime& now) const {
  // A file whose date could not be read sorts last, under a heading of its own.
  const QString unknown = QStringLiteral("Earlier");
  if (date == std::chrono::system_clock::time_point::min()) return unknown;
  const QDate day = Format::dateTime(date).date();
  const QDate today = now.date();
  if (!day.isValid() || !today.isValid()) return unknown;
  const qint64 days = day.daysTo(today);
  if (days == 0) return QStringLiteral("Today");
  if (days == 1) return QStringLiteral("Yesterday");
  const QLocale locale;
  // A date in the future (a clock that was wrong) gets its date, not a weekday that reads
  // as the past week.
  QString heading;
  if (days > 1 && days <= 6) heading = locale.dayName(day.dayOfWeek(), QLocale::LongFormat);
  if (heading.isEmpty()) heading = Format::abbreviatedDate(day, locale);
  if (heading.isEmpty()) heading = day.toString(Qt::ISODate);
  return heading.isEmpty() ? unknown : heading;
}

QString RecentSnapshot::time(bool seconds) const {
  if (date == std::chrono::system_clock::time_point::min()) return {};
  return Format::shortTime(Format::dateTime(date).time(), QLocale(), seconds);
}

std::vector<QString> RecentSnapshot::times(const std::vector<RecentSnapshot>& recents, const QDateTime& now) {
  // Told apart within a day's heading and a name: the same time on another day, or of
  // another place, reads differently already. No name holds a NUL.
  const std::vector<bool> alike = Format::readAlike(recents.size(), [&](std::size_t i) {
    const RecentSnapshot& r = recents[i];
    return r.dayHeading(now) + QChar(0) + r.name() + QChar(0) + r.time();
  });
  std::vector<QString> times;
  times.reserve(recents.size());
  for (std::size_t i = 0; i < recents.size(); ++i) times.push_back(recents[i].time(alike[i]));
  return times;
}

std::vector<QString> RecentSnapshot::timedNames(const std::vector<RecentSnapshot>& recents,
                                                const QDateTime& now) {
  std::vector<QString> labels = times(recents, now);
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const QString time = labels[i];
    labels[i] = recents[i].name();
    if (!time.isEmpty()) labels[i] += QStringLiteral("  ") + time;
  }
  return labels;
}

}  // namespace tallyfox
