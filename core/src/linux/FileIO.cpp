#include "linux/FileIO.h"

#include <tallyfox/Unicode.h>

#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>
#include <system_error>

namespace tallyfox::FileIO {

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

int Descriptor::close() {
  if (fd_ < 0) return 0;
  const int result = ::close(fd_);
  fd_ = -1;
  return result;
}

void throwErrno(int fallback) {
  const int code = errno != 0 ? errno : fallback;
  throw std::system_error(code, std::generic_category());
}

namespace {

// Puts all of data through put(bytes, count, done), which writes some of it after the
// first `done` bytes and returns how many it wrote, retrying what was interrupted or short.
template <typename Put>
void putAll(const void* data, std::size_t length, Put put) {
  auto p = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < length) {
    // Linux moves at most about 2 GiB per call.
    const std::size_t chunk = std::min(length - done, std::size_t(1) << 30);
    const ssize_t n = put(p + done, chunk, done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throwErrno();
    }
    if (n == 0) {
      errno = EIO;
      throwErrno();
    }
    done += std::size_t(n);
  }
}

}  // namespace

void writeAll(int fd, const void* data, std::size_t length) {
  putAll(data, length, [fd](const char* p, std::size_t n, std::size_t) { return ::write(fd, p, n); });
}

void writeAllAt(int fd, const void* data, std::size_t length, std::uint64_t offset) {
  putAll(data, length, [fd, offset](const char* p, std::size_t n, std::size_t done) {
    return ::pwrite(fd, p, n, off_t(offset + done));
  });
}

void setLength(int fd, std::uint64_t length) {
  while (::ftruncate(fd, off_t(length)) != 0)
    if (errno != EINTR) throwErrno();
}

void startWriteback(int fd, std::uint64_t offset, std::uint64_t length) {
  (void)::sync_file_range(fd, off_t(offset), off_t(length), SYNC_FILE_RANGE_WRITE);
}

namespace {

// Retries short and interrupted reads; read(got, left) reads into data + got.
template <typename Read>
long readFully(void* data, std::size_t length, Read read) {
  auto p = static_cast<char*>(data);
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = read(p + got, length - got, got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    got += std::size_t(n);
  }
  return long(got);
}

}  // namespace

long readUpTo(int fd, void* data, std::size_t length) {
  return readFully(data, length,
                   [fd](char* to, std::size_t left, std::size_t) { return ::read(fd, to, left); });
}

long readUpToAt(int fd, void* data, std::size_t length, std::uint64_t offset) {
  return readFully(data, length, [fd, offset](char* to, std::size_t left, std::size_t got) {
    return ::pread(fd, to, left, off_t(offset + got));
  });
}

namespace {

class FileErrorCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "tallyfox.file"; }
  std::string message(int) const override { return "not a regular file"; }
};

Descriptor openChecked(const std::filesystem::path& path, struct stat* status) {
  // Refused before opening as well as after: opening some devices has effects of its own.
  struct stat before;
  if (::stat(path.c_str(), &before) != 0) throwErrno();
  if (!S_ISREG(before.st_mode)) throw std::system_error(notRegularFile());
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) throwErrno();
  struct stat after;
  if (::fstat(fd.get(), &after) != 0) throwErrno();
  if (!S_ISREG(after.st_mode)) throw std::system_error(notRegularFile());
  if (status) *status = after;
  return fd;
}

}  // namespace

std::error_code notRegularFile() {
  static const FileErrorCategory category;
  return {1, category};
}

Descriptor openRegularFile(const std::filesystem::path& path, struct stat* status) {
  return openChecked(path, status);
}

Descriptor tryOpenRegularFile(const std::filesystem::path& path, struct stat* status) {
  try {
    return openChecked(path, status);
  } catch (const std::system_error&) {
    return Descriptor();
  }
}

std::string readWholeFile(const std::filesystem::path& path, std::size_t limit) {
  struct stat status;
  Descriptor fd = openRegularFile(path, &status);
  if (std::uint64_t(status.st_size) > limit) throw std::system_error(EFBIG, std::generic_category());
  std::string text(std::size_t(status.st_size), '\0');
  const long n = readUpTo(fd.get(), text.data(), text.size());
  if (n < 0) throwErrno();
  text.resize(std::size_t(n));
  return text;
}

