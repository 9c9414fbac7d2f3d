#pragma once

#include <tallyfox/TreeColumns.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tallyfox {

namespace SnapshotFile {
class MappedRegion;
namespace detail {
struct TreeFactory;
}
}  // namespace SnapshotFile

// Half-open range of node ids, iterable.
struct NodeRange {
  NodeId first = 0;
  NodeId last = 0;  // one past the end

  struct iterator {
    NodeId id;
    NodeId operator*() const { return id; }
    iterator& operator++() {
      ++id;
      return *this;
    }
    bool operator==(const iterator&) const = default;
  };
  iterator begin() const { return {first}; }
  iterator end() const { return {last}; }
  std::int64_t size() const { return last - first; }
  bool empty() const { return first >= last; }
  bool contains(NodeId id) const { return id >= first && id < last; }
};

// The read-only view of one snapshot's columns, laid over a mapped file or an in-memory
// image. Nothing is copied at opening; every query reads the image in place.
//
// Opening checks only the header and the column lengths so that it stays O(1). A damaged
// or hostile image must still never make a query read outside it, so every per-node query
// clamps what it reads: child ranges to the tree and to ids after the node, and parents to
// the tree and to ids before the node. Every finished tree is breadth-first, so both hold
// for every sound tree, and they keep any walk down or up finite: a damaged parent column
// cannot make a lineage loop. firstViolation() finds such damage in one pass when asked.
//
// The same bounds hold when another process cuts a mapped file short or rewrites it while
// the tree is read: what the cut took reads as zeros. Whoever relies on what it read asks
// fileChanged() after reading.
//
// Immutable and safe to read from any thread.
class DiskTree {
 public:
  static constexpr NodeId root = 0;

  struct Flag {
    static constexpr std::uint8_t directory = EntryFlags::directory;
    static constexpr std::uint8_t error = EntryFlags::error;
    static constexpr std::uint8_t notDescended = EntryFlags::notDescended;
  };

  DiskTree(const DiskTree&) = delete;
  DiskTree& operator=(const DiskTree&) = delete;

  // Number of nodes other than the root.
  std::int64_t nodeCount() const { return parent_.empty() ? 0 : std::int64_t(parent_.size()) - 1; }
  // Number of nodes including the root: the valid ids are 0 ..< totalNodes().
  std::int64_t totalNodes() const { return std::int64_t(parent_.size()); }
  bool contains(NodeId id) const { return id >= 0 && id < totalNodes(); }

  std::span<const std::int32_t> parent() const { return parent_; }
  std::span<const std::uint64_t> size() const { return size_; }
  std::span<const std::uint32_t> mtime() const { return mtime_; }
  std::span<const std::uint32_t> entryCount() const { return entryCount_; }
  std::span<const std::uint8_t> flagsColumn() const { return flags_; }
  std::span<const std::uint32_t> childStartColumn() const { return childStart_; }
  std::span<const std::uint32_t> childCountColumn() const { return childCount_; }
  std::span<const std::uint32_t> nameOffset() const { return nameOffset_; }
  std::span<const std::uint8_t> names() const { return names_; }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

  // The parent of id, or -1 for the root, an id outside the tree, or a stored parent that is
  // not a smaller id (which no sound tree holds): a walk up ends, whatever the file holds.
  NodeId parentOf(NodeId id) const;
  std::uint64_t sizeOf(NodeId id) const { return contains(id) ? size_[id] : 0; }
  std::uint8_t flags(NodeId id) const { return contains(id) ? flags_[id] : 0; }
  bool isDirectory(NodeId id) const { return flags(id) & EntryFlags::directory; }
  bool hadError(NodeId id) const { return flags(id) & EntryFlags::error; }
  bool wasSkipped(NodeId id) const { return flags(id) & EntryFlags::notDescended; }
  bool isPartial(NodeId id) const { return flags(id) & EntryFlags::partial; }

  std::int64_t childCount(NodeId id) const { return children(id).size(); }
  NodeRange children(NodeId id) const;

  std::string name(NodeId id) const;
  std::vector<std::uint8_t> nameBytes(NodeId id) const;
  // The name's bytes in place; empty when the offsets are inconsistent.
  std::span<const std::uint8_t> nameView(NodeId id) const;
  std::vector<NodeId> lineage(NodeId id) const;
  // The path for showing: names decoded, invalid bytes replaced.
  std::string path(NodeId id) const;
  // The path on disk: the names' exact bytes, for whatever opens, reveals or moves the file.
  std::string filePath(NodeId id) const;

  const std::string& rootPath() const { return rootPath_; }
  std::chrono::system_clock::time_point scanStart() const { return scanStart_; }
  double scanSeconds() const { return scanSeconds_; }

  std::uint64_t errorCount() const;

  // A full structural check, one pass over the columns: every node but the root lies in the
  // child range of a folder before it, child ranges follow each other breadth-first, every
  // child names its folder as parent, children run largest first, every name is one a file
  // can have (EntryNames), and every folder's size and entry count are what the tree
  // builder sums from its children. Nothing when the tree
  // is sound; else one short sentence naming the first violation and the node. O(n), so it
  // is not done at opening but by whoever is about to rely on the whole tree.
  //
  // Totals taken as stored (a tree read from a vok file) are the other tool's, counted by
  // its rules, and that file's own checksum already vouches for its bytes: their sums are
  // not held to the builder's rule, everything else is checked as usual.
  enum class Totals { summed, asStored };
  std::optional<std::string> firstViolation(Totals totals = Totals::summed) const;

  // Whether the file under a mapped tree was cut short or rewritten in place since it was
  // opened: answers given before may mix two files and zeros, though never out of bounds.
  // Always false for a tree in memory. One stat of the file; safe from any thread.
  bool fileChanged() const;
  // Throws FileChangedError, naming the file, when fileChanged().
  void expectUnchanged() const;

  // Writes the whole image byte for byte, atomically. Throws FileChangedError, leaving the
  // destination as it was, when the mapped file changed while it was copied.
  void write(const std::filesystem::path& to) const;

 private:
  friend struct SnapshotFile::detail::TreeFactory;
  DiskTree(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner,
           const SnapshotFile::MappedRegion* region);
  bool nameRange(NodeId id, std::uint32_t& start, std::uint32_t& end) const;

  std::shared_ptr<const void> owner_;
  // The owner, when it is a mapped file.
  const SnapshotFile::MappedRegion* region_ = nullptr;
  std::span<const std::uint8_t> bytes_;
  std::span<const std::int32_t> parent_;
  std::span<const std::uint64_t> size_;
  std::span<const std::uint32_t> mtime_;
  std::span<const std::uint32_t> entryCount_;
  std::span<const std::uint8_t> flags_;
  std::span<const std::uint32_t> childStart_;
  std::span<const std::uint32_t> childCount_;
  std::span<const std::uint32_t> nameOffset_;
  std::span<const std::uint8_t> names_;
  std::string rootPath_;
  std::chrono::system_clock::time_point scanStart_;
  double scanSeconds_ = 0;
  mutable std::atomic<std::uint64_t> errorCount_{0};
  mutable std::atomic<bool> errorCounted_{false};
};

using DiskTreePtr = std::shared_ptr<const DiskTree>;

}  // namespace tallyfox
