// Storage that several entries share is counted at the first of them: hard links by their
// inode, clones by their first extent. A file's sharing is asked of btrfs's trees for a
// whole batch at once where the scan may read them (one search for many files), else of
// FIEMAP file by file; which of the two holds is learnt once per device and thread.

#include "CloneAccounting.h"

#include <tallyfox/TreeColumns.h>

#include "linux/BtrfsExtents.h"
#include "linux/FileIO.h"
#include "linux/SharedExtents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>
#include <mutex>
#include <string>

namespace tallyfox {

using namespace detail;

namespace {

// Whether the tree lists all the data of tree file k: data waiting to be written has no
// extent yet, but counts in the allocated size.
bool listsAllExtents(const Worker& worker, std::size_t k) {
  const BtrfsExtents::FileData& file = worker.treeFiles[k];
  return !file.unreadable && !file.inlineData &&
         file.bytes == worker.listing.sizes[worker.treeLookups[k].second];
}

}  // namespace

std::uint64_t Scanner::State::countClone(int directory, const char* name, dev_t device, std::uint64_t size,
                                         std::uint8_t& flags) {
  // O_NONBLOCK: a file under a lease must not hold the scan up.
  FileIO::Descriptor file(
      ::openat(directory, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!file) return size;
  const SharedExtents::CloneInfo clone = SharedExtents::cloneInfo(file.get());
  if (!clone.sharesAll) return size;
  return countFirstOfExtent(clone.cloneID, device, size, flags);
}

std::uint64_t Scanner::State::countFirstOfExtent(std::uint64_t physical, dev_t device, std::uint64_t size,
                                                 std::uint8_t& flags) {
  bool first;
  {
    std::lock_guard guard(cloneLock);
    first = seenClones.insert({physical, std::uint64_t(device)});
  }
  if (first) return size;
  flags |= EntryFlags::sharedClone;
  return 0;
}

void Scanner::State::countTreeLookups(Worker& worker, int directory) {
  auto& lookups = worker.treeLookups;
  std::sort(lookups.begin(), lookups.end());
  worker.treeFiles.assign(lookups.size(), {});
  for (std::size_t k = 0; k < lookups.size(); ++k) worker.treeFiles[k].inode = lookups[k].first;
  worker.laterExtents.clear();
  worker.laterSharing.assign(lookups.size(), LaterSharing::none);
  const auto result = worker.btrfs.read(directory, worker.treeFiles, worker.laterExtents);
  if (result == BtrfsExtents::Reader::Result::notPermitted)
    if (DeviceSharing* device = worker.knownSharing(worker.folderDevice)) device->sharing = Sharing::perFile;
  const bool read = result == BtrfsExtents::Reader::Result::read;
  if (read && !worker.laterExtents.empty()) judgeLaterExtents(worker, directory);

  std::string name;
  DirectoryListing& listing = worker.listing;
  for (std::size_t k = 0; k < lookups.size(); ++k) {
    const std::uint32_t index = lookups[k].second;
    const BtrfsExtents::FileData& file = worker.treeFiles[k];
    const std::uint64_t size = listing.sizes[index];
    std::uint8_t flags = listing.flags[index];
    const bool complete = read && listsAllExtents(worker, k);
    const LaterSharing later = worker.laterSharing[k];
    std::uint64_t counted;
    if (read && !file.unreadable && file.inlineData && file.extents == 0) {
      counted = size;  // data inside the tree is never shared
    } else if (complete && (file.extents == 1 || later == LaterSharing::allShared)) {
      // Every extent after the first is shared, if there are any. The first one's sharing
      // needs no check: a second file with the same first extent proves it, and a key that no
      // other file has leaves every count as it is.
      counted = countFirstOfExtent(file.firstPhysical, worker.folderDevice, size, flags);
    } else if (complete && later == LaterSharing::notShared) {
      counted = size;
    } else {
      // No answer from the trees: FIEMAP decides.
      const auto bytes = listing.name(index);
      name.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      counted = countClone(directory, name.c_str(), worker.folderDevice, size, flags);
    }
    if (counted != size) {
      listing.sizes[index] = counted;
      listing.flags[index] = flags;
      worker.counts.bytes -= size - counted;
    }
  }
  lookups.clear();
}

void Scanner::State::judgeLaterExtents(Worker& worker, int directory) {
  const auto& files = worker.treeFiles;
  const auto fileOf = [&](std::uint64_t inode) {
    return std::size_t(std::lower_bound(files.begin(), files.end(), inode,
                                        [](const auto& file, std::uint64_t n) { return file.inode < n; }) -
                       files.begin());
  };
  auto& later = worker.laterExtents;
  std::erase_if(later, [&](const auto& extent) { return !listsAllExtents(worker, fileOf(extent.inode)); });
  if (later.empty()) return;
  DeviceSharing* device = worker.knownSharing(worker.folderDevice);
  if (!device) return;
  if (!device->committed) {
    device->referencesCurrent = commitOnce(worker.folderDevice, directory);
    device->committed = true;
  }
  if (device->referencesCurrent && device->subvolume == 0)
    device->subvolume = BtrfsExtents::subvolumeOf(directory);
  if (!device->referencesCurrent || device->subvolume == 0) return;
  std::sort(later.begin(), later.end(), [](const auto& a, const auto& b) { return a.disk < b.disk; });
  if (worker.btrfs.readReferences(directory, device->subvolume, later) != BtrfsExtents::Reader::Result::read)
    return;
  for (const BtrfsExtents::LaterExtent& extent : later) {
    const LaterSharing verdict = !extent.found || extent.unclear ? LaterSharing::unknown
                                 : extent.referredElsewhere      ? LaterSharing::allShared
                                                                 : LaterSharing::notShared;
    LaterSharing& sharing = worker.laterSharing[fileOf(extent.inode)];
    sharing = std::max(sharing, verdict);
  }
}

bool Scanner::State::commitOnce(dev_t device, int directory) {
  std::lock_guard guard(commitLock);
  for (const auto& [known, committed] : commits)
    if (known == device) return committed;
  // References made by the running transaction reach the extent tree only when it commits;
  // until then the tree may still list a clone's source alone, or a deleted file's extents.
  const bool committed = BtrfsExtents::commitTransaction(directory);
  commits.emplace_back(device, committed);
  return committed;
}

Sharing Scanner::State::probeSharing(Worker& worker, int directory, const char* name, dev_t device) {
  // Once per device and thread: the file's own file system, even for a file mounted over.
  Sharing sharing = Sharing::none;
  FileIO::Descriptor probe(::openat(directory, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct statfs fileSystem;
  if (probe && ::fstatfs(probe.get(), &fileSystem) == 0) {
    if (BtrfsExtents::isBtrfs(long(fileSystem.f_type)))
      sharing = Sharing::btrfsTrees;
    else if (SharedExtents::canShare(long(fileSystem.f_type)))
      sharing = Sharing::perFile;
  }
  if (probe) worker.sharingDevices.push_back({device, sharing});
  return sharing;
}

}  // namespace tallyfox
