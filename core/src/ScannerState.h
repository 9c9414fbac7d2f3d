#pragma once

// The scanner's shared state and the per-thread worker, seen by the files that make up a
// scan: Scanner.cpp runs it, FolderListing.cpp lists one folder, CloneAccounting.cpp counts
// storage shared between files once. They stay one object because a folder's listing decides
// per entry whether the entry's storage was counted already, with nothing between worth a call.

#include <tallyfox/Scanner.h>
#include <tallyfox/TreeColumns.h>

#include "IdentitySet.h"
#include "WorkStealingPool.h"
#include "linux/BtrfsExtents.h"
#include "linux/FileIO.h"
#include "linux/ScanCalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tallyfox::detail {

constexpr std::size_t bufferBytes = 65536;
// Every id must fit a NodeId.
constexpr std::uint64_t idLimit = std::uint64_t(std::numeric_limits<NodeId>::max()) + 1;

// An open folder kept for the jobs of its subfolders, which open relative to it instead of
// walking the whole path again; closed when the last of them has opened.
using SharedFolder = std::shared_ptr<const FileIO::Descriptor>;

struct Job {
  std::string path;
  SharedFolder parent;          // null: open by path
  std::uint32_t nameStart = 0;  // the last component of path, for opening relative to parent
  std::uint32_t id = 0;
  dev_t device = 0;  // as the folder's own listing reported it
};

// The folder being listed: its own descriptor until a subfolder needs it shared.
struct OpenFolder {
  FileIO::Descriptor own;
  SharedFolder shared;
  int get() const { return shared ? shared->get() : own.get(); }
};

// How a device tells which files share their storage.
enum class Sharing : std::uint8_t {
  none,        // it cannot share extents
  perFile,     // FIEMAP, file by file
  btrfsTrees,  // the searches of btrfs's trees, folder by folder (needs CAP_SYS_ADMIN)
};

// What a thread knows of a device's sharing.
struct DeviceSharing {
  dev_t device = 0;
  Sharing sharing = Sharing::none;
  // btrfs: the subvolume (0 until needed or when unknown), and whether the extent tree's
  // references may be trusted (after a commit of the transaction running when the scan came).
  std::uint64_t subvolume = 0;
  bool committed = false;
  bool referencesCurrent = false;
};

// What the extent tree says of a file's extents after its first; of two verdicts on one file
// the greater holds.
enum class LaterSharing : std::uint8_t {
  none,       // it has no later extents
  allShared,  // each is referred to from somewhere else too
  unknown,    // only FIEMAP can tell
  notShared,  // at least one is this file's alone
};

// Everything one thread reuses from folder to folder.
struct Worker {
  int index = 0;
  std::unique_ptr<std::uint64_t[]> buffer = std::make_unique<std::uint64_t[]>(bufferBytes / 8);
  DirectoryListing listing;
  ScanStats counts;
  std::vector<std::pair<std::uint32_t, dev_t>> children;  // subfolders to enter: batch index, device
  std::vector<Job> jobs;
  std::vector<DeviceSharing> sharingDevices;
  int appliedSpeed = -1;
  dev_t folderDevice = 0;
  // Files of the batch whose extents btrfs's tree tells, looked up together once the batch
  // has been read: inode and batch index, then what the tree says, in inode order.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> treeLookups;
  std::vector<BtrfsExtents::FileData> treeFiles;
  std::vector<BtrfsExtents::LaterExtent> laterExtents;
  std::vector<LaterSharing> laterSharing;  // by tree file
  BtrfsExtents::Reader btrfs;

  DeviceSharing* knownSharing(dev_t device) {
    for (DeviceSharing& known : sharingDevices)
      if (known.device == device) return &known;
    return nullptr;
  }

  std::span<std::uint8_t> bufferSpan() {
    return {reinterpret_cast<std::uint8_t*>(buffer.get()), bufferBytes};
  }
};

inline int indexOf(ScanSpeed speed) {
  return int(speed);
}

}  // namespace tallyfox::detail

namespace tallyfox {

struct Scanner::State {
  using Job = detail::Job;
  using OpenFolder = detail::OpenFolder;
  using Worker = detail::Worker;
  using Sharing = detail::Sharing;
  using SharedFolder = detail::SharedFolder;

  std::string root;
  ScanOptions options;
  std::shared_ptr<ScanSink> sink;

  // Read by every worker at every turn and written rarely: on a line of their own, so that
  // the counters below, written all the time, never make reading them miss the cache.
  alignas(detail::cacheLine) std::atomic<int> speedIndex{detail::indexOf(ScanSpeed::fast)};
  std::atomic<bool> cancelled{false};
  std::atomic<bool> started{false};
  std::mutex speedLock;  // orders setSpeed against run()'s first choice of the speed
  bool speedChosen = false;
  int heldFoldersLimit = 0;
  dev_t rootDevice = 0;

  // Written by the workers for every folder, each on a line of its own.
  // Before the pool: jobs left in it release their folders into this count.
  alignas(detail::cacheLine) std::atomic<int> heldFolders{0};
  alignas(detail::cacheLine) std::atomic<std::uint64_t> nextID{1};
  alignas(detail::cacheLine) std::atomic<std::uint64_t> progress{0};
  std::atomic<std::uint64_t> progressByteCount{0};

  detail::WorkStealingPool<Job> pool;
  detail::IdentitySet ignoredIDs;
  alignas(detail::cacheLine) std::mutex linkLock;
  detail::IdentitySet seenLinks;
  alignas(detail::cacheLine) std::mutex cloneLock;
  detail::IdentitySet seenClones;
  std::mutex commitLock;
  std::vector<std::pair<dev_t, bool>> commits;  // device, whether the commit succeeded
  mutable std::mutex statsLock;
  ScanStats stats;
  std::mutex failureLock;
  std::exception_ptr failure;

  // Scanner.cpp: the scan as a whole.
  ScanStats run();
  void workerLoop(int index);
  void fail(std::exception_ptr error);

  // FolderListing.cpp: one folder.
  void process(Worker& worker, Job& job);
  bool listBatch(Worker& worker, const Job& job, OpenFolder& folder, std::span<const std::uint8_t> filled);
  void addEntry(Worker& worker, int directory, const ScanCalls::DirectoryRecords::Record& record);
  bool shouldEnter(std::string_view name, const struct statx& attributes, dev_t device) const;
  void queueChildren(Worker& worker, const Job& job, OpenFolder& folder);
  SharedFolder share(FileIO::Descriptor& own);
  void reportFolderError(Worker& worker, std::uint32_t id);

  // CloneAccounting.h and .cpp: storage shared between files, counted once.
  inline std::uint64_t countOnce(Worker& worker, int directory, const char* name,
                                 const struct statx& attributes, dev_t device, std::uint64_t size,
                                 std::uint8_t& flags);
  std::uint64_t countClone(int directory, const char* name, dev_t device, std::uint64_t size,
                           std::uint8_t& flags);
  std::uint64_t countFirstOfExtent(std::uint64_t physical, dev_t device, std::uint64_t size,
                                   std::uint8_t& flags);
  void countTreeLookups(Worker& worker, int directory);
  void judgeLaterExtents(Worker& worker, int directory);
  bool commitOnce(dev_t device, int directory);
  inline Sharing sharingOf(Worker& worker, int directory, const char* name, dev_t device);
  Sharing probeSharing(Worker& worker, int directory, const char* name, dev_t device);
};

}  // namespace tallyfox
