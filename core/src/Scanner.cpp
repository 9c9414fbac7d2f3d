// The scan as a whole: options, the worker threads and their loop, and the public face.
// The parts a worker runs live beside it: FolderListing.cpp (one folder), CloneAccounting.cpp
// (storage shared between files), WorkStealingPool.h (who works on which folder).

#include <tallyfox/Scanner.h>

#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/TreeColumns.h>
#include <tallyfox/Unicode.h>

#include "ScannerState.h"
#include "linux/FileIO.h"
#include "linux/ScanCalls.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace tallyfox {

// ---- Speeds and options

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

// ---- Run

using namespace detail;

namespace {

constexpr std::size_t stackBytes = 1048576;
constexpr int queuesAtLeast = 8;
// More threads than this only add contention; the option is clamped to it.
constexpr int threadsAtMost = 64;
// Folders held open for their subfolders at most: the descriptor limit is shared with the
// rest of the process, and past this many the subfolders open by path.
constexpr int heldFoldersAtMost = 1024;

}  // namespace

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
  const int queueCount = std::max(wanted, queuesAtLeast);
  {
    // A speed chosen before this thread got here (the caller starts run() on another
    // thread and may change the speed at once) wins over the one the scan was made with.
    std::lock_guard guard(speedLock);
    if (!speedChosen) {
      speedIndex.store(indexOf(options.speed));
      pool.setActiveLimit(wanted);
    }
  }
  Job rootJob;
  rootJob.path = root;
  rootJob.device = rootDevice;
  pool.start(queueCount, std::move(rootJob));

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
    pool.wakeIdle(true);
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

// ---- Workers

void Scanner::State::workerLoop(int index) {
  Worker worker;
  worker.index = index;
  for (;;) {
    if (const int speed = speedIndex.load(std::memory_order_relaxed); speed != worker.appliedSpeed) {
      ScanCalls::applyThreadPriority(speed != indexOf(ScanSpeed::fast), speed == indexOf(ScanSpeed::gentle));
      worker.appliedSpeed = speed;
    }
    if (pool.isActive(index)) {
      Job job;
      if (!pool.next(index, job)) {
        if (pool.finished()) break;
        continue;
      }
      if (!cancelled.load(std::memory_order_relaxed)) {
        try {
          process(worker, job);
        } catch (...) {
          fail(std::current_exception());
        }
      }
      pool.jobDone();
    } else {
      if (pool.finished()) break;
      pool.park();
    }
  }
  std::lock_guard guard(statsLock);
  stats.entries += worker.counts.entries;
  stats.directories += worker.counts.directories;
  stats.bytes += worker.counts.bytes;
  stats.errors += worker.counts.errors;
}

void Scanner::State::fail(std::exception_ptr error) {
  {
    std::lock_guard guard(failureLock);
    if (!failure) failure = std::move(error);
  }
  cancelled.store(true);
}

// ---- Public face

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
  state_->pool.wakeIdle(true);
}

bool Scanner::isCancelled() const {
  return state_->cancelled.load();
}

void Scanner::setSpeed(ScanSpeed speed) {
  {
    std::lock_guard guard(state_->speedLock);
    state_->speedChosen = true;
    state_->speedIndex.store(indexOf(speed));
    state_->pool.setActiveLimit(threads(speed));
  }
  state_->pool.wakeIdle(true);
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
