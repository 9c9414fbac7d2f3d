#include "platform/Trash.h"

#include "platform/LocalPath.h"

#include <dirent.h>
#include <fcntl.h>
#include <mntent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace tallyfox {

namespace fs = std::filesystem;

namespace {

QString failure(const QByteArray& what, int error) {
  return displayPath(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

QByteArray bytesOf(const fs::path& path) {
  return QByteArray::fromStdString(path.native());
}

// A folder this user owns, made when missing; never a symbolic link. Sets errno when not.
bool ownFolder(const fs::path& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode) && st.st_uid == ::getuid()) return true;
  errno = S_ISDIR(st.st_mode) ? EACCES : ENOTDIR;
  return false;
}

// The per-user folder below a volume's shared .Trash, which must be a real folder with the
// sticky bit; others may not be trusted.
std::optional<fs::path> sharedTrashOf(const fs::path& top, bool create) {
  const fs::path shared = top / ".Trash";
  struct stat st {};
  if (::lstat(shared.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !(st.st_mode & S_ISVTX))
    return std::nullopt;
  const fs::path own = shared / std::to_string(::getuid());
  if (create) return ownFolder(own) ? std::optional(own) : std::nullopt;
  return ::lstat(own.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() ? std::optional(own)
                                                                                          : std::nullopt;
}

std::optional<fs::path> ownTrashOf(const fs::path& top, bool create) {
  const fs::path own = top / (".Trash-" + std::to_string(::getuid()));
  if (create) return ownFolder(own) ? std::optional(own) : std::nullopt;
  struct stat st {};
  return ::lstat(own.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() ? std::optional(own)
                                                                                          : std::nullopt;
}

// The highest folder above `path` on the same device: the volume's top.
fs::path topOf(const fs::path& path, dev_t device) {
  fs::path top = path;
  for (fs::path up = path.parent_path(); up != top; top = up, up = up.parent_path()) {
    struct stat st {};
    if (::stat(up.c_str(), &st) != 0 || st.st_dev != device) break;
  }
  return top;
}

// Deletes `name` in `folder` with everything below it, making folders writable first. Never
// follows a symbolic link. Records the first failure in `error`; false when anything stayed.
bool removeAt(int folder, const char* name, const QByteArray& shown, QString& error) {
  const auto fail = [&](int code) {
    if (error.isEmpty()) error = failure(shown, code);
    return false;
  };
  struct stat st {};
  if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT || fail(errno);
  if (S_ISDIR(st.st_mode)) {
    if ((st.st_mode & S_IRWXU) != S_IRWXU) ::fchmodat(folder, name, (st.st_mode & 07777) | S_IRWXU, 0);
    const int fd = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
      const int code = errno;
      ::close(fd);
      return fail(code);
    }
    bool complete = true;
    while (const dirent* entry = ::readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      complete = removeAt(fd, entry->d_name, shown + '/' + entry->d_name, error) && complete;
    }
    ::closedir(dir);
    if (!complete) return false;
    if (::unlinkat(folder, name, AT_REMOVEDIR) != 0 && errno != ENOENT) return fail(errno);
    return true;
  }
  if (::unlinkat(folder, name, 0) != 0 && errno != ENOENT) return fail(errno);
  return true;
}

bool removePath(const fs::path& path, QString& error) {
  return removeAt(AT_FDCWD, path.c_str(), bytesOf(path), error);
}

std::vector<std::string> namesIn(const fs::path& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
  }
  return names;
}

bool isThere(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// A name in the trash for `name`, short enough that its ".trashinfo" file fits in a name.
std::string trashName(const std::string& name, int attempt) {
  const std::string suffix = attempt == 1 ? std::string() : "." + std::to_string(attempt);
  constexpr std::size_t longest = 255 - std::char_traits<char>::length(".trashinfo");
  std::string base = name;
  if (base.size() + suffix.size() > longest) base.resize(longest - suffix.size());
  return base + suffix;
}

std::string deletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

class SystemTrash : public Trash {
 public:
  // Ours rather than QFile::moveToTrash: Qt cannot carry a name that is not UTF-8, and when
  // it cannot make the home trash (no ~/.local/share yet) it reports success after moving
  // the file into a "files" folder below the current working directory.
  std::optional<QString> moveToTrash(const QByteArray& path) override {
    return FreedesktopTrash::moveToTrash(path);
  }

  std::optional<QString> empty() override {
    std::optional<QString> first;
    for (const fs::path& trash : FreedesktopTrash::folders()) {
      std::optional<QString> error = FreedesktopTrash::emptyFolder(trash);
      if (error && !first) first = std::move(error);
    }
    return first;
  }
};

}  // namespace

namespace FreedesktopTrash {

fs::path homeTrash() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return fs::path(data) / "Trash";
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/") / ".local/share/Trash";
}

std::vector<fs::path> folders() {
  std::vector<fs::path> found;
  const auto add = [&](const fs::path& trash) {
    if (std::find(found.begin(), found.end(), trash) == found.end()) found.push_back(trash);
  };
  const fs::path home = homeTrash();
  struct stat st {};
  if (::lstat(home.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) add(home);
  if (FILE* mounts = ::setmntent("/proc/self/mounts", "r")) {
    std::vector<fs::path> tops;
    mntent entry{};
    char buffer[4096];
    while (::getmntent_r(mounts, &entry, buffer, sizeof buffer)) tops.emplace_back(entry.mnt_dir);
    ::endmntent(mounts);
    for (const fs::path& top : tops) {
      if (auto shared = sharedTrashOf(top, false)) add(*shared);
      if (auto own = ownTrashOf(top, false)) add(*own);
    }
  }
  return found;
}

std::optional<QString> emptyFolder(const fs::path& trash) {
  QString error;
  const fs::path files = trash / "files";
  const fs::path info = trash / "info";
  for (const std::string& name : namesIn(files)) {
    // The entry goes only with its file: a file that stays keeps what restores it.
    if (removePath(files / name, error)) removePath(info / (name + ".trashinfo"), error);
  }
  for (const std::string& name : namesIn(info)) {
    const bool isInfo = name.size() > 10 && name.ends_with(".trashinfo");
    if (!isInfo || !isThere(files / name.substr(0, name.size() - 10))) removePath(info / name, error);
  }
  removePath(trash / "expunged", error);
  removePath(trash / "directorysizes", error);
  if (error.isEmpty()) return std::nullopt;
  return error;
}

std::optional<QString> moveToTrash(const QByteArray& path) {
  const fs::path item = path.toStdString();
  struct stat st {};
  if (!item.is_absolute() || ::lstat(item.c_str(), &st) != 0)
    return failure(path, item.is_absolute() ? errno : EINVAL);

  // The home trash when the item is on its volume, else the item's volume's own trash.
  fs::path trash = homeTrash();
  fs::path infoPath = item;
  struct stat homeSt {};
  fs::path homeVolume = trash;
  while (::stat(homeVolume.c_str(), &homeSt) != 0 && homeVolume != homeVolume.parent_path()) {
    homeVolume = homeVolume.parent_path();
  }
  if (homeSt.st_dev == st.st_dev) {
    std::error_code ignored;
    fs::create_directories(trash.parent_path(), ignored);
    if (!ownFolder(trash)) return failure(bytesOf(trash), errno);
  } else {
    const fs::path top = topOf(item, st.st_dev);
    std::optional<fs::path> volumeTrash = sharedTrashOf(top, true);
    if (!volumeTrash) volumeTrash = ownTrashOf(top, true);
    if (!volumeTrash) return failure(path, EXDEV);
    trash = *volumeTrash;
    infoPath = item.lexically_relative(top);
  }
  const fs::path files = trash / "files";
  const fs::path info = trash / "info";
  if (!ownFolder(files) || !ownFolder(info)) return failure(bytesOf(trash), errno);

  const std::string contents =
      "[Trash Info]\nPath=" + bytesOf(infoPath).toPercentEncoding("/").toStdString() +
      "\nDeletionDate=" + deletionDate() + "\n";
  const std::string name = item.filename().native();
  for (int attempt = 1; attempt < 10000; ++attempt) {
    const std::string candidate = trashName(name, attempt);
    const fs::path infoFile = info / (candidate + ".trashinfo");
    // The info file is claimed first and exclusively: two movers never pick one name.
    const int fd = ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return failure(bytesOf(infoFile), errno);
    }
    const bool written =
        ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    const int writeError = errno;
    ::close(fd);
    if (!written || isThere(files / candidate)) {
      ::unlink(infoFile.c_str());
      if (!written) return failure(bytesOf(infoFile), writeError);
      continue;
    }
    if (::rename(item.c_str(), (files / candidate).c_str()) != 0) {
      const int code = errno;
      ::unlink(infoFile.c_str());
      return failure(path, code);
    }
    return std::nullopt;
  }
  return failure(path, EEXIST);
}

}  // namespace FreedesktopTrash

std::shared_ptr<Trash> Trash::system() {
  return std::make_shared<SystemTrash>();
}

}  // namespace tallyfox
