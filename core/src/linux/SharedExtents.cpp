#include "linux/SharedExtents.h"

#include "linux/BtrfsExtents.h"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace tallyfox::SharedExtents {

namespace {

constexpr long xfsMagic = 0x58465342;
constexpr long bcachefsMagic = 0xca451a4e;

// Extents fetched per FIEMAP call after the first, which asks for one: most files have a
// single extent, and an unshared first extent settles the answer, so the costly sharing
// check (a walk of the extent's back references on btrfs) runs once for most files.
constexpr unsigned extentsPerCall = 64;
// A damaged or hostile extent map must not keep us looping.
constexpr int maximumCalls = 1 << 16;

}  // namespace

bool canShare(long fileSystemType) {
  const auto type = static_cast<std::uint32_t>(fileSystemType);
  return BtrfsExtents::isBtrfs(fileSystemType) || type == static_cast<std::uint32_t>(xfsMagic) ||
         type == static_cast<std::uint32_t>(bcachefsMagic);
}

bool canSharePath(const char* path) {
  struct statfs fs;
  return ::statfs(path, &fs) == 0 && canShare(long(fs.f_type));
}

CloneInfo cloneInfo(int fd) {
  // struct fiemap ends in a flexible array of extents; the buffer holds extentsPerCall.
  alignas(struct fiemap) unsigned char
      buffer[sizeof(struct fiemap) + extentsPerCall * sizeof(struct fiemap_extent)];
  auto* map = reinterpret_cast<struct fiemap*>(buffer);
  const fiemap_extent* extents = map->fm_extents;
  CloneInfo info;
  bool sawExtent = false;
  std::uint64_t start = 0;
  unsigned wanted = 1;
  for (int call = 0; call < maximumCalls; ++call) {
    std::memset(buffer, 0, sizeof(struct fiemap));
    map->fm_start = start;
    map->fm_length = FIEMAP_MAX_OFFSET - start;
    map->fm_extent_count = wanted;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) return {};
    const unsigned count = map->fm_mapped_extents < wanted ? map->fm_mapped_extents : wanted;
    if (count == 0) return {info.cloneID, sawExtent};
    for (unsigned k = 0; k < count; ++k) {
      const fiemap_extent& extent = extents[k];
      if (!sawExtent) {
        info.cloneID = extent.fe_physical;
        sawExtent = true;
      }
      if (!(extent.fe_flags & FIEMAP_EXTENT_SHARED)) return {info.cloneID, false};
      if (extent.fe_flags & FIEMAP_EXTENT_LAST) return {info.cloneID, true};
    }
    const fiemap_extent& last = extents[count - 1];
    const std::uint64_t next = last.fe_logical + last.fe_length;
    if (next <= start || next < last.fe_logical) break;  // no progress or overflow
    start = next;
    wanted = extentsPerCall;
  }
  return {info.cloneID, false};
}

int openForReading(const char* path) {
  return openForReadingAt(AT_FDCWD, path);
}

int openForReadingAt(int folder, const char* name) {
  constexpr int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  int fd = ::openat(folder, name, flags | O_NOATIME);
  // O_NOATIME is refused for files of other users.
  if (fd < 0 && errno == EPERM) fd = ::openat(folder, name, flags);
  return fd;
}

void adviseSequential(int fd) {
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void dropCached(int fd, std::uint64_t offset, std::uint64_t length) {
  if (length == 0) return;
  ::posix_fadvise(fd, off_t(offset), off_t(length), POSIX_FADV_DONTNEED);
}

}  // namespace tallyfox::SharedExtents