namespace {

constexpr int folderPathFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// ENOTDIR from an O_DIRECTORY | O_NOFOLLOW open also stands for a link; say which it was.
int refusedComponent(int folder, const std::string& name) {
  struct stat status;
  const int error = errno;
  if (error == ENOTDIR && ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(status.st_mode))
    errno = ELOOP;
  else
    errno = error;
  return -1;
}

int walkBeneath(int root, std::string_view relative) {
  Descriptor current(::openat(root, ".", folderPathFlags));
  if (!current) return -1;
  std::size_t start = 0;
  while (start < relative.size()) {
    const std::size_t slash = std::min(relative.find('/', start), relative.size());
    const std::string name(relative.substr(start, slash - start));
    start = slash + 1;
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      errno = EXDEV;
      return -1;
    }
    Descriptor next(::openat(current.get(), name.c_str(), folderPathFlags));
    if (!next) return refusedComponent(current.get(), name);
    current = std::move(next);
  }
  return current.release();
}

}  // namespace

int openFolderBeneath(int root, std::string_view relative, Resolution resolution) {
  // The walk refuses ".." outright; so does this, so that both ways answer alike.
  for (std::size_t start = 0; start <= relative.size();) {
    const std::size_t slash = std::min(relative.find('/', start), relative.size());
    if (relative.substr(start, slash - start) == "..") {
      errno = EXDEV;
      return -1;
    }
    start = slash + 1;
  }
  static std::atomic<bool> openat2Missing{false};
  if (resolution == Resolution::automatic && !openat2Missing.load(std::memory_order_relaxed)) {
    open_how how{};
    // RESOLVE_NO_SYMLINKS refuses a link at the last component too, with ELOOP.
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    const std::string path = relative.empty() ? std::string(".") : std::string(relative);
    for (int attempt = 0; attempt < 8; ++attempt) {
      const int fd = int(::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how));
      if (fd >= 0) return fd;
      // EAGAIN: a rename elsewhere raced the lookup; the kernel asks for another try.
      if (errno == EAGAIN || errno == EINTR) continue;
      if (errno != ENOSYS && errno != EPERM) return -1;
      break;
    }
    if (errno == EAGAIN || errno == EINTR) return -1;
    // Without openat2 (or where a sandbox forbids it) the walk does the same, one step at a time.
    openat2Missing.store(true, std::memory_order_relaxed);
  }
  return walkBeneath(root, relative);
}

SequentialWriter::SequentialWriter(int fd, std::size_t capacity)
    : fd_(fd), buffer_(new char[capacity]), capacity_(capacity) {}

void SequentialWriter::put(const void* data, std::size_t length) {
  position_ += length;
  if (length > capacity_ - used_) {
    flush();
    if (length >= capacity_) {
      writeAll(fd_, data, length);
      return;
    }
  }
  std::memcpy(buffer_.get() + used_, data, length);
  used_ += length;
}

void SequentialWriter::putZeros(std::uint64_t length) {
  while (length > 0) {
    if (used_ == capacity_) flush();
    const std::size_t step = std::size_t(std::min<std::uint64_t>(length, capacity_ - used_));
    std::memset(buffer_.get() + used_, 0, step);
    used_ += step;
    position_ += step;
    length -= step;
  }
}

void SequentialWriter::flush() {
  writeAll(fd_, buffer_.get(), used_);
  used_ = 0;
}

std::size_t maxNameBytes(const std::filesystem::path& folder) {
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? std::size_t(limit) : std::size_t(NAME_MAX);
}

namespace {

constexpr std::size_t randomBytes = 12;
constexpr std::string_view temporaryEnd = ".tmp";

// Letters and digits that another user cannot predict, so that nothing can be planted at
// the name beforehand; O_EXCL makes a guessed name harmless all the same.
std::string randomPart() {
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != ssize_t(sizeof bits)) {
    static std::atomic<std::uint64_t> counter{0};
    bits =
        std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) * 0x9E3779B97F4A7C15ull ^
        (counter.fetch_add(1) << 32) ^ std::uint64_t(::getpid());
  }
  static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string text;
  for (std::size_t k = 0; k < randomBytes; ++k) {
    text += alphabet[bits % 36];
    bits /= 36;
  }
  return text;
}

