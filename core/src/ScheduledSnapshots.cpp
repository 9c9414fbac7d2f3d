#include <tallyfox/ScheduledSnapshots.h>

#include "JsonValues.h"
#include "linux/FileIO.h"

#include <tallyfox/AtomicFile.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/Unicode.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

namespace tallyfox::ScheduledSnapshots {

namespace {

constexpr int formatVersion = 1;
// Far more than years of daily scans of many places; a larger file is not ours.
constexpr std::size_t maxIndexBytes = 16 << 20;
// Header times are stored as seconds in a double; what the index recorded may differ by rounding.
constexpr auto sameStart = std::chrono::milliseconds(1);

// A name that stays inside the folder and is a snapshot's: whatever a damaged or planted
// index says, the pruner touches nothing else.
bool isSnapshotName(const std::string& name) {
  const std::string extension = std::string(".") + SnapshotFile::fileExtension;
  return name.size() > extension.size() && name.ends_with(extension) && name.find('/') == std::string::npos;
}

std::string placeKey(const std::string& place) {
  // Headers keep their root path as UTF-8, with other bytes replaced.
  return SnapshotPaths::canonical(Unicode::decodeLossy(place));
}

std::optional<std::string> entryFrom(const nlohmann::json& value, Entry& entry) {
  if (!value.is_object()) return "an entry is not an object";
  const auto file = value.find("file"), place = value.find("place"), started = value.find("started");
  if (file == value.end() || place == value.end() || started == value.end())
    return "an entry lacks its file, place or start";
  const auto name = detail::pathFromJson(*file);
  if (!name || !isSnapshotName(*name)) return "an entry names something other than a snapshot in the folder";
  const auto folder = detail::pathFromJson(*place);
  if (!folder || !folder->starts_with('/')) return "an entry's place is not an absolute path";
  const auto when = detail::timeFromJson(*started);
  if (!when) return "an entry's start is not a time";
  entry.file = *name;
  entry.place = *folder;
  entry.started = *when;
  if (const auto growth = value.find("growth"); growth != value.end())
    entry.growth = GrowthReport::fromJson(*growth);
  return std::nullopt;
}

// The folder's lock, shared by recording and pruning: flock on the folder itself, so that no
// further file is needed and the lock ends with the process whatever happens to it.
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& folder) {
    fd_ = FileIO::Descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd_) FileIO::throwErrno();
    while (::flock(fd_.get(), LOCK_EX) != 0)
      if (errno != EINTR) FileIO::throwErrno();
  }
  int fd() const { return fd_.get(); }

 private:
  FileIO::Descriptor fd_;
};

void writeIndex(const std::filesystem::path& folder, const std::vector<Entry>& entries) {
  writeFileAtomically(folder / indexName, format(entries));
}

enum class Outcome { removed, gone, open, notOurs, failed };

struct Attempt {
  Outcome outcome;
  std::string why;
};

Attempt failure(Outcome outcome, int error) {
  return {outcome, std::strerror(error)};
}

