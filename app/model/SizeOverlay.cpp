#include "model/SizeOverlay.h"

#include <algorithm>
#include <atomic>

namespace tallyfox {

namespace {

std::atomic<std::uint64_t> nextGeneration{1};

}  // namespace

const SizeOverlay::Ptr& SizeOverlay::empty() {
  static const Ptr none = std::make_shared<const SizeOverlay>();
  return none;
}

SizeOverlay::Ptr SizeOverlay::share(SizeOverlay edited) {
  auto frozen = std::make_shared<SizeOverlay>(std::move(edited));
  frozen->frozen_.generation = nextGeneration.fetch_add(1, std::memory_order_relaxed);
  return frozen;
}

std::uint64_t SizeOverlay::size(NodeId node, const DiskTree& tree) const {
  const std::uint64_t stored = tree.sizeOf(node);
  if (removed.empty()) return stored;
  const auto it = removed.find(node);
  if (it == removed.end()) return stored;
  return it->second >= stored ? 0 : stored - it->second;
}

namespace {

void removeFromAncestors(std::unordered_map<NodeId, std::uint64_t>& removed, NodeId node, std::uint64_t bytes,
                         const DiskTree& tree) {
  for (NodeId n = tree.parentOf(node); n >= 0; n = tree.parentOf(n)) removed[n] += bytes;
}

}  // namespace

void SizeOverlay::hide(NodeId node, const DiskTree& tree) {
  if (!tree.contains(node) || !hidden.insert(node).second) return;
  removeFromAncestors(removed, node, size(node, tree), tree);
}

void SizeOverlay::shrink(NodeId node, const DiskTree& tree) {
  if (!tree.contains(node)) return;
  const std::uint64_t bytes = size(node, tree);
  if (bytes == 0) return;
  removed[node] += bytes;
  removeFromAncestors(removed, node, bytes, tree);
  ++shrunk;
}

std::vector<NodeId> SizeOverlay::children(NodeId node, const DiskTree& tree) const {
  if (!isPristine()) return sortedChildren(node, tree);
  const NodeRange range = tree.children(node);
  std::vector<NodeId> ids;
  ids.reserve(std::size_t(range.size()));
  for (NodeId id : range) ids.push_back(id);
  return ids;
}

std::uint64_t SizeOverlay::largestChildSize(NodeId node, const DiskTree& tree) const {
  if (isPristine()) {
    const NodeRange range = tree.children(node);
    return range.empty() ? 0 : size(range.first, tree);
  }
  const std::vector<NodeId>& shown = sortedChildren(node, tree);
  return shown.empty() ? 0 : size(shown.front(), tree);
}

const std::vector<NodeId>& SizeOverlay::sortedChildren(NodeId node, const DiskTree& tree) const {
  {
    std::lock_guard guard(frozen_.sortedLock);
    // Elements of an unordered_map keep their address when others are added.
    if (const auto it = frozen_.sorted.find(node); it != frozen_.sorted.end()) return it->second;
  }
  const NodeRange range = tree.children(node);
  std::vector<NodeId> ids;
  ids.reserve(std::size_t(range.size()));
  for (NodeId id : range)
    if (!hidden.contains(id)) ids.push_back(id);
  std::stable_sort(ids.begin(), ids.end(), [&](NodeId a, NodeId b) { return size(a, tree) > size(b, tree); });
  std::lock_guard guard(frozen_.sortedLock);
  return frozen_.sorted.emplace(node, std::move(ids)).first->second;
}

}  // namespace tallyfox
