#include "linux/FileIO.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
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

std::string temporaryPrefix(const std::filesystem::path& destination) {
  return "." + destination.filename().string() + "." + std::to_string(::getpid());
}

namespace {

// Twelve letters and digits that another user cannot predict, so that nothing can be planted
// at the name beforehand; O_EXCL makes a guessed name harmless all the same.
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
  for (int k = 0; k < 12; ++k) {
    text += alphabet[bits % 36];
    bits /= 36;
  }
  return text;
}

std::filesystem::path folderOf(const std::filesystem::path& destination) {
  auto folder = destination.parent_path();
  return folder.empty() ? std::filesystem::path(".") : folder;
}

std::filesystem::path newTemporaryName(const std::filesystem::path& destination) {
  return folderOf(destination) / (temporaryPrefix(destination) + "." + randomPart() + ".tmp");
}

bool allOf(std::string_view text, int (*test)(int)) {
  for (unsigned char c : text)
    if (!test(c)) return false;
  return !text.empty();
}

// Whether `name` is a temporary of a file called `file` ("." + file + "." + pid, then
// optionally "." + random part, then ".tmp") whose writer no longer runs.
bool isStaleTemporary(std::string_view name, const std::string& file) {
  const std::string start = "." + file + ".";
  constexpr std::string_view end = ".tmp";
  if (name.size() < start.size() + end.size() || !name.starts_with(start) || !name.ends_with(end))
    return false;
  const std::string_view middle = name.substr(start.size(), name.size() - start.size() - end.size());
  const auto dot = middle.find('.');
  const std::string_view pidText = middle.substr(0, dot);
  if (pidText.size() > 9 || !allOf(pidText, [](int c) { return int(c >= '0' && c <= '9'); })) return false;
  if (dot != std::string_view::npos &&
      !allOf(middle.substr(dot + 1), [](int c) { return int(std::isalnum(c) != 0); }))
    return false;
  const pid_t pid = pid_t(std::stol(std::string(pidText)));
  if (pid <= 0 || pid == ::getpid()) return false;
  // EPERM: it runs, under another user.
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Temporaries of `destination` left by killed writers. Only plain files of our own are
// removed: what another user left (or planted) is not ours to delete.
void removeStaleTemporaries(const std::filesystem::path& destination) {
  const std::string file = destination.filename().string();
  const uid_t self = ::geteuid();
  std::error_code error;
  for (std::filesystem::directory_iterator it(folderOf(destination), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!isStaleTemporary(name, file)) continue;
    struct stat status;
    if (::lstat(it->path().c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == self)
      ::unlink(it->path().c_str());
  }
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

// Writes into a file that has no name until it is complete, so that a writer killed on the
// way leaves nothing behind. False, with nothing changed, when the folder's file system
// cannot make such a file or it cannot be given a name.
bool writeUnnamed(const std::filesystem::path& destination, const std::function<void(int fd)>& body,
                  unsigned mode) {
  Descriptor file(::open(folderOf(destination).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (!file) return false;
  body(file.get());
  flush(file.get());
  const std::string self = "/proc/self/fd/" + std::to_string(file.get());
  std::filesystem::path temporary;
  for (int attempt = 0;; ++attempt) {
    temporary = newTemporaryName(destination);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
    // Without /proc, only a privileged process can name the file by its descriptor.
    if (errno != EEXIST && ::linkat(file.get(), "", AT_FDCWD, temporary.c_str(), AT_EMPTY_PATH) == 0) break;
    if (errno != EEXIST || attempt == 8) return false;
  }
  if (::rename(temporary.c_str(), destination.c_str()) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    errno = code;
    throwErrno();
  }
  return true;
}

void writeNamed(const std::filesystem::path& destination, const std::function<void(int fd)>& body,
                unsigned mode) {
  std::filesystem::path temporary;
  Descriptor file;
  for (int attempt = 0; !file; ++attempt) {
    temporary = newTemporaryName(destination);
    file = Descriptor(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!file && (errno != EEXIST || attempt == 8)) throwErrno();
  }
  try {
    body(file.get());
    flush(file.get());
    if (file.close() != 0) throwErrno();
    if (::rename(temporary.c_str(), destination.c_str()) != 0) throwErrno();
  } catch (...) {
    file.close();
    ::unlink(temporary.c_str());
    throw;
  }
}

}  // namespace

void writeAtomically(const std::filesystem::path& destination, const std::function<void(int fd)>& body,
                     unsigned mode, Temporary temporary) {
  removeStaleTemporaries(destination);
  if (temporary != Temporary::unnamedWherePossible || !writeUnnamed(destination, body, mode))
    writeNamed(destination, body, mode);
  flushFolder(destination);
}

}  // namespace tallyfox::FileIO
