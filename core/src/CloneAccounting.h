#pragma once

// What the listing asks of every file: whether its storage was counted already. Defined here
// rather than in CloneAccounting.cpp so that the listing's loop inlines it; for a file that
// is neither linked nor on a file system that shares extents it is a few tests.

#include "ScannerState.h"

#include <tallyfox/TreeColumns.h>

#include <sys/stat.h>

#include <mutex>

namespace tallyfox {

inline std::uint64_t Scanner::State::countOnce(Worker& worker, int directory, const char* name,
                                               const struct statx& attributes, dev_t device,
                                               std::uint64_t size, std::uint8_t& flags) {
  const std::uint32_t links = (attributes.stx_mask & STATX_NLINK) ? attributes.stx_nlink : 1;
  if (links > 1) {
    bool first;
    {
      std::lock_guard guard(linkLock);
      first = seenLinks.insert({attributes.stx_ino, std::uint64_t(device)});
    }
    if (!first) {
      flags |= EntryFlags::duplicateLink;
      return 0;
    }
  }
  const bool regular = (attributes.stx_mask & STATX_TYPE) && S_ISREG(attributes.stx_mode & S_IFMT);
  if (!options.detectClones || !regular || size == 0) return size;
  const Sharing sharing = sharingOf(worker, directory, name, device);
  if (sharing == Sharing::none) return size;
  // A file mounted over one of the folder lies in another tree than the folder's.
  if (sharing == Sharing::btrfsTrees && device == worker.folderDevice) {
    worker.treeLookups.emplace_back(attributes.stx_ino, std::uint32_t(worker.listing.count()));
    return size;
  }
  return countClone(directory, name, device, size, flags);
}

inline Scanner::State::Sharing Scanner::State::sharingOf(Worker& worker, int directory, const char* name,
                                                         dev_t device) {
  if (const detail::DeviceSharing* known = worker.knownSharing(device)) return known->sharing;
  return probeSharing(worker, directory, name, device);
}

}  // namespace tallyfox
