#include "model/SizeOverlay.h"

#include <algorithm>

namespace tallyfox {

std::uint64_t SizeOverlay::size(NodeId node, const DiskTree& tree) const {
  const std::uint64_t stored = tree.sizeOf(node);
  if (removed.empty()) return stored;
  const auto it = removed.find(node);
  if (it == removed.end()) return stored;
  return it->second >= stored ? 0 : stored - it->second;
}

std::vector<NodeId> SizeOverlay::children(NodeId node, const DiskTree& tree) const {
  const NodeRange range = tree.children(node);
  std::vector<NodeId> ids;
  ids.reserve(std::size_t(range.size()));
  if (isPristine()) {
    for (NodeId id : range) ids.push_back(id);
    return ids;
  }
  for (NodeId id : range)
    if (!hidden.contains(id)) ids.push_back(id);
  std::stable_sort(ids.begin(), ids.end(), [&](NodeId a, NodeId b) { return size(a, tree) > size(b, tree); });
  return ids;
}

}  // namespace tallyfox
