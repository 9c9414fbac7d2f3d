#include <tallyfox/SnapshotBuilderSink.h>

#include <sys/stat.h>

#include <utility>

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
  builder_.setRange(listing.firstID, std::int32_t(listing.directoryID), listing.names, listing.nameEnds,
                    listing.sizes, listing.mtimes, listing.flags);
}

TreeColumns SnapshotBuilderSink::finish() {
  std::lock_guard guard(lock_);
  return std::move(builder_).build(true, EntryFlags::directory);
}

}  // namespace tallyfox
