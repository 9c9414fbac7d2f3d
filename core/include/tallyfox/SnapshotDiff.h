#pragma once

#include <tallyfox/DiskTree.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tallyfox {

// Compares an older snapshot tree (the baseline) with a newer one, one folder at a time:
// nothing is walked or cached beyond the folder asked for. Entries are matched by name,
// folder by folder, from one base node in each tree.
//
// Immutable; holds both trees alive; calls may come from any thread.
class SnapshotDiff {
 public:
  // One compared name. Refers to nodes by id; valid as long as the two trees are.
  struct Entry {
    std::string name;
    std::optional<NodeId> oldNode;  // absent when the name is not in the old folder
    std::optional<NodeId> newNode;  // absent when the name is not in the new folder
    std::uint64_t oldSize = 0;
    std::uint64_t newSize = 0;
    bool isDirectory = false;  // of the new side when there is one
    bool unreliable = false;   // an error on either side, or entered in only one scan

    // Sizes are clamped to the largest signed value first, so this never overflows.
    std::int64_t delta() const;
    // |delta|, which always fits.
    std::uint64_t magnitude() const;
    bool isNew() const { return !oldNode.has_value(); }
    bool isGone() const { return !newNode.has_value(); }
  };

  // No checks: the bases are taken as given (both trees must be non-null).
  SnapshotDiff(DiskTreePtr oldTree, NodeId oldBase, DiskTreePtr newTree, NodeId newBase);

  // Finds `path` in each tree against the tree's own root path; nullptr when either tree
  // lacks it. The trees may have different roots as long as the folder lies in both. An
  // empty path (neither tree records where it was scanned) compares root with root.
  static std::shared_ptr<const SnapshotDiff> make(DiskTreePtr oldTree, DiskTreePtr newTree,
                                                  const std::string& path);

  // The folder two snapshots are compared at, the same for every caller: `requested` when
  // given, else the newer tree's root path, else the older's; empty when neither has one.
  static std::string comparedPath(const DiskTree& oldTree, const DiskTree& newTree,
                                  const std::optional<std::string>& requested = std::nullopt);

  const DiskTree& oldTree() const { return *old_; }
  const DiskTree& newTree() const { return *new_; }
  const DiskTreePtr& oldTreePtr() const { return old_; }
  const DiskTreePtr& newTreePtr() const { return new_; }
  NodeId oldBase() const { return oldBase_; }
  NodeId newBase() const { return newBase_; }

  // The entry of the two base nodes, named as the new tree names its base.
  Entry root() const;

  // The compared contents of one folder, largest change first. Equal changes keep the new
  // tree's child order, followed by the entries that exist only in the old tree in the old
  // tree's order. Linear in the children of both sides plus a sort; recomputed every call.
  std::vector<Entry> children(const Entry& of) const;

 private:
  Entry entry(std::string name, std::optional<NodeId> oldNode, std::optional<NodeId> newNode) const;

  DiskTreePtr old_;
  NodeId oldBase_;
  DiskTreePtr new_;
  NodeId newBase_;
};

}  // namespace tallyfox
