#pragma once

#include <tallyfox/SnapshotHold.h>

#include <exception>
#include <filesystem>
#include <memory>

namespace tallyfox {

// A hold on a snapshot a window shows, so that pruning the scheduled snapshots leaves it on
// disk until the window lets go; null when the file cannot be held (a read-only mount that
// refuses locks, a file already gone). Such a file is still shown: the hold only guards it.
inline std::shared_ptr<const SnapshotHold> holdSnapshot(const std::filesystem::path& file) {
  try {
    return std::make_shared<const SnapshotHold>(file);
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace tallyfox
