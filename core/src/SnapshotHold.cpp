#include <tallyfox/SnapshotHold.h>

#include "linux/FileIO.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace tallyfox {

namespace {

// The pruner holds its exclusive lock only between taking it and removing the file; a lock
// held longer belongs to another program, and the window must not wait on it.
constexpr int lockAttempts = 50;
constexpr auto lockRetry = std::chrono::milliseconds(10);

}  // namespace

SnapshotHold::SnapshotHold(const std::filesystem::path& file) {
  struct stat held {};
  FileIO::Descriptor fd = FileIO::openRegularFile(file, &held);
  for (int attempt = 1;; ++attempt) {
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || attempt == lockAttempts) FileIO::throwErrno();
    std::this_thread::sleep_for(lockRetry);
  }
  // The pruner may have removed the file between the opening and the lock: then the hold would
  // keep nothing, and the window would show a snapshot that no longer exists.
  struct stat now {};
  if (::stat(file.c_str(), &now) != 0 || now.st_dev != held.st_dev || now.st_ino != held.st_ino)
    throw std::system_error(ENOENT, std::generic_category());
  fd_ = fd.release();
}

SnapshotHold::~SnapshotHold() {
  if (fd_ >= 0) ::close(fd_);
}

SnapshotHold::SnapshotHold(SnapshotHold&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

SnapshotHold& SnapshotHold::operator=(SnapshotHold&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

}  // namespace tallyfox
