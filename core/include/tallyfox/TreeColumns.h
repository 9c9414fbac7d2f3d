#pragma once

#include <cstdint>
#include <vector>

namespace tallyfox {

using NodeId = std::int32_t;

// One byte of flags per entry. The values are stored in snapshot files.
namespace EntryFlags {
inline constexpr std::uint8_t directory = 1;
inline constexpr std::uint8_t error = 2;
inline constexpr std::uint8_t notDescended = 4;
inline constexpr std::uint8_t duplicateLink = 8;
inline constexpr std::uint8_t symlink = 16;
inline constexpr std::uint8_t partial = 32;
inline constexpr std::uint8_t sharedClone = 64;
inline constexpr std::uint8_t dataless = 128;
}  // namespace EntryFlags

// A whole tree as parallel arrays indexed by node id, plus one buffer of names.
// nameOffset has one element more than the other per-node columns: element n is the end
// of the last name.
struct TreeColumns {
  std::vector<std::int32_t> parent;
  std::vector<std::uint64_t> size;
  std::vector<std::uint32_t> mtime;
  std::vector<std::uint32_t> entryCount;
  std::vector<std::uint8_t> flags;
  std::vector<std::uint32_t> childStart;
  std::vector<std::uint32_t> childCount;
  std::vector<std::uint32_t> nameOffset;
  std::vector<std::uint8_t> names;

  std::int64_t nodeCount() const { return static_cast<std::int64_t>(parent.size()); }

  bool operator==(const TreeColumns&) const = default;
};

}  // namespace tallyfox
