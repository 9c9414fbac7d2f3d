#pragma once

#include <cstdint>

namespace tallyfox::SharedExtents {

// What the file system says about a file's storage being shared with other files.
struct CloneInfo {
  // Physical offset of the first extent: two files whose storage is shared start at the
  // same place. 0 when unknown.
  std::uint64_t cloneID = 0;
  // Every extent of the file is shared with another file (or another place in itself).
  bool sharesAll = false;
};

// File systems that can share extents between files (btrfs, XFS, bcachefs), by statfs
// f_type. Others (ext4, tmpfs, ...) never report shared storage, so asking them is wasted.
bool canShare(long fileSystemType);
// The same for the file system holding a path; false when statfs fails.
bool canSharePath(const char* path);

// Reads the extent map with FS_IOC_FIEMAP; (0, false) when it cannot be read or the file has
// no extents. Stops at the first extent that is not shared.
CloneInfo cloneInfo(int fd);

// Opens a file for reading without following a final symbolic link, without blocking on a
// FIFO that took its place, and without updating its access time where the caller may ask
// that (it owns the file). -1 with errno on failure.
int openForReading(const char* path);
// The same for `name` in the open folder `folder`.
int openForReadingAt(int folder, const char* name);

// Page-cache hints around reading a file once: sequential read-ahead before, and the read
// range dropped after, so that hashing a large tree does not evict what the user works on.
void adviseSequential(int fd);
void dropCached(int fd, std::uint64_t offset, std::uint64_t length);

}  // namespace tallyfox::SharedExtents
