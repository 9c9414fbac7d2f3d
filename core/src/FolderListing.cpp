// The listing of one folder: read its entries a buffer at a time, look at each once (statx
// relative to the open folder), number a buffer's entries with one reservation of ids, hand
// them to the sink and queue the subfolders to enter, which open relative to this folder
// while it stays held.

#include "CloneAccounting.h"

#include <tallyfox/ScanSink.h>
#include <tallyfox/TreeColumns.h>
#include <tallyfox/Unicode.h>

#include "linux/FileIO.h"
#include "linux/ScanCalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace tallyfox {

using namespace detail;

namespace {

// Never trigger an automounter (a network share) by looking at its mount point.
constexpr int statxFlags = AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC | AT_NO_AUTOMOUNT;
constexpr unsigned statxMask = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_MTIME | STATX_BLOCKS;

}  // namespace

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
  pool.push(worker.index, worker.jobs);
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

}  // namespace tallyfox
