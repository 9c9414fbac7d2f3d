#include <tallyfox/Scanner.h>

#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/TreeColumns.h>
#include <tallyfox/Unicode.h>

#include "linux/BtrfsExtents.h"
#include "linux/FileIO.h"
#include "linux/ScanCalls.h"
#include "linux/SharedExtents.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace tallyfox {

// MARK: speeds and options

std::string_view rawValue(ScanSpeed speed) {
  switch (speed) {
    case ScanSpeed::fast:
      return "fast";
    case ScanSpeed::balanced:
      return "balanced";
    case ScanSpeed::gentle:
      return "gentle";
  }
  return "fast";
}

std::optional<ScanSpeed> scanSpeedFromRawValue(std::string_view raw) {
  for (ScanSpeed speed : allScanSpeeds)
    if (rawValue(speed) == raw) return speed;
  return std::nullopt;
}

int threads(ScanSpeed speed) {
  switch (speed) {
    case ScanSpeed::fast:
      return 8;
    case ScanSpeed::balanced:
      return 4;
    case ScanSpeed::gentle:
      return 2;
  }
  return 8;
}

std::string title(ScanSpeed speed) {
  std::string text(rawValue(speed));
  text[0] = char(text[0] - 'a' + 'A');
  return text;
}

ScanOptions::ScanOptions(std::optional<int> threadCount, bool oneFileSystem, std::set<std::string> ignored,
                         std::set<std::string> skipNames, std::set<std::string> skipSuffixes, ScanSpeed speed)
    : threads(threadCount.value_or(tallyfox::threads(speed))),
      oneFileSystem(oneFileSystem),
      ignored(std::move(ignored)),
      skipNames(std::move(skipNames)),
      skipSuffixes(std::move(skipSuffixes)),
      speed(speed) {}

std::set<std::string> parseIgnoredFolders(std::string_view value) {
  std::set<std::string> folders;
  while (!value.empty()) {
    const auto colon = value.find(':');
    const std::string_view piece = value.substr(0, colon);
    value = colon == std::string_view::npos ? std::string_view() : value.substr(colon + 1);
    if (!piece.empty()) folders.insert(PathText::expandTilde(std::string(piece)));
  }
  return folders;
}

std::set<std::string> ignoredFoldersFromEnvironment() {
  const char* value = std::getenv(ignoreDirsVariable);
  return value ? parseIgnoredFolders(value) : std::set<std::string>();
}

// MARK: scanner state

namespace {

using namespace std::chrono_literals;

constexpr std::size_t bufferBytes = 65536;
constexpr std::size_t stackBytes = 1048576;
constexpr std::size_t compactAfterSteals = 1024;
constexpr int queuesAtLeast = 8;
// What the processor moves between cores at once: data that different threads write must
// not share one.
constexpr std::size_t cacheLine = 64;
// More threads than this only add contention; the option is clamped to it.
constexpr int threadsAtMost = 64;
// Folders held open for their subfolders at most: the descriptor limit is shared with the
// rest of the process, and past this many the subfolders open by path.
constexpr int heldFoldersAtMost = 1024;
constexpr auto idleWait = 2ms;
constexpr auto parkedWait = 50ms;
// Never trigger an automounter (a network share) by looking at its mount point.
constexpr int statxFlags = AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC | AT_NO_AUTOMOUNT;
constexpr unsigned statxMask = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_MTIME | STATX_BLOCKS;
// Every id must fit a NodeId.
constexpr std::uint64_t idLimit = std::uint64_t(std::numeric_limits<NodeId>::max()) + 1;

// A file-system object or a shared extent: 64-bit number plus the whole device number.
// Folding the device into the number's high bits would let objects of different devices
// (or inodes above 2^48, as overlay file systems hand out) collide and be counted as one.
struct Identity {
  std::uint64_t number;
  std::uint64_t device;
  bool operator==(const Identity&) const = default;
};

// A set of identities: for each device, its numbers in one array (open addressing, linear
// probing). A scan on btrfs inserts one key per file; a node allocated per key would cost more
// than the lookup, and a device stored with every key would double the memory.
class IdentitySet {
 public:
  // True when the key was not there yet.
  bool insert(const Identity& key) { return numbersOf(key.device).insert(key.number); }
  bool contains(const Identity& key) const {
    for (const Numbers& numbers : devices_)
      if (numbers.device == key.device) return numbers.contains(key.number);
    return false;
  }
  bool empty() const { return devices_.empty(); }