std::filesystem::path folderOf(const std::filesystem::path& destination) {
  auto folder = destination.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

// The destination's name stays readable in its temporary's, cut where the whole would not
// fit: a name that fits must never fail for want of room for its temporary.
std::filesystem::path newTemporaryName(const std::filesystem::path& destination) {
  const std::filesystem::path folder = folderOf(destination);
  const std::string tail = "." + std::to_string(::getpid()) + "." + randomPart() + std::string(temporaryEnd);
  const std::size_t limit = maxNameBytes(folder);
  const std::size_t room = limit > tail.size() + 1 ? limit - tail.size() - 1 : 0;
  const std::string name = destination.filename().string();
  return folder / ("." + std::string(Unicode::prefixWithin(name, room)) + tail);
}

bool allOf(std::string_view text, bool (*test)(char)) {
  for (char c : text)
    if (!test(c)) return false;
  return !text.empty();
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isRandomCharacter(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'z');
}

// Whether `name` is "." + any name + "." + pid + "." + random part + ".tmp", as every
// temporary this writer makes is named.
bool isTemporaryName(std::string_view name) {
  if (name.size() < 1 + 1 + 1 + 1 + randomBytes + temporaryEnd.size() || name.front() != '.' ||
      !name.ends_with(temporaryEnd))
    return false;
  std::string_view middle = name.substr(1, name.size() - 1 - temporaryEnd.size());
  const auto randomDot = middle.rfind('.');
  if (randomDot == std::string_view::npos || !allOf(middle.substr(randomDot + 1), isRandomCharacter) ||
      middle.size() - randomDot - 1 != randomBytes)
    return false;
  middle = middle.substr(0, randomDot);
  const auto pidDot = middle.rfind('.');
  return pidDot != std::string_view::npos && middle.size() - pidDot - 1 <= 10 &&
         allOf(middle.substr(pidDot + 1), isDigit);
}

// Whether `name` is "." + file + "." + pid + ".tmp", as temporaries were once named. That
// form is common enough among other programs that only those of the file being written
// are taken for ours.
bool isOlderTemporaryOf(std::string_view name, const std::string& file) {
  const std::string start = "." + file + ".";
  if (name.size() <= start.size() + temporaryEnd.size() || !name.starts_with(start) ||
      !name.ends_with(temporaryEnd))
    return false;
  const std::string_view pid = name.substr(start.size(), name.size() - start.size() - temporaryEnd.size());
  return pid.size() <= 10 && allOf(pid, isDigit);
}

// Takes the lock a writer holds on its temporary. False when it is held, or when the file
// system cannot lock, where nothing can tell a live writer from a dead one.
bool lockExclusively(int fd) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0)
    if (errno != EINTR) return false;
  return true;
}

// Removes a temporary whose writer is gone: nobody holds its lock. Only plain files of our
// own are removed: what another user left (or planted) is not ours to delete.
void removeIfAbandoned(const std::filesystem::path& path) {
  struct stat named;
  if (::lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode) || named.st_uid != ::geteuid()) return;
  constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  // Some file systems (NFS) lock only what is open for writing.
  Descriptor file(::open(path.c_str(), O_RDWR | flags));
  if (!file) file = Descriptor(::open(path.c_str(), O_RDONLY | flags));
  struct stat opened, still;
  if (!file || ::fstat(file.get(), &opened) != 0 || opened.st_ino != named.st_ino ||
      opened.st_dev != named.st_dev || !lockExclusively(file.get()))
    return;
  // Unlinked while it is held, and only while the name still leads to the file held.
  if (::lstat(path.c_str(), &still) == 0 && still.st_ino == opened.st_ino && still.st_dev == opened.st_dev)
    ::unlink(path.c_str());
}

