#pragma once

#include <tallyfox/DiskTree.h>

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tallyfox {

// What was taken out of a tree after moving items to the Trash: bytes to subtract per node
// and nodes no longer shown. The tree itself never changes; every size the browser shows
// goes through the overlay. An empty overlay changes nothing.
struct SizeOverlay {
  std::unordered_map<NodeId, std::uint64_t> removed;
  std::unordered_set<NodeId> hidden;
  int shrunk = 0;

  bool operator==(const SizeOverlay&) const = default;

  // True while nothing was taken out, so the tree's stored order and sizes hold as they are.
  bool isPristine() const { return hidden.empty() && shrunk == 0; }

  std::uint64_t size(NodeId node, const DiskTree& tree) const;
  // Shown children, largest first: the stored range while pristine, else re-sorted by
  // overlay size (stable, so equal sizes keep the stored order).
  std::vector<NodeId> children(NodeId node, const DiskTree& tree) const;
};

}  // namespace tallyfox
