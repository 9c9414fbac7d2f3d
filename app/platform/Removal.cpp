#include "platform/Removal.h"

#include "platform/LocalPath.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace tallyfox {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace Removal {

namespace {

std::optional<MountKey> mountFromStatx(int folder, const char* name, int flags) {
  struct statx st {};
  if (::statx(folder, name, flags | AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, STATX_MNT_ID, &st) != 0)
    return std::nullopt;
  if (st.stx_mask & STATX_MNT_ID) return MountKey{true, st.stx_mnt_id};
  return MountKey{false, std::uint64_t(::makedev(st.stx_dev_major, st.stx_dev_minor))};
}

// Opens a folder to list and empty it. One the owner may not read is made readable first,
// by a call that refuses a link rather than changing what it points at.
UniqueFd openToEmpty(int folder, const char* name, mode_t mode) {
  constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  UniqueFd fd(::openat(folder, name, flags));
  if (fd || errno != EACCES) return fd;
  if (::fchmodat(folder, name, (mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW) != 0) {
    errno = EACCES;  // the reason the folder stays, rather than why it could not be changed
    return fd;
  }
  fd.reset(::openat(folder, name, flags));
  return fd;
}

bool removeBelow(int folder, const char* name, const QByteArray& shown, QString& error,
                 const std::optional<MountKey>& within) {
  const auto fail = [&](const QString& text) {
    if (error.isEmpty()) error = text;
    return false;
  };
  struct stat st {};
  if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT || fail(failure(shown, errno));
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(folder, name, 0) != 0 && errno != ENOENT) return fail(failure(shown, errno));
    return true;
  }
  UniqueFd fd = openToEmpty(folder, name, st.st_mode);
  if (!fd) return errno == ENOENT || fail(failure(shown, errno));
  // A mount inside is someone else's file system; what it holds is not part of this item.
  if (within && mountOf(fd.get()) != within)
    return fail(displayPath(shown) + QStringLiteral(": is a mount point, left as it is"));
  struct stat own {};
  if (::fstat(fd.get(), &own) == 0 && (own.st_mode & S_IRWXU) != S_IRWXU)
    ::fchmod(fd.get(), (own.st_mode & 07777) | S_IRWXU);
  DIR* dir = ::fdopendir(fd.get());
  if (!dir) return fail(failure(shown, errno));
  const int listed = fd.release();
  bool complete = true;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    complete = removeBelow(listed, entry->d_name, shown + '/' + entry->d_name, error, within) && complete;
  }
  ::closedir(dir);
  if (!complete) return false;
  if (::unlinkat(folder, name, AT_REMOVEDIR) != 0 && errno != ENOENT) return fail(failure(shown, errno));
  return true;
}

}  // namespace

QString failure(const QByteArray& path, int error) {
  return displayPath(path) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

std::optional<MountKey> mountOf(int fd) {
  return mountFromStatx(fd, "", AT_EMPTY_PATH);
}

std::optional<MountKey> mountOf(int folder, const char* name) {
  return mountFromStatx(folder, name, 0);
}

bool isMountPoint(int folder, const char* name) {
  struct statx st {};
  if (::statx(folder, name, AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, STATX_MNT_ID, &st) != 0) return false;
  if (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) return st.stx_attributes & STATX_ATTR_MOUNT_ROOT;
  return mountOf(folder, name) != mountOf(folder);
}

bool removeAt(int folder, const char* name, const QByteArray& shown, QString& error) {
  return removeBelow(folder, name, shown, error, mountOf(folder));
}

std::optional<QString> removePath(const QByteArray& path, const QByteArray& base) {
  const qsizetype slash = path.lastIndexOf('/');
  const QByteArray name = path.mid(slash + 1);
  if (!path.startsWith('/') || name.isEmpty() || name == "." || name == "..") return failure(path, EINVAL);
  const QByteArray parent = slash == 0 ? QByteArrayLiteral("/") : path.left(slash);

  // The walk starts at the base when the path lies below it, else at the root.
  QByteArray start = base;
  while (start.size() > 1 && start.endsWith('/')) start.chop(1);
  const bool below =
      start.startsWith('/') && (start == "/" || parent == start || parent.startsWith(start + '/'));
  if (!below) start = QByteArrayLiteral("/");
  UniqueFd dir(::open(start.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return errno == ENOENT ? std::nullopt : std::optional(failure(start, errno));

  QByteArray walked = start == "/" ? QByteArray() : start;
  for (const QByteArray& part : parent.mid(start.size()).split('/')) {
    if (part.isEmpty() || part == ".") continue;
    if (part == "..") return failure(path, EINVAL);
    walked += '/' + part;
    UniqueFd next(::openat(dir.get(), part.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) {
      const int code = errno;
      if (code == ENOENT) return std::nullopt;  // and so is what was below it
      struct stat st {};
      if (::fstatat(dir.get(), part.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        return displayPath(walked) +
               QStringLiteral(" is a symbolic link now; nothing was deleted through it");
      return failure(walked, code);
    }
    dir = std::move(next);
  }

  struct stat st {};
  if (::fstatat(dir.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? std::nullopt : std::optional(failure(path, errno));
  if (S_ISDIR(st.st_mode) && isMountPoint(dir.get(), name.constData()))
    return displayPath(path) + QStringLiteral(": is a mount point, left as it is");
  QString error;
  if (removeAt(dir.get(), name.constData(), path, error)) return std::nullopt;
  return error.isEmpty() ? failure(path, EIO) : error;
}

}  // namespace Removal

}  // namespace tallyfox
