#pragma once

#include <tallyfox/TreeColumns.h>

#include <cstdint>
#include <functional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tallyfox {

class ArrangedColumns;

// Pages a builder shared behind a lock leaves for the thread that grew it to map once it has
// let go of the lock, so that the other threads never wait on the kernel filling pages.
class PagesToMap {
 public:
  // Maps them, and forgets them.
  void map();

 private:
  friend class TreeColumnsBuilder;
  std::vector<std::pair<void*, std::size_t>> regions_;
};

// Collects entries by scan id, in any order, and turns them into the canonical columns:
// breadth-first ids, children contiguous and sorted by size (largest first, stable), sizes
// and entry counts summed upward. Flat arrays only; not thread-safe.
//
// A scan holds its whole tree here, so an entry costs as little as it can: a name's start
// takes 32 bits (a snapshot holds at most 4 GB of names; more is refused), its length one
// byte (longer names are looked up aside), and entry counts are kept only once one is set to
// anything but 1.
class TreeColumnsBuilder {
 public:
  std::vector<std::int32_t> parent;
  std::vector<std::uint64_t> size;
  std::vector<std::uint32_t> mtime;
  std::vector<std::uint8_t> flags;
  std::vector<std::uint8_t> names;
  std::vector<bool> present;

  std::size_t length() const { return parent.size(); }
  bool empty() const { return parent.empty(); }

  // The name last set for id (empty for an id never set).
  std::span<const std::uint8_t> name(std::size_t id) const {
    return {names.data() + nameStart_[id], nameLength(id)};
  }
  std::size_t nameLength(std::size_t id) const {
    const std::uint8_t length = nameLength_[id];
    return length < longName ? length : longNameLength(id);
  }
  std::size_t nameStart(std::size_t id) const { return nameStart_[id]; }
  std::uint32_t entryCount(std::size_t id) const { return counts_.empty() ? 1 : counts_[id]; }
  void setEntryCount(std::size_t id, std::uint32_t count);

  void reserve(std::size_t nodes, std::size_t nameBytes);
  // Grows to id + 1 when needed; mtime is clamped to 0 ... 4294967295. Setting an id twice
  // appends the name again and the last call wins. Names past 4 GB in all throw
  // std::length_error.
  void set(std::size_t id, std::int32_t parentID, std::span<const std::uint8_t> name, std::uint64_t size,
           std::int64_t mtime, std::uint32_t entryCount, std::uint8_t flags);
  // The same as set() with entry count 1 for ids first, first + 1, ... of one folder, whose
  // names lie back to back in names (entry k ends at nameEnds[k]).
  // With `later`, the pages to be written next are left there to map (and are kept further
  // ahead of the entries, so that those stored meanwhile find theirs mapped).
  void setRange(std::size_t first, std::int32_t parentID, std::span<const std::uint8_t> names,
                std::span<const std::uint32_t> nameEnds, std::span<const std::uint64_t> sizes,
                std::span<const std::int64_t> mtimes, std::span<const std::uint8_t> flags,
                PagesToMap* later = nullptr);
  // ORs flags into an existing id; ids beyond the end are ignored.
  void addFlags(std::size_t id, std::uint8_t flags);
  // Entries not present, or whose parents do not lead to id 0, are dropped. The second form
  // sums in place and leaves the builder empty.
  TreeColumns build(bool aggregate, std::uint8_t directoryFlag) const&;
  TreeColumns build(bool aggregate, std::uint8_t directoryFlag) &&;
  // The same columns as build(), arranged but not gathered, for a writer to stream; leaves
  // the builder empty.
  ArrangedColumns arrange(bool aggregate, std::uint8_t directoryFlag) &&;
  void clear();

  void growTo(std::size_t count, PagesToMap* later = nullptr);
  // Forgets the ids from count on.
  void shrinkTo(std::size_t count);

 private:
  // A length byte of this value says the name's length is in longNames_.
  static constexpr std::uint8_t longName = 255;

  void appendNames(std::span<const std::uint8_t> bytes, PagesToMap* later = nullptr);
  void setName(std::size_t id, std::size_t start, std::size_t length);
  std::size_t longNameLength(std::size_t id) const;
  // The per-node columns but `present` (a vector of bits).
  template <typename F>
  void forEachNodeColumn(F f) {
    f(parent);
    f(size);
    f(mtime);
    f(flags);
    f(nameStart_);
    f(nameLength_);
    if (countsKept_) f(counts_);
  }

  std::vector<std::uint32_t> nameStart_;
  std::vector<std::uint8_t> nameLength_;
  std::unordered_map<std::uint32_t, std::uint32_t> longNames_;  // by id
  std::vector<std::uint32_t> counts_;                           // empty while every count is 1
  bool countsKept_ = false;
  // How far the arrays' pages are already mapped: growing past it maps the next stretch in
  // one call instead of a fault per page.
  std::size_t readyNodes_ = 0;
  std::size_t readyNameBytes_ = 0;
};

// The canonical columns of a builder in their final order, kept in the builder's arrays
// rather than gathered into columns of their own: each column is gathered piece by piece
// as it is handed out, so that a writer streams the tree to a file without holding a
// second copy of it. Hands out the same bytes as often as asked.
class ArrangedColumns {
 public:
  // Node count and name bytes of the columns build() would return.
  std::size_t nodeCount() const { return nodes_; }
  std::uint64_t nameBytes() const { return nameBytes_; }
  // Whether the columns have a nameOffset element (all but those of an empty builder).
  bool hasNameOffsets() const { return hasNameOffsets_; }
  // Hands out column i (0 to 8, in the order of the TreeColumns fields) as its bytes in
  // consecutive pieces.
  void forEachPiece(int column, const std::function<void(std::span<const std::uint8_t>)>& out) const;
  // All of it gathered: what build() returns.
  TreeColumns columns() const;

 private:
  friend class TreeColumnsBuilder;
  template <typename T, typename Value>
  void gather(const std::function<void(std::span<const std::uint8_t>)>& out, Value value) const;
  void childStarts(const std::function<void(std::span<const std::uint8_t>)>& out) const;
  void names(const std::function<void(std::span<const std::uint8_t>)>& out) const;
  void nameOffsets(const std::function<void(std::span<const std::uint8_t>)>& out) const;

  // Indexed by scan id: sizes summed, names with room to copy 16 bytes past the last.
  // parent is already the final column.
  TreeColumnsBuilder entries_;
  // By final id: the scan id, and the final entry count and child count columns. The
  // children's starts follow from their counts as they are handed out.
  std::vector<std::uint32_t> order_, entryCount_, childCount_;
  std::size_t nodes_ = 0;
  std::uint64_t nameBytes_ = 0;
  std::size_t nameBytesSet_ = 0;  // in the builder's names, not counting the room past them
  bool hasNameOffsets_ = false;
};

std::uint32_t clampTime(std::int64_t seconds);

}  // namespace tallyfox