 private:
  class Numbers {
   public:
    explicit Numbers(std::uint64_t device) : device(device) {}
    std::uint64_t device;

    bool insert(std::uint64_t number) {
      if (number == vacant) return !std::exchange(holdsVacant_, true);
      if (2 * (count_ + 1) > slots_.size()) grow();
      std::uint64_t& slot = slots_[slotOf(slots_, number)];
      if (slot == number) return false;
      slot = number;
      ++count_;
      return true;
    }
    bool contains(std::uint64_t number) const {
      if (number == vacant) return holdsVacant_;
      return !slots_.empty() && slots_[slotOf(slots_, number)] == number;
    }

   private:
    static constexpr std::uint64_t vacant = 0;
    std::vector<std::uint64_t> slots_;  // a power of two long, at most half full
    std::size_t count_ = 0;
    bool holdsVacant_ = false;

    // The number's slot, or the vacant one where it would go.
    static std::size_t slotOf(const std::vector<std::uint64_t>& slots, std::uint64_t number) {
      std::uint64_t h = number * 0x9E3779B97F4A7C15ull;
      h ^= h >> 31;
      const std::size_t mask = slots.size() - 1;
      for (std::size_t at = std::size_t(h * 0xBF58476D1CE4E5B9ull) & mask;; at = (at + 1) & mask)
        if (slots[at] == number || slots[at] == vacant) return at;
    }
    void grow() {
      std::vector<std::uint64_t> larger(std::max<std::size_t>(1024, 2 * slots_.size()), vacant);
      for (const std::uint64_t number : slots_)
        if (number != vacant) larger[slotOf(larger, number)] = number;
      slots_.swap(larger);
    }
  };

  // Few: a scan crosses a handful of devices at most, and mostly stays on the last one.
  std::vector<Numbers> devices_;
  std::size_t last_ = 0;

  Numbers& numbersOf(std::uint64_t device) {
    if (last_ < devices_.size() && devices_[last_].device == device) return devices_[last_];
    for (last_ = 0; last_ < devices_.size(); ++last_)
      if (devices_[last_].device == device) return devices_[last_];
    devices_.emplace_back(device);
    return devices_.back();
  }
};

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

// Own jobs pop from the back (depth first keeps queues short); thieves take from head, the
// oldest job, which is usually a folder near the top carrying the most work.
// Each queue on lines of its own: a worker takes its own queue's lock all the time.
struct alignas(cacheLine) WorkQueue {
  std::mutex lock;
  std::vector<Job> items;
  std::size_t head = 0;
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

// Whether the tree lists all the data of tree file k: data waiting to be written has no
// extent yet, but counts in the allocated size.
bool listsAllExtents(const Worker& worker, std::size_t k) {
  const BtrfsExtents::FileData& file = worker.treeFiles[k];
  return !file.unreadable && !file.inlineData &&
         file.bytes == worker.listing.sizes[worker.treeLookups[k].second];
}

int indexOf(ScanSpeed speed) {
  return int(speed);
}

}  // namespace

struct Scanner::State {
  std::string root;
  ScanOptions options;
  std::shared_ptr<ScanSink> sink;

  // Read by every worker at every turn and written rarely: on a line of their own, so that
  // the counters below, written all the time, never make reading them miss the cache.
  alignas(cacheLine) std::atomic<int> activeLimit{queuesAtLeast};
  std::atomic<int> speedIndex{indexOf(ScanSpeed::fast)};
  std::atomic<bool> cancelled{false};
  std::atomic<bool> started{false};
  std::mutex speedLock;  // orders setSpeed against run()'s first choice of the speed
  bool speedChosen = false;
  int heldFoldersLimit = 0;
  int queueCount = 0;
  dev_t rootDevice = 0;

