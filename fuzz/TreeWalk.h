// What a browser window reads of a tree it shows: every node's name, path, size, flags and
// children, and a path looked up again the way a remembered place is found.
#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotPaths.h>

#include <cstdint>

namespace fuzzwalk {

// `built` says the tree comes from the tree builder (a vok file, a merge), whose trees are
// breadth-first with every child naming its folder: anything else is a fault of the builder.
// A snapshot image is taken as it stands and may say anything.
inline void walk(const tallyfox::DiskTree& tree, bool built) {
  using tallyfox::NodeId;
  volatile std::uint64_t sink = tree.errorCount();
  for (NodeId id = 0; id < tree.totalNodes(); ++id) {
    sink = sink + tree.name(id).size() + tree.nameBytes(id).size() + tree.path(id).size();
    sink = sink + tree.flags(id) + std::uint64_t(tree.parentOf(id)) + tree.sizeOf(id);
    for (NodeId child : tree.children(id)) {
      sink = sink + std::uint64_t(tree.parentOf(child));
      if (built && (tree.parentOf(child) != id || child <= id)) __builtin_trap();
    }
  }
  // A place found again by its path, as when a window reopens where it was.
  const NodeId last = NodeId(tree.totalNodes() - 1);
  if (last > 0) {
    const auto found = tallyfox::SnapshotPaths::node(tree.path(last), tree);
    sink = sink + (found ? std::uint64_t(*found) : 0);
  }
}

}  // namespace fuzzwalk
