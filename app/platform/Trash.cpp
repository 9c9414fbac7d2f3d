#include "platform/Trash.h"

#include "platform/LocalPath.h"
#include "platform/Removal.h"

#include <tallyfox/SnapshotPaths.h>

#include <dirent.h>
#include <fcntl.h>
#include <mntent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace tallyfox {

namespace fs = std::filesystem;
using Removal::failure;

namespace {

constexpr std::string_view infoSuffix = ".trashinfo";

QByteArray bytesOf(const fs::path& path) {
  return QByteArray::fromStdString(path.native());
}

std::string userId() {
  return std::to_string(::getuid());
}

// A trash folder or a part of one, opened without following a link: either open, missing,
// refused with the reason (it is there but may not be used), or failed with errno.
struct OwnFolder {
  UniqueFd fd;
  bool missing = false;
  QString refused;
  int error = 0;

  // Why the folder at `path` cannot be used, for a message.
  QString describe(const fs::path& path) const {
    if (refused.isEmpty()) return failure(bytesOf(path), missing ? ENOENT : error);
    return displayPath(bytesOf(path)) + QStringLiteral(" ") + refused;
  }
};

// `name` in `parent` as a folder of this user, made first when `create` is set.
OwnFolder openOwnFolder(int parent, const char* name, bool create) {
  OwnFolder folder;
  if (create && ::mkdirat(parent, name, 0700) != 0 && errno != EEXIST) {
    folder.error = errno;
    return folder;
  }
  folder.fd.reset(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.fd) {
    const int code = errno;
    struct stat st {};
    if (code == ENOENT) {
      folder.missing = true;
    } else if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      folder.refused = QStringLiteral("is a symbolic link");
    } else if (code == ENOTDIR) {
      folder.refused = QStringLiteral("is not a folder");
    } else {
      folder.error = code;
    }
    return folder;
  }
  struct stat st {};
  if (::fstat(folder.fd.get(), &st) != 0) {
    folder.error = errno;
    folder.fd.reset();
  } else if (st.st_uid != ::getuid()) {
    folder.refused = QStringLiteral("belongs to another user");
    folder.fd.reset();
  }
  return folder;
}

