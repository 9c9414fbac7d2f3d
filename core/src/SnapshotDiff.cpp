#include <tallyfox/SnapshotDiff.h>

#include "NameIndex.h"

#include <tallyfox/SnapshotPaths.h>

#include <algorithm>
#include <limits>
#include <numeric>

namespace tallyfox {

namespace {

constexpr std::uint64_t largestSigned = std::uint64_t(std::numeric_limits<std::int64_t>::max());

std::int64_t clamped(std::uint64_t size) {
  return std::int64_t(std::min(size, largestSigned));
}

}  // namespace

std::int64_t SnapshotDiff::Entry::delta() const {
  return clamped(newSize) - clamped(oldSize);
}

std::uint64_t SnapshotDiff::Entry::magnitude() const {
  const std::int64_t d = delta();
  // d is never the smallest signed value, so negating it is safe.
  return std::uint64_t(d < 0 ? -d : d);
}

SnapshotDiff::SnapshotDiff(DiskTreePtr oldTree, NodeId oldBase, DiskTreePtr newTree, NodeId newBase)
    : old_(std::move(oldTree)), oldBase_(oldBase), new_(std::move(newTree)), newBase_(newBase) {}

std::shared_ptr<const SnapshotDiff> SnapshotDiff::make(DiskTreePtr oldTree, DiskTreePtr newTree,
                                                       const std::string& path) {
  if (!oldTree || !newTree) return nullptr;
  if (path.empty())
    return std::make_shared<const SnapshotDiff>(std::move(oldTree), DiskTree::root, std::move(newTree),
                                                DiskTree::root);
  const auto oldBase = SnapshotPaths::node(path, *oldTree);
  if (!oldBase) return nullptr;
  const auto newBase = SnapshotPaths::node(path, *newTree);
  if (!newBase) return nullptr;
  return std::make_shared<const SnapshotDiff>(std::move(oldTree), *oldBase, std::move(newTree), *newBase);
}

std::string SnapshotDiff::comparedPath(const DiskTree& oldTree, const DiskTree& newTree,
                                       const std::optional<std::string>& requested) {
  if (requested) return *requested;
  return newTree.rootPath().empty() ? oldTree.rootPath() : newTree.rootPath();
}

SnapshotDiff::Entry SnapshotDiff::entry(std::string name, std::optional<NodeId> oldNode,
                                        std::optional<NodeId> newNode) const {
  Entry e;
  e.name = std::move(name);
  e.oldNode = oldNode;
  e.newNode = newNode;
  const std::uint8_t oldFlags = oldNode ? old_->flags(*oldNode) : 0;
  const std::uint8_t newFlags = newNode ? new_->flags(*newNode) : 0;
  e.oldSize = oldNode ? old_->sizeOf(*oldNode) : 0;
  e.newSize = newNode ? new_->sizeOf(*newNode) : 0;
  e.isDirectory = ((newNode ? newFlags : oldFlags) & EntryFlags::directory) != 0;
  const bool error = ((oldFlags | newFlags) & EntryFlags::error) != 0;
  const bool enteredOnce = ((oldFlags ^ newFlags) & EntryFlags::notDescended) != 0;
  e.unreliable = error || enteredOnce;
  return e;
}

SnapshotDiff::Entry SnapshotDiff::root() const {
  return entry(new_->name(newBase_), oldBase_, newBase_);
}

std::vector<SnapshotDiff::Entry> SnapshotDiff::children(const Entry& of) const {
  const NodeRange oldChildren = of.oldNode ? old_->children(*of.oldNode) : NodeRange{};
  const NodeRange newChildren = of.newNode ? new_->children(*of.newNode) : NodeRange{};
  std::vector<Entry> list;
  list.reserve(std::size_t(std::max<std::int64_t>(oldChildren.size(), 0) +
                           std::max<std::int64_t>(newChildren.size(), 0)));

  detail::NameIndex index;
  if (!newChildren.empty()) index.build(*old_, oldChildren);
  for (NodeId child : newChildren) {
    std::optional<NodeId> match;
    if (const std::int64_t k = index.find(new_->nameView(child)); k != detail::NameIndex::none) {
      index.take(k);
      match = index.node(k);
    }
    list.push_back(entry(new_->name(child), match, child));
  }
  for (NodeId child : oldChildren) {
    const std::int64_t k = child - oldChildren.first;
    if (!newChildren.empty() && index.taken(k)) continue;
    list.push_back(entry(old_->name(child), child, std::nullopt));
  }

  // Sorting a permutation keeps the moves of whole entries (and their names) to one pass.
  std::vector<std::uint64_t> magnitude(list.size());
  for (std::size_t i = 0; i < list.size(); ++i) magnitude[i] = list[i].magnitude();
  std::vector<std::uint32_t> order(list.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return magnitude[a] > magnitude[b]; });
  std::vector<Entry> sorted;
  sorted.reserve(list.size());
  for (std::uint32_t i : order) sorted.push_back(std::move(list[i]));
  return sorted;
}

}  // namespace tallyfox
