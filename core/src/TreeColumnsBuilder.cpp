#include <tallyfox/TreeColumnsBuilder.h>

#include <algorithm>
#include <limits>

namespace tallyfox {

std::uint32_t clampTime(std::int64_t seconds) {
  if (seconds < 0) return 0;
  if (seconds > std::int64_t(std::numeric_limits<std::uint32_t>::max()))
    return std::numeric_limits<std::uint32_t>::max();
  return std::uint32_t(seconds);
}

void TreeColumnsBuilder::reserve(std::size_t nodes, std::size_t nameBytes) {
  parent.reserve(nodes);
  size.reserve(nodes);
  mtime.reserve(nodes);
  entryCount.reserve(nodes);
  flags.reserve(nodes);
  nameStart.reserve(nodes);
  nameLength.reserve(nodes);
  present.reserve(nodes);
  names.reserve(nameBytes);
}

void TreeColumnsBuilder::growTo(std::size_t count) {
  if (count <= parent.size()) return;
  parent.resize(count, -1);
  size.resize(count, 0);
  mtime.resize(count, 0);
  entryCount.resize(count, 1);
  flags.resize(count, 0);
  nameStart.resize(count, 0);
  nameLength.resize(count, 0);
  present.resize(count, false);
}

void TreeColumnsBuilder::set(std::size_t id, std::int32_t parentID, std::span<const std::uint8_t> name,
                             std::uint64_t entrySize, std::int64_t entryMtime, std::uint32_t count,
                             std::uint8_t entryFlags) {
  growTo(id + 1);
  parent[id] = parentID;
  size[id] = entrySize;
  mtime[id] = clampTime(entryMtime);
  entryCount[id] = count;
  flags[id] = entryFlags;
  nameStart[id] = names.size();
  nameLength[id] = std::uint32_t(name.size());
  names.insert(names.end(), name.begin(), name.end());
  present[id] = true;
}

void TreeColumnsBuilder::addFlags(std::size_t id, std::uint8_t extra) {
  if (id < flags.size()) flags[id] |= extra;
}

void TreeColumnsBuilder::clear() {
  *this = TreeColumnsBuilder();
}

TreeColumns TreeColumnsBuilder::build(bool aggregate, std::uint8_t directoryFlag) const {
  TreeColumns out;
  const std::size_t n = parent.size();
  if (n == 0) return out;

  auto linked = [&](std::size_t id) { return present[id] && parent[id] >= 0 && std::size_t(parent[id]) < n; };

  // Children lists by counting sort: each parent's children in increasing scan-id order.
  std::vector<std::uint32_t> start(n + 1, 0);
  for (std::size_t id = 1; id < n; ++id)
    if (linked(id)) ++start[std::size_t(parent[id]) + 1];
  for (std::size_t i = 0; i < n; ++i) start[i + 1] += start[i];
  std::vector<std::uint32_t> children(start[n]);
  {
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (std::size_t id = 1; id < n; ++id)
      if (linked(id)) children[next[std::size_t(parent[id])]++] = std::uint32_t(id);
  }

  // One breadth-first order from the root. Only ids reached from a present root count; a
  // parent chain that never reaches the root is never visited.
  std::vector<std::uint32_t> order;
  auto breadthFirst = [&] {
    order.clear();
    if (!present[0]) return;
    order.push_back(0);
    for (std::size_t head = 0; head < order.size(); ++head) {
      const std::uint32_t id = order[head];
      for (std::uint32_t k = start[id]; k < start[id + 1]; ++k) order.push_back(children[k]);
    }
  };
  breadthFirst();

  std::vector<std::uint64_t> totalSize(size);
  std::vector<std::uint32_t> totalCount(entryCount);
  if (aggregate) {
    for (std::size_t pos = order.size(); pos-- > 1;) {
      const std::uint32_t x = order[pos];
      const std::size_t p = std::size_t(parent[x]);
      totalSize[p] += totalSize[x];
      const bool leaf = !(flags[x] & directoryFlag) && start[x] == start[x + 1];
      totalCount[p] += leaf ? 1 : totalCount[x];
    }
    for (std::size_t id = 0; id < n; ++id)
      if (flags[id] & directoryFlag) --totalCount[id];
  }

  for (std::size_t id = 0; id < n; ++id) {
    const std::uint32_t first = start[id], last = start[id + 1];
    // Children are listed in increasing scan id, so breaking ties by id is the stable order,
    // without the scratch buffer a stable sort allocates for every folder.
    if (last - first >= 2)
      std::sort(children.begin() + first, children.begin() + last, [&](std::uint32_t a, std::uint32_t b) {
        return totalSize[a] != totalSize[b] ? totalSize[a] > totalSize[b] : a < b;
      });
  }
  breadthFirst();

  const std::size_t m = order.size();
  std::vector<std::int32_t> newID(n, -1);
  for (std::size_t k = 0; k < m; ++k) newID[order[k]] = std::int32_t(k);

  out.parent.resize(m);
  out.size.resize(m);
  out.mtime.resize(m);
  out.entryCount.resize(m);
  out.flags.resize(m);
  out.childStart.resize(m);
  out.childCount.resize(m);
  out.nameOffset.resize(m + 1);
  std::size_t nameBytes = 0;
  for (std::uint32_t id : order) nameBytes += nameLength[id];
  out.names.reserve(nameBytes);
  constexpr std::uint64_t maxOffset = std::numeric_limits<std::uint32_t>::max();
  for (std::size_t k = 0; k < m; ++k) {
    const std::uint32_t id = order[k];
    out.parent[k] = k == 0 ? -1 : newID[std::size_t(parent[id])];
    out.size[k] = totalSize[id];
    out.entryCount[k] = totalCount[id];
    out.mtime[k] = mtime[id];
    out.flags[k] = flags[id];
    const std::uint32_t count = start[id + 1] - start[id];
    out.childCount[k] = count;
    out.childStart[k] = count ? std::uint32_t(newID[children[start[id]]]) : 0;
    out.nameOffset[k] = std::uint32_t(std::min<std::uint64_t>(out.names.size(), maxOffset));
    // The name may lie beyond the buffer only if the builder was filled inconsistently.
    const std::uint64_t from = nameStart[id], length = nameLength[id];
    if (from <= names.size() && length <= names.size() - from)
      out.names.insert(out.names.end(), names.begin() + std::ptrdiff_t(from),
                       names.begin() + std::ptrdiff_t(from + length));
  }
  out.nameOffset[m] = std::uint32_t(std::min<std::uint64_t>(out.names.size(), maxOffset));
  return out;
}

}  // namespace tallyfox