void removeAbandonedTemporaries(const std::filesystem::path& destination) {
  const std::string file = destination.filename().string();
  std::error_code error;
  for (std::filesystem::directory_iterator it(folderOf(destination), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (isTemporaryName(name) || isOlderTemporaryOf(name, file)) removeIfAbandoned(it->path());
  }
}

// Refuses to put a file in place of anything but a regular file, a link to one, or nothing:
// as root, the rename would as readily replace /dev/null.
void checkReplaceable(const std::filesystem::path& destination) {
  const std::string name = destination.filename().string();
  if (name.empty() || name == "." || name == "..") throw std::system_error(EISDIR, std::generic_category());
  struct stat status;
  if (::lstat(destination.c_str(), &status) != 0) {
    if (errno == ENOENT) return;
    throwErrno();
  }
  if (S_ISLNK(status.st_mode)) {
    // The link itself is replaced, whatever it leads to; but a link to a device or a
    // folder stands for that device or folder.
    if (::stat(destination.c_str(), &status) != 0) {
      if (errno == ENOENT) return;
      throwErrno();
    }
  }
  if (S_ISREG(status.st_mode)) return;
  if (S_ISDIR(status.st_mode)) throw std::system_error(EISDIR, std::generic_category());
  throw std::system_error(notRegularFile());
}

// Renames a complete temporary over the destination, checking the destination once more:
// it may have changed since the writing began.
void putInPlace(const std::filesystem::path& temporary, const std::filesystem::path& destination) {
  checkReplaceable(destination);
  if (::rename(temporary.c_str(), destination.c_str()) != 0) throwErrno();
}

// A flush of the folder makes the rename itself survive a power loss. File systems that
// cannot flush a folder refuse with EINVAL; that and any other failure here is not reported,
// since the new file is already in place and complete.
void flushFolder(const std::filesystem::path& destination) {
  Descriptor folder(::open(folderOf(destination).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.get());
}

void flush(int fd) {
  while (::fsync(fd) != 0)
    if (errno != EINTR) throwErrno();
}

// Reports what closing the file would, while the descriptor (and so the lock) stays: a
// file system that writes out at close (NFS) does so at the close of any duplicate.
void closeDuplicate(int fd) {
  Descriptor copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (!copy || copy.close() != 0) throwErrno();
}

// Writes into a file that has no name until it is complete, so that a writer killed on the
// way leaves nothing behind. False, with nothing changed, when the folder's file system
// cannot make such a file or it cannot be given a name.
bool writeUnnamed(const std::filesystem::path& destination, const std::function<void(int fd)>& body,
                  unsigned mode) {
  Descriptor file(::open(folderOf(destination).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (!file) return false;
  // Held before the file has a name, so that no one ever sees it named and free.
  (void)lockExclusively(file.get());
  body(file.get());
  flush(file.get());
  closeDuplicate(file.get());
  const std::string self = "/proc/self/fd/" + std::to_string(file.get());
  std::filesystem::path temporary;
  for (int attempt = 0;; ++attempt) {
    temporary = newTemporaryName(destination);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
    // Without /proc, only a privileged process can name the file by its descriptor.
    if (errno != EEXIST && ::linkat(file.get(), "", AT_FDCWD, temporary.c_str(), AT_EMPTY_PATH) == 0) break;
    if (errno != EEXIST || attempt == 8) return false;
  }
  try {
    putInPlace(temporary, destination);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  return true;
}

// A new named temporary, locked. A file just made is free until it is locked: one that
// another writer's clearing took meanwhile (its lock is held, or the file is already gone)
// is left to it, and another name is tried.
Descriptor newLockedTemporary(const std::filesystem::path& destination, unsigned mode,
                              std::filesystem::path& temporary) {
  for (int attempt = 0;; ++attempt) {
    temporary = newTemporaryName(destination);
    Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!file) {
      if (errno != EEXIST || attempt == 8) throwErrno();
      continue;
    }
    struct stat status;
    const bool held = ::flock(file.get(), LOCK_EX | LOCK_NB) == 0;
    if (!held && errno != EWOULDBLOCK && errno != EINTR) return file;  // no locks here
    if (held && ::fstat(file.get(), &status) == 0 && status.st_nlink > 0) return file;
    if (attempt == 8) {
      errno = EBUSY;
      throwErrno();
    }
  }
}

void writeNamed(const std::filesystem::path& destination, const std::function<void(int fd)>& body,
                unsigned mode) {
  std::filesystem::path temporary;
  Descriptor file = newLockedTemporary(destination, mode, temporary);
  try {
    body(file.get());
    flush(file.get());
    closeDuplicate(file.get());
    putInPlace(temporary, destination);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
}

}  // namespace

void checkWritable(const std::filesystem::path& destination) {
  const std::filesystem::path folder = folderOf(destination);
  checkReplaceable(destination);
  if (destination.filename().string().size() > maxNameBytes(folder))
    throw std::system_error(ENAMETOOLONG, std::generic_category());
  // A trial file says what permissions, a read-only mount or a missing folder would do to
  // the real one; it has no name, or loses it at once.
  if (Descriptor trial(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)); trial) return;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) throwErrno();
  const std::filesystem::path name = newTemporaryName(destination);
  Descriptor trial(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!trial) throwErrno();
  ::unlink(name.c_str());
}

void writeAtomically(const std::filesystem::path& destination, const std::function<void(int fd)>& body,
                     unsigned mode, Temporary temporary) {
  removeAbandonedTemporaries(destination);
  checkReplaceable(destination);
  if (temporary != Temporary::unnamedWherePossible || !writeUnnamed(destination, body, mode))
    writeNamed(destination, body, mode);
  flushFolder(destination);
}

}  // namespace tallyfox::FileIO
