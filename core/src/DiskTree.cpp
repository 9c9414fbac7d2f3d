#include <tallyfox/DiskTree.h>

#include "linux/FileIO.h"

#include <tallyfox/EntryNames.h>
#include <tallyfox/FileChangedError.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/Unicode.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

namespace tallyfox {

namespace {

template <typename T>
std::span<const T> view(std::span<const std::uint8_t> bytes, const SnapshotFile::Column& c) {
  return {reinterpret_cast<const T*>(bytes.data() + c.offset), std::size_t(c.length / sizeof(T))};
}

bool lengthMatches(std::uint64_t stored, std::uint64_t count, std::uint64_t elementSize) {
  std::uint64_t expected;
  return !__builtin_mul_overflow(count, elementSize, &expected) && stored == expected;
}

}  // namespace

DiskTree::DiskTree(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner,
                   const SnapshotFile::MappedRegion* region)
    : owner_(std::move(owner)), region_(region), bytes_(bytes) {
  using SnapshotFile::FormatError;
  const SnapshotFile::Header h = SnapshotFile::readHeader(bytes);
  if (h.state != SnapshotFile::State::complete)
    throw FormatError("the scan that wrote this file hasn't finished");
  const std::uint64_t n = h.nodeCount;
  static constexpr std::uint64_t sizes[8] = {4, 8, 4, 4, 1, 4, 4, 4};
  for (int i = 0; i < 8; ++i) {
    const std::uint64_t count = i == 7 ? n + 1 : n;
    if (n == std::numeric_limits<std::uint64_t>::max() ||
        !lengthMatches(h.columns[i].length, count, sizes[i]))
      throw FormatError("column " + std::to_string(i) + " has the wrong length");
  }
  // Ids are 32-bit; a larger tree cannot be addressed.
  if (n > std::uint64_t(std::numeric_limits<NodeId>::max())) throw FormatError("too many entries");
  parent_ = view<std::int32_t>(bytes, h.columns[0]);
  size_ = view<std::uint64_t>(bytes, h.columns[1]);
  mtime_ = view<std::uint32_t>(bytes, h.columns[2]);
  entryCount_ = view<std::uint32_t>(bytes, h.columns[3]);
  flags_ = view<std::uint8_t>(bytes, h.columns[4]);
  childStart_ = view<std::uint32_t>(bytes, h.columns[5]);
  childCount_ = view<std::uint32_t>(bytes, h.columns[6]);
  nameOffset_ = view<std::uint32_t>(bytes, h.columns[7]);
  names_ = view<std::uint8_t>(bytes, h.columns[8]);
  if (n < 1 || nameOffset_[n] > names_.size()) throw FormatError("names are out of bounds");
  rootPath_ = h.info.rootPath;
  scanStart_ = h.info.scanStart;
  scanSeconds_ = h.info.scanSeconds;
}

NodeId DiskTree::parentOf(NodeId id) const {
  if (id <= 0 || !contains(id)) return -1;
  const NodeId p = parent_[id];
  return p >= 0 && p < id ? p : -1;
}

NodeRange DiskTree::children(NodeId id) const {
  if (!contains(id) || childCount_[id] == 0) return {};
  const std::int64_t n = totalNodes();
  const std::int64_t start = std::max<std::int64_t>(childStart_[id], std::int64_t(id) + 1);
  const std::int64_t end = std::min<std::int64_t>(std::int64_t(childStart_[id]) + childCount_[id], n);
  if (start >= end) return {};
  return {NodeId(start), NodeId(end)};
}

bool DiskTree::nameRange(NodeId id, std::uint32_t& start, std::uint32_t& end) const {
  if (!contains(id)) return false;
  start = nameOffset_[id];
  end = nameOffset_[id + 1];
  return start <= end && end <= names_.size();
}

std::span<const std::uint8_t> DiskTree::nameView(NodeId id) const {
  std::uint32_t start, end;
  if (!nameRange(id, start, end)) return {};
  return names_.subspan(start, end - start);
}

std::vector<std::uint8_t> DiskTree::nameBytes(NodeId id) const {
  const auto bytes = nameView(id);
  return {bytes.begin(), bytes.end()};
}

std::string DiskTree::name(NodeId id) const {
  if (id == root) return rootPath_.empty() ? "All roots" : PathText::abbreviateTilde(rootPath_);
  std::uint32_t start, end;
  if (!nameRange(id, start, end)) return "?";
  return Unicode::decodeLossy(names_.subspan(start, end - start));
}

std::vector<NodeId> DiskTree::lineage(NodeId id) const {
  std::vector<NodeId> ids;
  // Parents are smaller ids, so the chain ends.
  for (NodeId cur = contains(id) ? id : 0; cur > 0; cur = parentOf(cur)) ids.push_back(cur);
  std::reverse(ids.begin(), ids.end());
  return ids;
}

namespace {

// `component(node, scratch)` gives a node's name as a view, into the tree or into `scratch`,
// so that a deep path costs one allocation rather than one per folder.
template <typename Component>
std::string joinedPath(const DiskTree& tree, NodeId id, Component component) {
  const auto ids = tree.lineage(id);
  if (ids.empty()) return tree.rootPath().empty() ? "/" : tree.rootPath();
  std::size_t length = tree.rootPath().size();
  for (NodeId node : ids) length += tree.nameView(node).size() + 1;
  std::string result, scratch;
  result.reserve(length);
  for (std::size_t k = 0; k < ids.size(); ++k) {
    const std::string_view part = component(ids[k], scratch);
    if (k == 0 && !part.starts_with('/')) result = tree.rootPath();
    PathText::appendComponentTo(result, part);
  }
  return result;
}

}  // namespace

std::string DiskTree::path(NodeId id) const {
  return joinedPath(*this, id, [this](NodeId node, std::string& scratch) -> std::string_view {
    std::uint32_t start, end;
    if (!nameRange(node, start, end)) return "?";
    return Unicode::decodeLossy(names_.subspan(start, end - start), scratch);
  });
}

std::string DiskTree::filePath(NodeId id) const {
  return joinedPath(*this, id, [this](NodeId node, std::string&) {
    const auto bytes = nameView(node);
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  });
}

std::uint64_t DiskTree::errorCount() const {
  if (errorCounted_.load(std::memory_order_acquire)) return errorCount_.load(std::memory_order_relaxed);
  std::uint64_t count = 0;
  for (std::uint8_t f : flags_) count += (f & EntryFlags::error) ? 1 : 0;
  errorCount_.store(count, std::memory_order_relaxed);
  errorCounted_.store(true, std::memory_order_release);
  return count;
}

namespace {

// Sums as the tree's producers make them: exact, or the largest value once they pass it (the
// builder saturates its sizes, the vok reader its root). A sum that wrapped around instead
// reads as a small total that looks sound, and is damage.
struct Sum {
  std::uint64_t total = 0;
  bool overflowed = false;

