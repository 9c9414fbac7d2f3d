#include <tallyfox/CloneReplacer.h>

#include <tallyfox/SnapshotFile.h>

#include "linux/FileIO.h"
#include "linux/SharedExtents.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>
#include <vector>

namespace tallyfox {

namespace CloneReplacer {

namespace {

constexpr std::size_t compareStep = 1 << 20;
// btrfs shares at most 16 MiB per request and says so in bytes_deduped; asking for more only
// makes it lock and compare a larger range for nothing.
constexpr std::uint64_t dedupeChunk = std::uint64_t(16) << 20;

[[noreturn]] void fail(std::string message) {
  throw Failure(std::move(message));
}

std::string systemText(int code) {
  return std::generic_category().message(code);
}

[[noreturn]] void cloneFailed(int code) {
  if (code == EOPNOTSUPP || code == ENOTTY || code == ENOSYS)
    fail(std::string("clone failed: ") + cannotShareMessage);
  fail("clone failed: " + systemText(code));
}

bool isLocked(int fd) {
  int flags = 0;
  // File systems without these flags cannot lock files this way either.
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return false;
  return (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
}

bool sameObject(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool sameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A file of a replacement: its folder, opened below the searched folder without following
// any link, and its name there. Every later look at the file goes through the folder.
struct Place {
  FileIO::Descriptor folder;
  std::string name;
};

std::string folderChangeOf(int error, const std::string& searched) {
  if (error == ELOOP) return "a folder on its path has become a link since the search";
  if (error == ENOTDIR) return "a folder on its path is no longer a folder";
  return "its path leads outside " + searched;
}

Place locate(int searchedFolder, const std::string& searched, const std::string& path) {
  // The searched folder itself is "/" or has no trailing slash (canonical paths).
  const std::string prefix = searched == "/" ? "/" : searched + "/";
  if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0)
    fail("not below " + searched);
  const std::string_view relative = std::string_view(path).substr(prefix.size());
  const std::size_t slash = relative.rfind('/');
  const std::string_view folder =
      slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
  Place place;
  place.name = std::string(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
  if (place.name.empty() || place.name == "." || place.name == "..") fail("not a regular file");
  place.folder = FileIO::Descriptor(FileIO::openFolderBeneath(searchedFolder, folder));
  if (!place.folder) {
    const int error = errno;
    if (error == ELOOP || error == ENOTDIR || error == EXDEV)
      throw Failure(folderChangeOf(error, searched), Failure::Kind::folderChanged);
    fail("can't read " + path);
  }
  return place;
}

// The duplicate is ours (checked before), which lets the file system share into it through a
// read-only descriptor; one that we may only write to is opened for writing (nothing is written).
int openDuplicate(const Place& place) {
  const int fd = SharedExtents::openForReadingAt(place.folder.get(), place.name.c_str());
  if (fd >= 0 || errno != EACCES) return fd;
  return ::openat(place.folder.get(), place.name.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

bool statusOf(const Place& place, struct stat& status) {
  return ::fstatat(place.folder.get(), place.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// Both descriptors from their start, whatever was read through them before.
bool identicalContents(int first, int second) {
  SharedExtents::adviseSequential(first);
  SharedExtents::adviseSequential(second);
  std::vector<std::uint8_t> left(compareStep), right(compareStep);
  std::uint64_t offset = 0;
  for (;;) {
    const long n = FileIO::readUpToAt(first, left.data(), compareStep, offset);
    const long m = FileIO::readUpToAt(second, right.data(), compareStep, offset);
    if (n < 0 || m < 0) fail("read failed during comparison");
    if (n != m) return false;
    if (n == 0) return true;
    SharedExtents::dropCached(first, offset, std::uint64_t(n));
    SharedExtents::dropCached(second, offset, std::uint64_t(n));
    offset += std::uint64_t(n);
    if (std::memcmp(left.data(), right.data(), std::size_t(n)) != 0) return false;
  }
}

// Shares the duplicate's storage with the keeper's over [0, length), in the pieces the file
// system accepts. It compares each piece under its lock and shares only equal bytes.
void shareStorage(int keeper, int duplicate, std::uint64_t length) {
  // file_dedupe_range ends in a flexible array of targets; here it holds one.
  alignas(file_dedupe_range) unsigned char buffer[sizeof(file_dedupe_range) + sizeof(file_dedupe_range_info)];
  auto* range = reinterpret_cast<file_dedupe_range*>(buffer);
  file_dedupe_range_info* target = range->info;
  std::uint64_t offset = 0;
  while (offset < length) {
    std::memset(buffer, 0, sizeof buffer);
    range->src_offset = offset;
    range->src_length = std::min(dedupeChunk, length - offset);
    range->dest_count = 1;
    target->dest_fd = duplicate;
    target->dest_offset = offset;
    if (::ioctl(keeper, FIDEDUPERANGE, range) != 0) {
      if (errno == EINTR) continue;
      cloneFailed(errno);
    }
    if (target->status == FILE_DEDUPE_RANGE_DIFFERS) fail("contents differ now");
    if (target->status < 0) cloneFailed(-target->status);
    if (target->bytes_deduped == 0) fail("clone failed: the file system shared nothing");
    offset += target->bytes_deduped;
  }
}

}  // namespace

bool canShareStorage(const std::string& path) {
  return SharedExtents::canSharePath(path.c_str());
}

bool identical(const std::string& a, const std::string& b) {
  FileIO::Descriptor first(SharedExtents::openForReading(a.c_str()));
  FileIO::Descriptor second(SharedExtents::openForReading(b.c_str()));
  if (!first || !second) fail("can't open for comparison");
  return identicalContents(first.get(), second.get());
}

Outcome replace(const std::string& duplicate, const std::string& keeper, bool compareBytes,
                const std::string& searched) {
  // The searched folder is the one the user chose: it is taken as it is now, links and all.
  FileIO::Descriptor searchedFolder(::open(searched.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!searchedFolder) fail("can't read " + searched);
  const Place keeperPlace = locate(searchedFolder.get(), searched, keeper);
  const Place duplicatePlace = locate(searchedFolder.get(), searched, duplicate);

  struct stat k, d;
  if (!statusOf(keeperPlace, k)) fail("can't read " + keeper);
  if (!statusOf(duplicatePlace, d)) fail("can't read " + duplicate);
  if (!S_ISREG(k.st_mode) || !S_ISREG(d.st_mode)) fail("not a regular file");
  if (k.st_dev != d.st_dev) fail("on different volumes");
  if (k.st_size != d.st_size) fail("sizes differ now");
  // Replacing a file by a clone of itself would report space freed that never was.
  if (sameObject(k, d)) fail("same file as the kept copy");
  if (d.st_nlink != 1) fail("has hard links");
  if (d.st_uid != ::getuid()) fail("owned by another user");

  FileIO::Descriptor keeperFd(
      SharedExtents::openForReadingAt(keeperPlace.folder.get(), keeperPlace.name.c_str()));
  if (!keeperFd) fail("can't read " + keeper);
  FileIO::Descriptor duplicateFd(openDuplicate(duplicatePlace));
  if (!duplicateFd) fail("can't read " + duplicate);
  struct stat openedKeeper, openedDuplicate;
  if (::fstat(keeperFd.get(), &openedKeeper) != 0 || ::fstat(duplicateFd.get(), &openedDuplicate) != 0 ||
      !sameObject(openedKeeper, k) || !sameObject(openedDuplicate, d))
    fail("changed while replacing");
  if (isLocked(keeperFd.get()) || isLocked(duplicateFd.get())) fail("locked");

  const auto keeperInfo = SharedExtents::cloneInfo(keeperFd.get());
  const auto duplicateInfo = SharedExtents::cloneInfo(duplicateFd.get());
  if (duplicateInfo.sharesAll) {
    if (keeperInfo.sharesAll && keeperInfo.cloneID != 0 && keeperInfo.cloneID == duplicateInfo.cloneID)
      return Outcome::alreadyShared();
    fail("its storage is shared with other clones; replacing it frees nothing");
  }

  // Through the descriptors: the paths may lead elsewhere by now.
  if (compareBytes && !identicalContents(keeperFd.get(), duplicateFd.get())) fail("contents differ now");

  // The descriptors must still be the files checked above, at the length checked above.
  if (::fstat(keeperFd.get(), &openedKeeper) != 0 || ::fstat(duplicateFd.get(), &openedDuplicate) != 0 ||
      openedKeeper.st_size != k.st_size || openedDuplicate.st_size != d.st_size)
    fail("changed while replacing");
  shareStorage(keeperFd.get(), duplicateFd.get(), std::uint64_t(d.st_size));

  struct stat after;
  if (!statusOf(duplicatePlace, after) || !sameObject(after, d) || after.st_size != d.st_size ||
      !sameTime(after.st_mtim, d.st_mtim))
    fail("changed while replacing");

  const auto shared = SharedExtents::cloneInfo(duplicateFd.get());
  if (shared.cloneID == 0 || !shared.sharesAll)
    fail("replaced, but the file system doesn't report shared storage");
  return Outcome::replaced(std::uint64_t(d.st_blocks) * 512);
}

}  // namespace CloneReplacer

namespace CloneLog {

namespace {

std::string quoted(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::filesystem::path url(const std::filesystem::path& snapshotsFolder) {
  return snapshotsFolder / fileName;
}

std::string line(const std::string& keeper, const std::string& replaced, std::uint64_t bytes,
                 std::chrono::system_clock::time_point date) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  const std::string compact = "{\"bytes\":" + std::to_string(bytes) + ",\"date\":\"" + stamp +
                              "\",\"keeper\":" + quoted(keeper) + ",\"replaced\":" + quoted(replaced) + "}";
  // Readers of this log expect the slash escaped, as the first writer of the format did. No
  // escape sequence contains a slash, so escaping every one is safe.
  std::string text;
  text.reserve(compact.size() + 16);
  for (char c : compact) {
    if (c == '/') text += '\\';
    text += c;
  }
  return text;
}

namespace {

// O_APPEND with one write keeps lines whole when two processes log at once, which a
// replacing write could not. Never through a planted link, never waiting on a FIFO.
FileIO::Descriptor openLog(const std::filesystem::path& folder, std::string& whyNot) {
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const auto log = folder / fileName;
  FileIO::Descriptor fd(
      ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
  struct stat status;
  // ELOOP is a link's answer to O_NOFOLLOW, ENXIO a FIFO's without a reader.
  if (!fd && (errno == ELOOP || errno == ENXIO)) {
    whyNot = "it is not a regular file";
  } else if (!fd || ::fstat(fd.get(), &status) != 0) {
    whyNot = std::generic_category().message(errno);
  } else if (!S_ISREG(status.st_mode)) {
    whyNot = "it is not a regular file";
  } else {
    return fd;
  }
  return {};
}

}  // namespace

std::optional<std::string> check(const std::filesystem::path& folder) noexcept {
  try {
    std::string whyNot;
    if (openLog(folder, whyNot)) return std::nullopt;
    return whyNot;
  } catch (const std::exception& e) {
    return std::string(e.what());
  }
}

std::optional<std::string> record(const std::filesystem::path& folder, const std::string& keeper,
                                  const std::string& replaced, std::uint64_t bytes) noexcept {
  try {
    std::string whyNot;
    FileIO::Descriptor fd = openLog(folder, whyNot);
    if (!fd) return whyNot;
    const std::string text = line(keeper, replaced, bytes, std::chrono::system_clock::now()) + "\n";
    FileIO::writeAll(fd.get(), text.data(), text.size());
    return std::nullopt;
  } catch (const std::system_error& e) {
    return e.code().message();
  } catch (const std::exception& e) {
    return std::string(e.what());
  }
}

}  // namespace CloneLog

}  // namespace tallyfox