  // Written by the workers for every folder, each on a line of its own.
  // Before the queues: jobs left in them release their folders into this count.
  alignas(cacheLine) std::atomic<int> heldFolders{0};
  alignas(cacheLine) std::atomic<std::int64_t> pending{0};
  alignas(cacheLine) std::atomic<int> idleWorkers{0};
  alignas(cacheLine) std::atomic<std::uint64_t> nextID{1};
  alignas(cacheLine) std::atomic<std::uint64_t> progress{0};
  std::atomic<std::uint64_t> progressByteCount{0};

  alignas(cacheLine) std::unique_ptr<WorkQueue[]> queues;
  std::mutex idleMutex;
  std::condition_variable idleCondition;
  IdentitySet ignoredIDs;
  alignas(cacheLine) std::mutex linkLock;
  IdentitySet seenLinks;
  alignas(cacheLine) std::mutex cloneLock;
  IdentitySet seenClones;
  std::mutex commitLock;
  std::vector<std::pair<dev_t, bool>> commits;  // device, whether the commit succeeded
  mutable std::mutex statsLock;
  ScanStats stats;
  std::mutex failureLock;
  std::exception_ptr failure;

  ScanStats run();
  void workerLoop(int index);
  bool nextJob(int index, Job& job);
  bool popOwn(int index, Job& job);
  bool steal(int victim, Job& job);
  void process(Worker& worker, Job& job);
  bool listBatch(Worker& worker, const Job& job, OpenFolder& folder, std::span<const std::uint8_t> filled);
  void addEntry(Worker& worker, int directory, const ScanCalls::DirectoryRecords::Record& record);
  bool shouldEnter(std::string_view name, const struct statx& attributes, dev_t device) const;
  std::uint64_t countOnce(Worker& worker, int directory, const char* name, const struct statx& attributes,
                          dev_t device, std::uint64_t size, std::uint8_t& flags);
  std::uint64_t countClone(int directory, const char* name, dev_t device, std::uint64_t size,
                           std::uint8_t& flags);
  std::uint64_t countFirstOfExtent(std::uint64_t physical, dev_t device, std::uint64_t size,
                                   std::uint8_t& flags);
  void countTreeLookups(Worker& worker, int directory);
  void judgeLaterExtents(Worker& worker, int directory);
  bool commitOnce(dev_t device, int directory);
  Sharing sharingOf(Worker& worker, int directory, const char* name, dev_t device);
  void queueChildren(Worker& worker, const Job& job, OpenFolder& folder);
  SharedFolder share(FileIO::Descriptor& own);
  void reportFolderError(Worker& worker, std::uint32_t id);
  void wakeIdle(bool all);
  void fail(std::exception_ptr error);
};

// MARK: run

ScanStats Scanner::State::run() {
  if (started.exchange(true)) throw std::logic_error("a Scanner runs only once");

  struct stat rootStat;
  if (::lstat(root.c_str(), &rootStat) != 0) FileIO::throwErrno(ENOENT);
  if (S_ISLNK(rootStat.st_mode)) throw std::system_error(ELOOP, std::generic_category());
  {
    // A root that cannot be listed (a file, a folder without permission) is the caller's
    // error to report, not an entry of a tree.
    FileIO::Descriptor probe(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!probe) FileIO::throwErrno(ENOENT);
  }
  rootDevice = rootStat.st_dev;
  struct rlimit files;
  const rlim_t descriptors = ::getrlimit(RLIMIT_NOFILE, &files) == 0 ? files.rlim_cur : 1024;
  heldFoldersLimit = int(std::min<rlim_t>(descriptors / 4, heldFoldersAtMost));
  for (const std::string& path : options.ignored) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0)
      ignoredIDs.insert({std::uint64_t(st.st_ino), std::uint64_t(st.st_dev)});
  }

  if (sink) sink->rootStarted(root);

  const int wanted = std::clamp(options.threads, 1, threadsAtMost);
  queueCount = std::max(wanted, queuesAtLeast);
  {
    // A speed chosen before this thread got here (the caller starts run() on another
    // thread and may change the speed at once) wins over the one the scan was made with.
    std::lock_guard guard(speedLock);
    if (!speedChosen) {
      speedIndex.store(indexOf(options.speed));
      activeLimit.store(wanted);
    }
  }
  queues = std::make_unique<WorkQueue[]>(std::size_t(queueCount));
  Job rootJob;
  rootJob.path = root;
  rootJob.device = rootDevice;
  queues[0].items.push_back(std::move(rootJob));
  pending.store(1);

  const auto start = std::chrono::steady_clock::now();
  struct ThreadStart {
    State* state;
    int index;
  };
  std::vector<ThreadStart> starts(static_cast<std::size_t>(queueCount));
  std::vector<pthread_t> handles;
  handles.reserve(std::size_t(queueCount));
  int startError = 0;
  for (int i = 0; i < queueCount; ++i) {
    starts[std::size_t(i)] = {this, i};
    pthread_t handle;
    startError = ScanCalls::startThread(
        stackBytes,
        [](void* argument) -> void* {
          auto* s = static_cast<ThreadStart*>(argument);
          s->state->workerLoop(s->index);
          return nullptr;
        },
        &starts[std::size_t(i)], handle);
    if (startError != 0) break;
    handles.push_back(handle);
  }
  if (startError != 0) {
    // Not the scan that was asked for: the threads that did start drop the jobs.
    cancelled.store(true);
    wakeIdle(true);
  }
  for (pthread_t handle : handles) ::pthread_join(handle, nullptr);
  if (startError != 0) throw std::system_error(startError, std::generic_category());

  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (failure) std::rethrow_exception(failure);
  std::lock_guard guard(statsLock);
  stats.directories += 1;  // the root
  stats.seconds = seconds;
  return stats;
}

