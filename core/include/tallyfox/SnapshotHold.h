#pragma once

#include <filesystem>

namespace tallyfox {

// Keeps a snapshot file from being pruned while a window shows it: a shared lock (flock
// LOCK_SH) on the file, held until the hold is destroyed. The pruner removes a file only after
// taking an exclusive lock without waiting, which fails while any hold exists; holds of the
// same file by several windows or processes coexist.
class SnapshotHold {
 public:
  // Takes the hold. Throws std::system_error: the file cannot be opened, is not a regular file,
  // was removed while the hold was taken (ENOENT), or another program keeps it locked
  // exclusively (EWOULDBLOCK).
  explicit SnapshotHold(const std::filesystem::path& file);
  ~SnapshotHold();
  SnapshotHold(SnapshotHold&& other) noexcept;
  SnapshotHold& operator=(SnapshotHold&& other) noexcept;
  SnapshotHold(const SnapshotHold&) = delete;
  SnapshotHold& operator=(const SnapshotHold&) = delete;

 private:
  int fd_ = -1;
};

}  // namespace tallyfox