  void add(std::uint64_t value) { overflowed |= __builtin_add_overflow(total, value, &total); }
  bool matches64(std::uint64_t stored) const {
    return overflowed ? stored == std::numeric_limits<std::uint64_t>::max() : stored == total;
  }
  bool matches32(std::uint32_t stored) const {
    constexpr std::uint64_t max32 = std::numeric_limits<std::uint32_t>::max();
    return overflowed || total > max32 ? stored == max32 : stored == total;
  }
};

}  // namespace

std::optional<std::string> DiskTree::firstViolation(Totals totals) const {
  const std::int64_t n = totalNodes();
  auto node = [&](std::int64_t id) { return "node " + std::to_string(id) + " (" + path(NodeId(id)) + ")"; };
  if (parent_[0] != -1) return "The root names a parent.";
  if (!(flags_[0] & EntryFlags::directory)) return "The root is not a folder.";
  if (nameOffset_[0] != 0) return "The names do not start at the beginning of the names column.";

  // Breadth-first ids put the children of each folder right after those of the folders
  // before it: `next` is where the next child range must start.
  std::int64_t next = 1;
  for (std::int64_t id = 0; id < n; ++id) {
    if (id > 0 && id >= next)
      return "Node " + std::to_string(id) + " is not a child of any folder before it.";
    if (nameOffset_[id] > nameOffset_[id + 1])
      return "The name of node " + std::to_string(id) + " ends before it starts.";
    const std::int64_t count = childCount_[id];
    if (count == 0) {
      if (childStart_[id] != 0) return "The first child of " + node(id) + " is set, but it has no children.";
      // What the builder stores for an entry with nothing below it, and what the sums
      // below take for granted: a file is one entry, a folder holds none.
      if (totals == Totals::summed && entryCount_[id] != ((flags_[id] & EntryFlags::directory) ? 0 : 1))
        return (flags_[id] & EntryFlags::directory)
                   ? "The entry count of " + node(id) + " is not the number of entries below it."
                   : "The entry count of the file " + node(id) + " is not 1.";
      continue;
    }
    if (!(flags_[id] & EntryFlags::directory)) return "The file " + node(id) + " has children.";
    if (childStart_[id] != next)
      return "The children of " + node(id) + " do not follow those of the folders before it.";
    if (count > n - next) return "The children of " + node(id) + " run past the end of the tree.";

    // What the builder sums upward: every size, and for entries one per file without
    // children, a folder's own count plus one for the folder itself.
    Sum size, entries, stored;
    for (std::int64_t child = next; child < next + count; ++child) {
      if (parent_[child] != id)
        return "Node " + std::to_string(child) + " lies among the children of " + node(id) +
               " but names node " + std::to_string(parent_[child]) + " as its parent.";
      if (child > next && size_[child] > size_[child - 1])
        return "The children of " + node(id) + " are not ordered largest first.";
      // A name whose offsets are out of order is reported as such when its node's turn comes.
      std::uint32_t start, end;
      if (nameRange(NodeId(child), start, end)) {
        const std::string_view name(reinterpret_cast<const char*>(names_.data()) + start, end - start);
        if (id == root ? !EntryNames::isTopLevelName(name) : !EntryNames::isEntryName(name))
          return "The name of " + node(child) + " is not one a file can have.";
      }
      size.add(size_[child]);
      const bool folder = flags_[child] & EntryFlags::directory;
      entries.add(!folder && childCount_[child] == 0 ? 1 : std::uint64_t(entryCount_[child]) + 1);
      stored.add(entryCount_[child]);
    }
    if (totals == Totals::asStored) {
      next += count;
      continue;
    }
    if (!size.matches64(size_[id]))
      return "The size of " + node(id) + " is not the sum of its children's sizes.";
    // A tree read from a vok file counts at its root what the top-level records stand for.
    if (!entries.matches32(entryCount_[id]) && !(id == root && stored.matches32(entryCount_[id])))
      return "The entry count of " + node(id) + " is not the number of entries below it.";
    next += count;
  }
  return std::nullopt;
}

bool DiskTree::fileChanged() const {
  return region_ && region_->changed();
}

void DiskTree::expectUnchanged() const {
  if (fileChanged()) throw FileChangedError(region_->path());
}

void DiskTree::write(const std::filesystem::path& to) const {
  FileIO::writeAtomically(to, [&](int fd) {
    try {
      // Pages that a cut took fail the write with EFAULT rather than fault.
      FileIO::writeAll(fd, bytes_.data(), bytes_.size());
    } catch (const std::system_error&) {
      expectUnchanged();
      throw;
    }
    expectUnchanged();
  });
}

}  // namespace tallyfox