// A volume's shared .Trash, as the freedesktop.org rules allow it to be used: a real folder
// (not a link) with the sticky bit, so that no one can take another user's folder in it.
// Sets `refused` when it is there but fails that.
UniqueFd openSharedTrash(int top, QString& refused) {
  UniqueFd shared(::openat(top, ".Trash", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!shared) {
    if (errno != ENOENT) {
      const bool link = ::fstatat(top, ".Trash", &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      refused = link ? QStringLiteral("the shared .Trash above it is a symbolic link")
                     : QStringLiteral("the shared .Trash above it is not a folder");
    }
    return {};
  }
  if (::fstat(shared.get(), &st) != 0 || !(st.st_mode & S_ISVTX)) {
    refused = QStringLiteral("the shared .Trash above it lacks the sticky bit, so others could have made it");
    return {};
  }
  return shared;
}

bool isSharedTrash(const fs::path& trash) {
  return trash.filename() == userId() && trash.parent_path().filename() == ".Trash";
}

// The names in an open folder, read through a descriptor of its own.
std::vector<std::string> namesAt(int folder) {
  std::vector<std::string> names;
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return names;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return names;
}

bool isThereAt(int folder, const std::string& name) {
  struct stat st {};
  return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// A name in the trash for `name`, short enough that its ".trashinfo" file fits in a name.
std::string trashName(const std::string& name, int attempt) {
  const std::string suffix = attempt == 1 ? std::string() : "." + std::to_string(attempt);
  constexpr std::size_t longest = NAME_MAX - infoSuffix.size();
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

// Where an item goes: the open files/ and info/ of its trash, and the path its entry names.
struct Destination {
  UniqueFd files, info;
  QByteArray infoPath;
};

// The trash's own folder below `parent` with its files/ and info/, made when missing.
std::optional<QString> openTrashParts(int parent, const fs::path& trash, Destination& into) {
  const OwnFolder own = openOwnFolder(parent, trash.filename().c_str(), true);
  if (!own.fd) return own.describe(trash);
  OwnFolder files = openOwnFolder(own.fd.get(), "files", true);
  if (!files.fd) return files.describe(trash / "files");
  OwnFolder info = openOwnFolder(own.fd.get(), "info", true);
  if (!info.fd) return info.describe(trash / "info");
  into.files = std::move(files.fd);
  into.info = std::move(info.fd);
  return std::nullopt;
}

// The highest folder above `folder` (a path without links) on the mount `mount`: the top
// folder of that mount, where its trash lies.
fs::path topOf(const fs::path& folder, const Removal::MountKey& mount) {
  fs::path top = folder;
  for (fs::path up = top.parent_path(); up != top; top = up, up = up.parent_path()) {
    const UniqueFd fd(::open(up.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd || Removal::mountOf(fd.get()) != mount) break;
  }
  return top;
}

// The mount of `path`, or of the nearest folder above it that exists: where it would be made.
std::optional<Removal::MountKey> mountOfNearest(fs::path path) {
  for (;;) {
    const UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (fd) return Removal::mountOf(fd.get());
    if (path == path.parent_path()) return std::nullopt;
    path = path.parent_path();
  }
}

// The home trash, for an item on the home trash's mount. Its entries name the item by its
// absolute path.
std::optional<QString> homeDestination(const fs::path& trash, const QByteArray& item, Destination& into) {
  std::error_code ignored;
  fs::create_directories(trash.parent_path(), ignored);
  const UniqueFd above(::open(trash.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!above)
    return QStringLiteral("the Trash can't be made: ") + failure(bytesOf(trash.parent_path()), errno);
  if (auto why = openTrashParts(above.get(), trash, into))
    return QStringLiteral("the Trash can't be used: ") + *why;
  into.infoPath = item;
  return std::nullopt;
}

// The trash at the top of the item's own mount: .Trash/$uid when the volume has a shared
// .Trash that may be used, else .Trash-$uid. Its entries name the item relative to the top.
std::optional<QString> volumeDestination(const fs::path& realFolder, const std::string& name,
                                         const Removal::MountKey& mount, Destination& into) {
  const fs::path top = topOf(realFolder, mount);
  const UniqueFd topFd(::open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!topFd)
    return QStringLiteral("its file system's top folder can't be opened: ") + failure(bytesOf(top), errno);
  QString sharedRefused;
  if (const UniqueFd shared = openSharedTrash(topFd.get(), sharedRefused);
      !shared || openTrashParts(shared.get(), top / ".Trash" / userId(), into)) {
    const fs::path own = top / (".Trash-" + userId());
    if (auto why = openTrashParts(topFd.get(), own, into))
      return QStringLiteral("there is no Trash on its file system (") + *why + QStringLiteral(")");
  }
  into.infoPath = bytesOf((realFolder / name).lexically_relative(top));
  return std::nullopt;
}

class SystemTrash : public Trash {
 public:
  // Ours rather than QFile::moveToTrash: Qt cannot carry a name that is not UTF-8, and when
  // it cannot make the home trash (no ~/.local/share yet) it reports success after moving
  // the file into a "files" folder below the current working directory.
  std::optional<QString> moveToTrash(const QByteArray& path) override {
    return FreedesktopTrash::moveToTrash(path);
  }

  EmptyingReport empty() override { return FreedesktopTrash::emptyFolders(FreedesktopTrash::folders()); }

  std::optional<QString> deletePermanently(const QByteArray& path, const QByteArray& base) override {
    return Removal::removePath(path, base);
  }
};

}  // namespace

namespace FreedesktopTrash {

fs::path homeTrash() {
  const std::optional<std::string> data = PathText::dataHome();
  return data ? fs::path(*data) / "Trash" : fs::path();
}

std::vector<fs::path> folders() {
  std::vector<fs::path> found;
  const auto add = [&](const fs::path& trash) {
    struct stat st {};
    if (::lstat(trash.c_str(), &st) != 0) return;
    if (std::find(found.begin(), found.end(), trash) == found.end()) found.push_back(trash);
  };
  if (const fs::path home = homeTrash(); !home.empty()) add(home);
  if (FILE* mounts = ::setmntent("/proc/self/mounts", "r")) {
    std::vector<fs::path> tops;
    mntent entry{};
    char buffer[4096];
    while (::getmntent_r(mounts, &entry, buffer, sizeof buffer)) tops.emplace_back(entry.mnt_dir);
    ::endmntent(mounts);
    for (const fs::path& top : tops) {
      add(top / ".Trash" / userId());
      add(top / (".Trash-" + userId()));
    }
  }
  return found;
}

FolderResult emptyFolder(const fs::path& trash) {
  FolderResult result;
  const auto refuse = [&](const QString& why) {
    result.refused =
        displayPath(bytesOf(trash)) + QStringLiteral(": ") + why + QStringLiteral("; not emptied");
    return result;
  };
  const fs::path above = trash.parent_path();
  UniqueFd parent;
  if (isSharedTrash(trash)) {
    const UniqueFd top(::open(above.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!top) return result;
    QString refused;
    parent = openSharedTrash(top.get(), refused);
    if (!refused.isEmpty()) return refuse(refused);
  } else {
    parent.reset(::open(above.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  }
  if (!parent) return result;  // nothing there to empty

  const OwnFolder own = openOwnFolder(parent.get(), trash.filename().c_str(), false);
  if (own.missing) return result;
  if (!own.refused.isEmpty()) return refuse(QStringLiteral("it ") + own.refused);
  if (!own.fd) {
    result.error = failure(bytesOf(trash), own.error);
    return result;
  }
  // Both parts are checked before anything goes: a trash is emptied whole or not at all.
  const OwnFolder files = openOwnFolder(own.fd.get(), "files", false);
  const OwnFolder info = openOwnFolder(own.fd.get(), "info", false);
  for (const auto& [part, name] : {std::pair{&files, "files"}, std::pair{&info, "info"}}) {
    if (!part->refused.isEmpty())
      return refuse(QStringLiteral("its “") + QLatin1String(name) + QStringLiteral("” ") + part->refused);
  }

  QString error;
  for (const auto& [part, name] : {std::pair{&files, "files"}, std::pair{&info, "info"}}) {
    if (!part->fd && !part->missing && error.isEmpty()) error = failure(bytesOf(trash / name), part->error);
  }
  if (files.fd) {
    for (const std::string& name : namesAt(files.fd.get())) {
      // The entry goes only with its file: a file that stays keeps what restores it.
      if (!Removal::removeAt(files.fd.get(), name.c_str(), bytesOf(trash / "files" / name), error)) continue;
      const std::string entry = name + std::string(infoSuffix);
      if (info.fd && entry.size() <= NAME_MAX)
        Removal::removeAt(info.fd.get(), entry.c_str(), bytesOf(trash / "info" / entry), error);
    }
  }
  if (info.fd) {
    for (const std::string& name : namesAt(info.fd.get())) {
      const bool isEntry = name.size() > infoSuffix.size() && name.ends_with(infoSuffix);
      const bool hasFile =
          isEntry && files.fd && isThereAt(files.fd.get(), name.substr(0, name.size() - infoSuffix.size()));
      if (!hasFile) Removal::removeAt(info.fd.get(), name.c_str(), bytesOf(trash / "info" / name), error);
    }
  }
  Removal::removeAt(own.fd.get(), "expunged", bytesOf(trash / "expunged"), error);
  Removal::removeAt(own.fd.get(), "directorysizes", bytesOf(trash / "directorysizes"), error);
  if (!error.isEmpty()) result.error = error;
  return result;
}

EmptyingReport emptyFolders(const std::vector<fs::path>& trashes) {
  EmptyingReport report;
  for (const fs::path& trash : trashes) {
    FolderResult result = emptyFolder(trash);
    if (result.refused) report.refused << *result.refused;
    if (result.error && !report.error) report.error = std::move(result.error);
  }
  return report;
}

std::optional<QString> moveToTrash(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  const std::string name = path.mid(slash + 1).toStdString();
  if (!path.startsWith('/') || name.empty() || name == "." || name == "..") return failure(path, EINVAL);
  const QByteArray folder = parentPath(path);
  const UniqueFd parent(::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!parent) return failure(path, errno);
  struct stat st {};
  if (::fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return failure(path, errno);
  if (S_ISDIR(st.st_mode) && Removal::isMountPoint(parent.get(), name.c_str()))
    return displayPath(path) + QStringLiteral(": is a mount point, which can't be moved to the Trash");
  const std::optional<Removal::MountKey> mount = Removal::mountOf(parent.get(), name.c_str());
  if (!mount) return failure(path, errno);

  // The home trash takes what lies on its own mount; anything else goes to the trash of the
  // item's mount. A bind mount of the home's file system is a mount of its own: a rename
  // from it into the home trash would fail.
  Destination destination;
  const fs::path home = homeTrash();
  std::optional<QString> why;
  if (!home.empty() && mountOfNearest(home) == mount) {
    why = homeDestination(home, path, destination);
  } else {
    char* real = ::realpath(folder.constData(), nullptr);
    if (!real) return failure(path, errno);
    const fs::path realFolder(real);
    std::free(real);
    why = volumeDestination(realFolder, name, *mount, destination);
  }
  if (why) return displayPath(path) + QStringLiteral(": ") + *why;

  const std::string contents =
      "[Trash Info]\nPath=" + destination.infoPath.toPercentEncoding("/").toStdString() +
      "\nDeletionDate=" + deletionDate() + "\n";
  for (int attempt = 1; attempt < 10000; ++attempt) {
    const std::string candidate = trashName(name, attempt);
    const std::string entry = candidate + std::string(infoSuffix);
    // The info file is claimed first and exclusively: two movers never pick one name.
    const int fd = ::openat(destination.info.get(), entry.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return displayPath(path) + QStringLiteral(": its Trash entry can't be made: ") +
             failure(QByteArray::fromStdString(entry), errno);
    }
    const bool written =
        ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    const int writeError = errno;
    ::close(fd);
    if (!written || isThereAt(destination.files.get(), candidate)) {
      ::unlinkat(destination.info.get(), entry.c_str(), 0);
      if (!written)
        return displayPath(path) + QStringLiteral(": its Trash entry can't be written: ") +
               failure(QByteArray::fromStdString(entry), writeError);
      continue;
    }
    if (::renameat(parent.get(), name.c_str(), destination.files.get(), candidate.c_str()) != 0) {
      const int code = errno;
      ::unlinkat(destination.info.get(), entry.c_str(), 0);
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
