#include <tallyfox/DiskTree.h>

#include "linux/FileIO.h"

#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/Unicode.h>

#include <algorithm>
#include <limits>

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

DiskTree::DiskTree(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner)
    : owner_(std::move(owner)), bytes_(bytes) {
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
  return contains(p) ? p : -1;
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
  // A parent chain longer than the tree loops; cut it there.
  for (NodeId cur = id; cur > 0 && contains(cur) && ids.size() < std::size_t(totalNodes());
       cur = parentOf(cur))
    ids.push_back(cur);
  std::reverse(ids.begin(), ids.end());
  return ids;
}

std::string DiskTree::path(NodeId id) const {
  const auto ids = lineage(id);
  if (ids.empty()) return rootPath_.empty() ? "/" : rootPath_;
  std::string result;
  bool first = true;
  for (NodeId node : ids) {
    const std::string component = name(node);
    if (first && !component.empty() && component.front() == '/')
      result = component;
    else
      result = PathText::appendComponent(first ? rootPath_ : result, component);
    first = false;
  }
  return result;
}

std::uint64_t DiskTree::errorCount() const {
  if (errorCounted_.load(std::memory_order_acquire)) return errorCount_.load(std::memory_order_relaxed);
  std::uint64_t count = 0;
  for (std::uint8_t f : flags_) count += (f & EntryFlags::error) ? 1 : 0;
  errorCount_.store(count, std::memory_order_relaxed);
  errorCounted_.store(true, std::memory_order_release);
  return count;
}

void DiskTree::write(const std::filesystem::path& to) const {
  FileIO::writeAtomically(to, [&](int fd) { FileIO::writeAll(fd, bytes_.data(), bytes_.size()); });
}

}  // namespace tallyfox
