#include <tallyfox/SnapshotBuilderSink.h>

#include "linux/Memory.h"

#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <utility>

namespace tallyfox {

namespace {

// Room reserved up front: at most this many entries, with this many name bytes each, and
// never more entries than would fit in memory at this many bytes each (a scan that large
// could not be built anyway).
constexpr std::uint64_t reservedNodesAtMost = std::uint64_t(1) << 27;
constexpr std::size_t reservedNameBytesPerNode = 24;
constexpr std::uint64_t memoryPerReservedNode = 128;

// How many entries a scan of path can hold at most, as far as its file system tells: the
// objects in use on it (hard links aside). Nothing when it does not count them (btrfs).
std::uint64_t entriesAtMost(const std::string& path) {
  struct statfs fs;
  if (::statfs(path.c_str(), &fs) != 0 || fs.f_files <= fs.f_ffree) return 0;
  return std::uint64_t(fs.f_files - fs.f_ffree);
}

}  // namespace

void SnapshotBuilderSink::rootStarted(const std::string& path) {
  struct stat st;
  const std::int64_t mtime = ::lstat(path.c_str(), &st) == 0 ? std::int64_t(st.st_mtim.tv_sec) : 0;
  // The columns get room for every entry the root's file system holds, in address space
  // only (pages are mapped as the entries arrive), so that they never move and copy while
  // the scan fills them.
  std::uint64_t room = 0;
  if (Memory::untouchedMemoryIsFree()) {
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    const std::uint64_t memory =
        pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
    room = std::min({entriesAtMost(path) + 1, reservedNodesAtMost, memory / memoryPerReservedNode});
  }
  std::lock_guard guard(lock_);
  if (room > builder_.length()) {
    try {
      builder_.reserve(std::size_t(room), std::size_t(room) * reservedNameBytesPerNode);
    } catch (const std::exception&) {
      // Not that much address space: the columns grow as they fill instead.
    }
  }
  builder_.growTo(1);
  builder_.set(0, -1, {}, 0, mtime, 1, EntryFlags::directory);
}

void SnapshotBuilderSink::directoryListed(const DirectoryListing& listing) {
  PagesToMap pages;
  {
    std::lock_guard guard(lock_);
    if (listing.directoryError && listing.directoryID < builder_.length())
      builder_.addFlags(listing.directoryID, EntryFlags::error);
    builder_.setRange(listing.firstID, std::int32_t(listing.directoryID), listing.names, listing.nameEnds,
                      listing.sizes, listing.mtimes, listing.flags, &pages);
  }
  // The kernel fills fresh pages slowly, in a virtual machine above all: under the lock,
  // every other worker would wait for it.
  pages.map();
}

TreeColumns SnapshotBuilderSink::finish() {
  std::lock_guard guard(lock_);
  return std::move(builder_).build(true, EntryFlags::directory);
}

ArrangedColumns SnapshotBuilderSink::finishArranged() {
  std::lock_guard guard(lock_);
  return std::move(builder_).arrange(true, EntryFlags::directory);
}

}  // namespace tallyfox
