#pragma once

#include <tallyfox/TreeColumns.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace benchtree {

// A complete tree of n nodes with `fanout` children per folder, breadth-first, named "entry"
// and the id, every file 4096 bytes and every folder's size and entry count summed upward:
// a sound tree of any size, made in one pass.
inline tallyfox::TreeColumns wideTree(std::int64_t n, std::int64_t fanout) {
  namespace EntryFlags = tallyfox::EntryFlags;
  tallyfox::TreeColumns c;
  const auto count = std::size_t(n);
  c.parent.resize(count);
  c.size.assign(count, 0);
  c.mtime.assign(count, 1'700'000'000);
  c.entryCount.assign(count, 1);
  c.flags.assign(count, 0);
  c.childStart.assign(count, 0);
  c.childCount.assign(count, 0);
  c.nameOffset.reserve(count + 1);
  c.names.reserve(count * 8);
  for (std::int64_t i = 0; i < n; ++i) {
    const auto at = std::size_t(i);
    c.parent[at] = i == 0 ? -1 : std::int32_t((i - 1) / fanout);
    const std::int64_t first = i * fanout + 1;
    if (first < n) {
      c.childStart[at] = std::uint32_t(first);
      c.childCount[at] = std::uint32_t(std::min(fanout, n - first));
      c.flags[at] = EntryFlags::directory;
      c.entryCount[at] = 0;
    } else {
      c.size[at] = 4096;
    }
    c.nameOffset.push_back(std::uint32_t(c.names.size()));
    const std::string name = i == 0 ? "" : "entry" + std::to_string(i);
    c.names.insert(c.names.end(), name.begin(), name.end());
  }
  c.nameOffset.push_back(std::uint32_t(c.names.size()));
  // Children come after their parents: summing from the end reaches every folder complete.
  for (std::int64_t i = n - 1; i > 0; --i) {
    const auto p = std::size_t(c.parent[std::size_t(i)]);
    c.size[p] += c.size[std::size_t(i)];
    c.entryCount[p] += c.flags[std::size_t(i)] & EntryFlags::directory ? c.entryCount[std::size_t(i)] + 1 : 1;
  }
  return c;
}

}  // namespace benchtree