// MARK: workers

void Scanner::State::workerLoop(int index) {
  Worker worker;
  worker.index = index;
  for (;;) {
    if (const int speed = speedIndex.load(std::memory_order_relaxed); speed != worker.appliedSpeed) {
      ScanCalls::applyThreadPriority(speed != indexOf(ScanSpeed::fast), speed == indexOf(ScanSpeed::gentle));
      worker.appliedSpeed = speed;
    }
    if (index < activeLimit.load(std::memory_order_relaxed)) {
      Job job;
      if (!nextJob(index, job)) {
        if (pending.load(std::memory_order_acquire) == 0) break;
        continue;
      }
      if (!cancelled.load(std::memory_order_relaxed)) {
        try {
          process(worker, job);
        } catch (...) {
          fail(std::current_exception());
        }
      }
      if (pending.fetch_sub(1, std::memory_order_acq_rel) == 1) wakeIdle(true);
    } else {
      if (pending.load(std::memory_order_acquire) == 0) break;
      std::unique_lock lock(idleMutex);
      idleCondition.wait_for(lock, parkedWait);
    }
  }
  std::lock_guard guard(statsLock);
  stats.entries += worker.counts.entries;
  stats.directories += worker.counts.directories;
  stats.bytes += worker.counts.bytes;
  stats.errors += worker.counts.errors;
}

bool Scanner::State::nextJob(int index, Job& job) {
  for (;;) {
    if (index >= activeLimit.load(std::memory_order_relaxed)) return false;
    if (popOwn(index, job)) return true;
    for (int k = 1; k < queueCount; ++k)
      if (steal((index + k) % queueCount, job)) return true;
    if (pending.load(std::memory_order_acquire) == 0) return false;
    {
      std::unique_lock lock(idleMutex);
      idleWorkers.fetch_add(1);
      idleCondition.wait_for(lock, idleWait);
      idleWorkers.fetch_sub(1);
    }
  }
}

bool Scanner::State::popOwn(int index, Job& job) {
  WorkQueue& queue = queues[std::size_t(index)];
  std::lock_guard guard(queue.lock);
  if (queue.head >= queue.items.size()) return false;
  job = std::move(queue.items.back());
  queue.items.pop_back();
  if (queue.items.size() == queue.head) {
    queue.items.clear();
    queue.head = 0;
  }
  return true;
}

