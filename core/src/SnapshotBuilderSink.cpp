#include <tallyfox/SnapshotBuilderSink.h>

#include <sys/stat.h>

namespace tallyfox {

void SnapshotBuilderSink::rootStarted(const std::string& path) {
  struct stat st;
  const std::int64_t mtime = ::lstat(path.c_str(), &st) == 0 ? std::int64_t(st.st_mtim.tv_sec) : 0;
  std::lock_guard guard(lock_);
  builder_.growTo(1);
  builder_.set(0, -1, {}, 0, mtime, 1, EntryFlags::directory);
}

void SnapshotBuilderSink::directoryListed(const DirectoryListing& listing) {
  std::lock_guard guard(lock_);
  if (listing.directoryError && listing.directoryID < builder_.length())
    builder_.addFlags(listing.directoryID, EntryFlags::error);
  const std::size_t count = listing.count();
  if (count == 0) return;
  builder_.growTo(std::size_t(listing.firstID) + count);
  for (std::size_t k = 0; k < count; ++k)
    builder_.set(std::size_t(listing.firstID) + k, std::int32_t(listing.directoryID), listing.name(k),
                 listing.sizes[k], listing.mtimes[k], 1, listing.flags[k]);
}

TreeColumns SnapshotBuilderSink::finish() {
  std::lock_guard guard(lock_);
  TreeColumns columns = builder_.build(true, EntryFlags::directory);
  builder_.clear();
  return columns;
}

}  // namespace tallyfox
