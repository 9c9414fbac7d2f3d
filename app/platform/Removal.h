#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

namespace tallyfox {

// A file descriptor that closes itself.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Deleting files for good without ever following a symbolic link or leaving the mount the
// deletion started on. Every name is opened or removed relative to its folder's descriptor,
// so a link planted anywhere below, or swapped in while the deletion runs, goes as a link and
// what it points at stays.
namespace Removal {

// Which mount a file is on: the kernel's mount id, or its device where the kernel reports no
// mount ids. Two bind mounts of one file system share a device but not a mount id, and a
// file cannot be renamed from one to the other.
using MountKey = std::pair<bool, std::uint64_t>;
std::optional<MountKey> mountOf(int fd);
// Of `name` in `folder`; a link is not followed.
std::optional<MountKey> mountOf(int folder, const char* name);
// A mount's root, as opposed to a folder on the mount above it.
bool isMountPoint(int folder, const char* name);

// Deletes `name` in `folder` with everything below it, making folders writable first.
// A folder on another mount than `folder` is left alone with what it holds. Goes on past a
// failure and records the first one in `error`, naming the file as `shown` (the path of
// `name`) and the names below it; false when anything stayed.
bool removeAt(int folder, const char* name, const QByteArray& shown, QString& error);

// Deletes the file or folder at `path` (absolute, exact bytes). Symbolic links in `base`, a
// folder at or above the path's folder, are followed as the user gave them; below it every
// folder is opened without following, so a link that now stands in the path is refused
// rather than followed. An item that is gone counts as deleted. The first failure's text.
std::optional<QString> removePath(const QByteArray& path, const QByteArray& base);

// "path: reason" for a call that failed with `error`.
QString failure(const QByteArray& path, int error);

}  // namespace Removal

}  // namespace tallyfox
