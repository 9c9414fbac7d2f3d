#pragma once

#include <tallyfox/DirectoryListing.h>

#include <string>

namespace tallyfox {

// Receives a scan's entries. rootStarted comes once, before any listing; directoryListed
// comes from every worker thread, possibly at the same time, and the listing is valid only
// during the call.
class ScanSink {
 public:
  virtual ~ScanSink() = default;
  virtual void rootStarted(const std::string& path) = 0;
  virtual void directoryListed(const DirectoryListing& listing) = 0;
};

}  // namespace tallyfox