bool Scanner::State::steal(int victim, Job& job) {
  WorkQueue& queue = queues[std::size_t(victim)];
  std::lock_guard guard(queue.lock);
  if (queue.head >= queue.items.size()) return false;
  const std::size_t oldHead = queue.head;
  job = std::move(queue.items[oldHead]);
  queue.head = oldHead + 1;
  // Compacting rarely keeps a steal O(1) on average.
  if (oldHead >= compactAfterSteals && queue.items.size() < 2 * queue.head) {
    queue.items.erase(queue.items.begin(), queue.items.begin() + std::ptrdiff_t(queue.head));
    queue.head = 0;
  }
  return true;
}

void Scanner::State::wakeIdle(bool all) {
  std::lock_guard lock(idleMutex);
  if (all)
    idleCondition.notify_all();
  else
    idleCondition.notify_one();
}

void Scanner::State::fail(std::exception_ptr error) {
  {
    std::lock_guard guard(failureLock);
    if (!failure) failure = std::move(error);
  }
  cancelled.store(true);
}

// MARK: one folder

void Scanner::State::process(Worker& worker, Job& job) {
  OpenFolder folder;
  bool mountChecked = false;
  if (job.parent)
    folder.own = FileIO::Descriptor(ScanCalls::openFolderBelow(
        job.parent->get(), job.path.c_str() + job.nameStart, options.oneFileSystem, mountChecked));
  else
    folder.own =
        FileIO::Descriptor(::open(job.path.c_str(), O_RDONLY | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
  job.parent.reset();
  if (!folder.own) return reportFolderError(worker, job.id);
  worker.folderDevice = job.device;
  if (options.oneFileSystem && !mountChecked) {
    // The listing of the parent already kept other devices out; this catches a mount that
    // appeared since.
    struct stat st;
    if (::fstat(folder.get(), &st) != 0 || st.st_dev != rootDevice) return reportFolderError(worker, job.id);
  }
  const auto buffer = worker.bufferSpan();
  for (;;) {
    if (cancelled.load(std::memory_order_relaxed)) return;
    const long filled = ScanCalls::readDirectory(folder.get(), buffer);
    if (filled == 0) return;
    if (filled < 0) return reportFolderError(worker, job.id);
    if (!listBatch(worker, job, folder, buffer.first(std::size_t(filled)))) return;
  }
}

bool Scanner::State::listBatch(Worker& worker, const Job& job, OpenFolder& folder,
                               std::span<const std::uint8_t> filled) {
  // Entries are read first and numbered after: one pass over the records, and still one
  // reservation of ids per batch.
  worker.listing.reset(job.id, 0);
  worker.children.clear();
  worker.treeLookups.clear();
  ScanCalls::DirectoryRecords records(filled);
  ScanCalls::DirectoryRecords::Record record;
  const std::uint64_t bytesBefore = worker.counts.bytes;
  while (records.next(record))
    if (!ScanCalls::isDotOrDotDot({record.name, record.nameLength})) addEntry(worker, folder.get(), record);
  if (!worker.treeLookups.empty()) countTreeLookups(worker, folder.get());
  const std::uint64_t batchBytes = worker.counts.bytes - bytesBefore;
  const std::uint32_t count = std::uint32_t(worker.listing.count());
  if (count == 0) return true;

  std::uint64_t base = nextID.load(std::memory_order_relaxed);
  do {
    if (idLimit - base < count) {
      // More entries than a tree can number: the rest of this folder stays unlisted.
      reportFolderError(worker, job.id);
      return false;
    }
  } while (!nextID.compare_exchange_weak(base, base + count, std::memory_order_relaxed));
  worker.listing.firstID = std::uint32_t(base);

  if (sink) sink->directoryListed(worker.listing);
  progress.fetch_add(count, std::memory_order_relaxed);
  progressByteCount.fetch_add(batchBytes, std::memory_order_relaxed);
  if (!cancelled.load(std::memory_order_relaxed) && !worker.children.empty())
    queueChildren(worker, job, folder);
  return true;
}

void Scanner::State::addEntry(Worker& worker, int directory,
                              const ScanCalls::DirectoryRecords::Record& record) {
  std::uint8_t flags = 0;
  std::uint64_t size = 0;
  std::int64_t mtime = 0;
  bool enter = false;
  dev_t device = 0;
  struct statx attributes;
  if (::statx(directory, record.name, statxFlags, statxMask, &attributes) != 0) {
    // Removed since the folder was read: not an entry of the tree, and no error.
    if (errno == ENOENT) return;
    // Otherwise keep the entry with what the folder itself told about it.
    flags |= EntryFlags::error;
    ++worker.counts.errors;
    if (record.type == DT_DIR) flags |= EntryFlags::directory;
    if (record.type == DT_LNK) flags |= EntryFlags::symlink;
  } else {
    device = makedev(attributes.stx_dev_major, attributes.stx_dev_minor);
    if (attributes.stx_mask & STATX_MTIME) mtime = attributes.stx_mtime.tv_sec;
    const bool typeKnown = attributes.stx_mask & STATX_TYPE;
    const mode_t type = attributes.stx_mode & S_IFMT;
    const bool isDirectory = typeKnown ? S_ISDIR(type) : record.type == DT_DIR;
    if (isDirectory) {
      flags |= EntryFlags::directory;
      enter = shouldEnter({record.name, record.nameLength}, attributes, device);
      if (!enter) flags |= EntryFlags::notDescended;
    } else {
      if (typeKnown ? S_ISLNK(type) : record.type == DT_LNK) flags |= EntryFlags::symlink;
      if (attributes.stx_mask & STATX_BLOCKS) {
        const std::uint64_t blocks = attributes.stx_blocks;
        size = blocks > std::numeric_limits<std::uint64_t>::max() / 512
                   ? std::numeric_limits<std::uint64_t>::max()
                   : blocks * 512;
      }
      size = countOnce(worker, directory, record.name, attributes, device, size, flags);
    }
  }
  const auto* name = reinterpret_cast<const std::uint8_t*>(record.name);
  const std::size_t index = worker.listing.count();
  worker.listing.append({name, record.nameLength}, size, mtime, flags);
  ++worker.counts.entries;
  worker.counts.bytes += size;
  if (flags & EntryFlags::directory) {
    ++worker.counts.directories;
    if (enter) worker.children.emplace_back(std::uint32_t(index), device);
  }
}

bool Scanner::State::shouldEnter(std::string_view name, const struct statx& attributes, dev_t device) const {
  if (!options.skipNames.empty() || !options.skipSuffixes.empty()) {
    const std::string text = Unicode::decodeLossy(name);
    if (options.skipNames.count(text)) return false;
    for (const std::string& suffix : options.skipSuffixes)
      if (text.ends_with(suffix)) return false;
  }
  if (options.oneFileSystem) {
    const bool mountRoot = (attributes.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
                           (attributes.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    if (mountRoot || device != rootDevice) return false;
  }
  if (!ignoredIDs.empty() && ignoredIDs.contains({attributes.stx_ino, std::uint64_t(device)})) return false;
  return true;
}

std::uint64_t Scanner::State::countOnce(Worker& worker, int directory, const char* name,
                                        const struct statx& attributes, dev_t device, std::uint64_t size,
                                        std::uint8_t& flags) {
  const std::uint32_t links = (attributes.stx_mask & STATX_NLINK) ? attributes.stx_nlink : 1;
  if (links > 1) {
    bool first;
    {
      std::lock_guard guard(linkLock);
      first = seenLinks.insert({attributes.stx_ino, std::uint64_t(device)});
    }
    if (!first) {
      flags |= EntryFlags::duplicateLink;
      return 0;
    }
  }
  const bool regular = (attributes.stx_mask & STATX_TYPE) && S_ISREG(attributes.stx_mode & S_IFMT);
  if (!options.detectClones || !regular || size == 0) return size;
  const Sharing sharing = sharingOf(worker, directory, name, device);
  if (sharing == Sharing::none) return size;
  // A file mounted over one of the folder lies in another tree than the folder's.
  if (sharing == Sharing::btrfsTrees && device == worker.folderDevice) {
    worker.treeLookups.emplace_back(attributes.stx_ino, std::uint32_t(worker.listing.count()));
    return size;
  }
  return countClone(directory, name, device, size, flags);
}

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

Sharing Scanner::State::sharingOf(Worker& worker, int directory, const char* name, dev_t device) {
  if (const DeviceSharing* known = worker.knownSharing(device)) return known->sharing;
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

void Scanner::State::queueChildren(Worker& worker, const Job& job, OpenFolder& folder) {
  const std::string& parentPath = job.path;
  const bool endsWithSlash = !parentPath.empty() && parentPath.back() == '/';
  if (!folder.shared) folder.shared = share(folder.own);
  worker.jobs.clear();
  for (const auto& [child, device] : worker.children) {
    const auto name = worker.listing.name(child);
    Job next;
    next.path.reserve(parentPath.size() + 1 + name.size());
    next.path = parentPath;
    if (!endsWithSlash) next.path += '/';
    next.nameStart = std::uint32_t(next.path.size());
    next.path.append(reinterpret_cast<const char*>(name.data()), name.size());
    next.parent = folder.shared;
    next.id = worker.listing.firstID + child;
    next.device = device;
    worker.jobs.push_back(std::move(next));
  }
  const std::size_t count = worker.jobs.size();
  // Counted before they become visible, so that no thread sees the scan end meanwhile.
  pending.fetch_add(std::int64_t(count), std::memory_order_acq_rel);
  {
    // Pushed in reverse: the own queue pops from the back, so in listing order.
    WorkQueue& queue = queues[std::size_t(worker.index)];
    std::lock_guard guard(queue.lock);
    for (auto job = worker.jobs.rbegin(); job != worker.jobs.rend(); ++job)
      queue.items.push_back(std::move(*job));
  }
  worker.jobs.clear();
  if (idleWorkers.load(std::memory_order_relaxed) >= 1) wakeIdle(count > 1);
}

SharedFolder Scanner::State::share(FileIO::Descriptor& own) {
  if (heldFolders.fetch_add(1, std::memory_order_relaxed) >= heldFoldersLimit) {
    heldFolders.fetch_sub(1, std::memory_order_relaxed);
    return nullptr;
  }
  return SharedFolder(new FileIO::Descriptor(std::move(own)), [this](const FileIO::Descriptor* held) {
    delete held;
    heldFolders.fetch_sub(1, std::memory_order_relaxed);
  });
}

void Scanner::State::reportFolderError(Worker& worker, std::uint32_t id) {
  ++worker.counts.errors;
  const std::uint64_t next = std::min(nextID.load(std::memory_order_relaxed), idLimit);
  worker.listing.reset(id, std::uint32_t(next));
  worker.listing.directoryError = true;
  if (sink) sink->directoryListed(worker.listing);
}

// MARK: public face

Scanner::Scanner(std::string root, ScanOptions options, std::shared_ptr<ScanSink> sink)
    : state_(std::make_unique<State>()) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  state_->root = std::move(root);
  state_->options = std::move(options);
  state_->sink = std::move(sink);
}

Scanner::~Scanner() = default;

const std::string& Scanner::root() const {
  return state_->root;
}
const ScanOptions& Scanner::options() const {
  return state_->options;
}

ScanStats Scanner::run() {
  return state_->run();
}

ScanStats Scanner::stats() const {
  std::lock_guard guard(state_->statsLock);
  return state_->stats;
}

void Scanner::cancel() {
  state_->cancelled.store(true);
  state_->wakeIdle(true);
}

bool Scanner::isCancelled() const {
  return state_->cancelled.load();
}

void Scanner::setSpeed(ScanSpeed speed) {
  {
    std::lock_guard guard(state_->speedLock);
    state_->speedChosen = true;
    state_->speedIndex.store(indexOf(speed));
    state_->activeLimit.store(threads(speed));
  }
  state_->wakeIdle(true);
}

ScanSpeed Scanner::speed() const {
  return ScanSpeed(state_->speedIndex.load());
}

std::uint64_t Scanner::progressEntries() const {
  return state_->progress.load(std::memory_order_relaxed);
}
std::uint64_t Scanner::progressBytes() const {
  return state_->progressByteCount.load(std::memory_order_relaxed);
}

}  // namespace tallyfox
