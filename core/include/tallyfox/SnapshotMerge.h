#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/TreeColumns.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace tallyfox {

// Combines freshly scanned subtrees with an existing snapshot tree without rescanning
// everything. Every operation copies the input trees' nodes into one new builder, putting
// the fresh subtrees in their place, and lets the builder recompute every folder's size and
// entry count from the files below it: stored folder totals of the inputs are never reused.
// The inputs are never changed. Each operation runs to completion on the calling thread,
// in one pass over the input nodes, without per-node allocation.
namespace SnapshotMerge {

// Messages are whole sentences, shown to the user as they stand.
class MergeError : public std::runtime_error {
 public:
  explicit MergeError(const std::string& message) : std::runtime_error(message), message_(message) {}
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

struct Result {
  TreeColumns columns;
  SnapshotFile::Info info;
};

// Rescanning one folder: `fresh` takes the place of `node` (keeping the stored name). When
// node is 0 the result is `fresh` alone under `tree`'s root path. Throws "node not found"
// when `node` is not a node of `tree`.
Result replace(NodeId node, const DiskTree& tree, const DiskTree& fresh);

// Adding a scan of a folder inside `tree`'s root that the tree does not hold; missing
// folders between are created and marked partial.
Result insert(const DiskTree& fresh, const DiskTree& tree);

// Several trees with disjoint roots below one common root, which is marked partial, as are
// the folders created between.
Result merge(const std::vector<DiskTreePtr>& trees, const std::string& root);

// Puts whole trees in place of the nodes found at their root paths.
Result fill(const DiskTree& tree, const std::vector<DiskTreePtr>& subtrees);

// Scanning the rest of a folder: `fresh` scanned the folder at `node` of `tree` without
// the children the snapshot already holds; those children are put back from `tree`.
DiskTreePtr fillWithSubtreesOf(const DiskTree& fresh, const DiskTree& tree, NodeId node);

// The builder slot a plain breadth-first copy of `in` gives `of`. Throws "node not found"
// when the copy never reaches it.
std::int32_t newID(NodeId of, const DiskTree& in);

}  // namespace SnapshotMerge
}  // namespace tallyfox
