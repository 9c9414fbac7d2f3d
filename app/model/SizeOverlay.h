#pragma once

#include <tallyfox/DiskTree.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tallyfox {

// What was taken out of a tree after moving items to the Trash: bytes to subtract per node
// and nodes no longer shown. The tree itself never changes; every size the browser shows
// goes through the overlay. An empty overlay changes nothing.
//
// Built once, then shared read-only (SizeOverlay::Ptr) by the model, the list and chart
// layouts on other threads; a change makes a new overlay with a new generation, so that
// whoever caches by overlay compares one number instead of two containers.
class SizeOverlay {
 public:
  using Ptr = std::shared_ptr<const SizeOverlay>;

  std::unordered_map<NodeId, std::uint64_t> removed;
  std::unordered_set<NodeId> hidden;
  int shrunk = 0;

  SizeOverlay() = default;
  // A copy is the start of an edit: it takes the contents, not the generation or the cache.
  SizeOverlay(const SizeOverlay&) = default;
  SizeOverlay(SizeOverlay&&) = default;
  SizeOverlay& operator=(const SizeOverlay&) = delete;

  // The overlay every model starts with.
  static const Ptr& empty();
  // Freezes an edited copy under a generation of its own.
  static Ptr share(SizeOverlay edited);

  std::uint64_t generation() const { return frozen_.generation; }
  // True while nothing was taken out, so the tree's stored order and sizes hold as they are.
  bool isPristine() const { return hidden.empty() && shrunk == 0; }

  std::uint64_t size(NodeId node, const DiskTree& tree) const;

  // Edits, made on a copy before share(). hide() takes a node out of view and its shown size
  // out of every ancestor; shrink() takes its size out but keeps it listed (a duplicate
  // replaced by a clone). Both cost the node's depth.
  void hide(NodeId node, const DiskTree& tree);
  void shrink(NodeId node, const DiskTree& tree);
  // Shown children, largest first: the stored range while pristine, else re-sorted by
  // overlay size (stable, so equal sizes keep the stored order). A folder is sorted once
  // per overlay; safe from any thread.
  std::vector<NodeId> children(NodeId node, const DiskTree& tree) const;
  // The shown size of the largest shown child, 0 without one: what fills a whole bar. From
  // the same sorted folder, so a row of a large folder does not go over all its siblings.
  std::uint64_t largestChildSize(NodeId node, const DiskTree& tree) const;

 private:
  // The sorted shown children of a folder, kept; valid as long as the overlay.
  const std::vector<NodeId>& sortedChildren(NodeId node, const DiskTree& tree) const;

  // What one shared overlay has beside its contents; copied or moved, it starts anew.
  struct Frozen {
    std::uint64_t generation = 0;
    std::mutex sortedLock;
    // Keyed by folder; an overlay belongs to one tree.
    std::unordered_map<NodeId, std::vector<NodeId>> sorted;

    Frozen() = default;
    Frozen(const Frozen&) {}
    Frozen& operator=(const Frozen&) = delete;
  };
  mutable Frozen frozen_;
};

}  // namespace tallyfox
