#pragma once

#include <tallyfox/ScanSink.h>
#include <tallyfox/TreeColumns.h>
#include <tallyfox/TreeColumnsBuilder.h>

#include <mutex>

namespace tallyfox {

// The sink that collects a running scan into a builder. Safe to call from every scan
// worker at once; finish() once after the scan has returned.
class SnapshotBuilderSink : public ScanSink {
 public:
  void rootStarted(const std::string& path) override;
  void directoryListed(const DirectoryListing& listing) override;
  // The canonical columns of everything collected; leaves the sink empty.
  TreeColumns finish();
  // The same, arranged for SnapshotFile::write to stream.
  ArrangedColumns finishArranged();

 private:
  std::mutex lock_;
  TreeColumnsBuilder builder_;
};

}  // namespace tallyfox