// Removes one due snapshot if it is still the one the index names and no window holds it.
Attempt removeIfOurs(int folder, const Entry& entry, bool dryRun) {
  FileIO::Descriptor fd(::openat(folder, entry.file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return {Outcome::gone, {}};
    if (errno == ELOOP) return {Outcome::notOurs, "a symbolic link"};
    return failure(Outcome::failed, errno);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) return failure(Outcome::failed, errno);
  if (!S_ISREG(status.st_mode)) return {Outcome::notOurs, "not a regular file"};
  std::vector<std::uint8_t> header(SnapshotFile::headerSize);
  const auto info = FileIO::readUpToAt(fd.get(), header.data(), header.size(), 0) == long(header.size())
                        ? SnapshotFile::parseInfo(header)
                        : std::nullopt;
  const bool sameSnapshot =
      info && info->complete && placeKey(info->info.rootPath) == placeKey(entry.place) &&
      info->info.scanStart >= entry.started - sameStart && info->info.scanStart <= entry.started + sameStart;
  if (!sameSnapshot) return {Outcome::notOurs, "no longer the snapshot the schedule wrote"};
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
    return errno == EWOULDBLOCK ? Attempt{Outcome::open, {}} : failure(Outcome::failed, errno);
  if (dryRun) return {Outcome::removed, {}};
  // The name may have been given to another file since it was opened.
  struct stat named {};
  if (::fstatat(folder, entry.file.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? Attempt{Outcome::gone, {}} : failure(Outcome::failed, errno);
  if (named.st_dev != status.st_dev || named.st_ino != status.st_ino)
    return {Outcome::notOurs, "replaced by another file"};
  if (::unlinkat(folder, entry.file.c_str(), 0) != 0) return failure(Outcome::failed, errno);
  return {Outcome::removed, {}};
}

bool exists(int folder, const std::string& name) {
  struct stat status {};
  return ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

}  // namespace

std::string format(const std::vector<Entry>& entries) {
  nlohmann::json list = nlohmann::json::array();
  for (const Entry& e : entries) {
    nlohmann::json item = {{"file", detail::pathToJson(e.file)},
                           {"place", detail::pathToJson(e.place)},
                           {"started", detail::timeToJson(e.started)}};
    if (e.growth) item["growth"] = GrowthReport::toJson(*e.growth);
    list.push_back(std::move(item));
  }
  const nlohmann::json index = {{"version", formatVersion}, {"snapshots", list}};
  return index.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

Index parse(std::string_view text) {
  Index index;
  const auto value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return {{}, "it is not JSON"};
  if (!value.is_object()) return {{}, "it is not a JSON object"};
  const auto version = value.find("version");
  if (version == value.end() || !version->is_number_unsigned() ||
      version->get<std::uint64_t>() != formatVersion)
    return {{}, "its version is not " + std::to_string(formatVersion)};
  const auto list = value.find("snapshots");
  if (list == value.end() || !list->is_array()) return {{}, "it has no list of snapshots"};
  for (const auto& item : *list) {
    Entry entry;
    if (auto damage = entryFrom(item, entry)) return {{}, std::move(damage)};
    index.entries.push_back(std::move(entry));
  }
  return index;
}

Index read(const std::filesystem::path& folder) {
  std::string text;
  try {
    text = FileIO::readWholeFile(folder / indexName, maxIndexBytes);
  } catch (const std::system_error& e) {
    if (e.code() == std::errc::no_such_file_or_directory) return {};
    return {{}, e.code().message()};
  }
  return parse(text);
}

std::optional<std::string> record(const std::filesystem::path& folder, const Entry& entry) {
  const FolderLock lock(folder);
  Index index = read(folder);
  if (index.damage) {
    // Kept for whoever wants to see what went wrong; the entries in it are not trusted.
    std::error_code ignored;
    std::filesystem::rename(folder / indexName, folder / (std::string(indexName) + damagedSuffix), ignored);
    index.entries.clear();
  }
  std::erase_if(index.entries, [&](const Entry& e) { return e.file == entry.file; });
  index.entries.push_back(entry);
  writeIndex(folder, index.entries);
  return index.damage;
}

Pruned prune(const std::filesystem::path& folder, std::chrono::system_clock::time_point now, bool dryRun,
             const Retention::Policy& policy) {
  Pruned out;
  std::error_code missing;
  if (!std::filesystem::is_directory(folder, missing)) return out;
  const FolderLock lock(folder);
  Index index = read(folder);
  if (index.damage) {
    out.damage = std::move(index.damage);
    return out;
  }

  std::vector<Retention::Snapshot> snapshots;
  snapshots.reserve(index.entries.size());
  for (const Entry& e : index.entries) snapshots.push_back({e.started, placeKey(e.place)});
  std::set<std::size_t> forget;
  for (std::size_t k = 0; k < index.entries.size(); ++k)
    if (!exists(lock.fd(), index.entries[k].file)) forget.insert(k);
  for (const std::size_t k : Retention::expired(snapshots, now, policy)) {
    if (forget.contains(k)) continue;
    const Entry& entry = index.entries[k];
    const std::filesystem::path path = folder / entry.file;
    const Attempt attempt = removeIfOurs(lock.fd(), entry, dryRun);
    switch (attempt.outcome) {
      case Outcome::removed:
        out.removed.push_back(path);
        forget.insert(k);
        break;
      case Outcome::gone:
        forget.insert(k);
        break;
      case Outcome::open:
        out.open.push_back(path);
        break;
      case Outcome::notOurs:
        // Never the pruner's again, whatever becomes of it.
        out.leftAlone.emplace_back(path, attempt.why);
        forget.insert(k);
        break;
      case Outcome::failed:
        out.leftAlone.emplace_back(path, attempt.why);
        break;
    }
  }
  if (dryRun || forget.empty()) return out;
  std::vector<Entry> kept;
  for (std::size_t k = 0; k < index.entries.size(); ++k)
    if (!forget.contains(k)) kept.push_back(std::move(index.entries[k]));
  writeIndex(folder, kept);
  return out;
}

}  // namespace tallyfox::ScheduledSnapshots
