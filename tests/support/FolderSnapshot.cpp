#include "FolderSnapshot.h"

#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>

#include <sys/stat.h>
#include <set>
#include <utility>
#include <vector>

namespace testsupport {

using namespace tallyfox;

namespace {

struct Walk {
  SnapshotBuilderSink sink;
  const EntryAdjuster& adjust;
  std::set<std::pair<dev_t, ino_t>> seenLinks;
  std::uint32_t nextID = 1;

  void list(const std::filesystem::path& folder, std::uint32_t folderID) {
    std::vector<std::filesystem::path> entries;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
      entries.push_back(entry.path());
    DirectoryListing listing;
    listing.reset(folderID, nextID);
    listing.directoryError = bool(error);
    std::vector<std::pair<std::filesystem::path, std::uint32_t>> folders;
    for (const auto& path : entries) {
      struct stat status;
      std::uint64_t size = 0;
      std::uint8_t flags = 0;
      std::int64_t mtime = 0;
      if (::lstat(path.c_str(), &status) != 0) {
        flags = EntryFlags::error;
      } else {
        mtime = status.st_mtim.tv_sec;
        if (S_ISDIR(status.st_mode)) {
          flags = EntryFlags::directory;
        } else {
          if (S_ISLNK(status.st_mode)) flags = EntryFlags::symlink;
          size = std::uint64_t(status.st_blocks) * 512;
          if (status.st_nlink > 1 && !seenLinks.insert({status.st_dev, status.st_ino}).second) {
            flags |= EntryFlags::duplicateLink;
            size = 0;
          }
        }
      }
      if (adjust) adjust(path, size, flags);
      const std::string name = path.filename().string();
      listing.append({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}, size, mtime, flags);
      if (flags & EntryFlags::directory)
        folders.emplace_back(path, nextID + std::uint32_t(listing.count() - 1));
    }
    nextID += std::uint32_t(listing.count());
    sink.directoryListed(listing);
    for (const auto& [path, id] : folders) list(path, id);
  }
};

}  // namespace

DiskTreePtr snapshotOfFolder(const std::filesystem::path& root, const EntryAdjuster& adjust) {
  Walk walk{{}, adjust, {}, 1};
  walk.sink.rootStarted(root.string());
  walk.list(root, 0);
  SnapshotFile::Info info;
  info.rootPath = root.string();
  info.scanStart = std::chrono::system_clock::now();
  return SnapshotFile::inMemory(walk.sink.finish(), info);
}

DiskTreePtr scanFolder(const std::filesystem::path& root, const ScanOptions& options) {
  auto sink = std::make_shared<SnapshotBuilderSink>();
  Scanner scanner(root.string(), options, sink);
  const ScanStats stats = scanner.run();
  return SnapshotFile::inMemory(sink->finish(),
                                {root.string(), std::chrono::system_clock::now(), stats.seconds});
}

}  // namespace testsupport
