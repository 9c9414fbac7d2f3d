#pragma once

#include <tallyfox/TreeColumns.h>

#include <cstdint>
#include <span>
#include <vector>

namespace tallyfox {

// Collects entries by scan id, in any order, and turns them into the canonical columns:
// breadth-first ids, children contiguous and sorted by size (largest first, stable), sizes
// and entry counts summed upward. Flat arrays only; not thread-safe.
class TreeColumnsBuilder {
 public:
  std::vector<std::int32_t> parent;
  std::vector<std::uint64_t> size;
  std::vector<std::uint32_t> mtime;
  std::vector<std::uint32_t> entryCount;
  std::vector<std::uint8_t> flags;
  std::vector<std::uint64_t> nameStart;
  std::vector<std::uint32_t> nameLength;
  std::vector<std::uint8_t> names;
  std::vector<bool> present;

  std::size_t length() const { return parent.size(); }
  bool empty() const { return parent.empty(); }

  void reserve(std::size_t nodes, std::size_t nameBytes);
  // Grows to id + 1 when needed; mtime is clamped to 0 ... 4294967295. Setting an id twice
  // appends the name again and the last call wins.
  void set(std::size_t id, std::int32_t parentID, std::span<const std::uint8_t> name, std::uint64_t size,
           std::int64_t mtime, std::uint32_t entryCount, std::uint8_t flags);
  // The same as set() with entry count 1 for ids first, first + 1, ... of one folder, whose
  // names lie back to back in names (entry k ends at nameEnds[k]).
  void setRange(std::size_t first, std::int32_t parentID, std::span<const std::uint8_t> names,
                std::span<const std::uint32_t> nameEnds, std::span<const std::uint64_t> sizes,
                std::span<const std::int64_t> mtimes, std::span<const std::uint8_t> flags);
  // ORs flags into an existing id; ids beyond the end are ignored.
  void addFlags(std::size_t id, std::uint8_t flags);
  // Entries not present, or whose parents do not lead to id 0, are dropped. The second form
  // sums in place and leaves the builder empty.
  TreeColumns build(bool aggregate, std::uint8_t directoryFlag) const&;
  TreeColumns build(bool aggregate, std::uint8_t directoryFlag) &&;
  void clear();

  void growTo(std::size_t count);

 private:
  void appendNames(std::span<const std::uint8_t> bytes);
  // The per-node columns but `present` (a vector of bits).
  template <typename F>
  void forEachNodeColumn(F f) {
    f(parent);
    f(size);
    f(mtime);
    f(entryCount);
    f(flags);
    f(nameStart);
    f(nameLength);
  }

  // How far the arrays' pages are already mapped: growing past it maps the next stretch in
  // one call instead of a fault per page.
  std::size_t readyNodes_ = 0;
  std::size_t readyNameBytes_ = 0;
};

std::uint32_t clampTime(std::int64_t seconds);

}  // namespace tallyfox
