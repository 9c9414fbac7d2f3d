// Two snapshot images from any bytes (split at a position the input chooses) are compared
// folder by folder and merged every way, as a damaged file opened beside a good one would be.
#include "TreeWalk.h"

#include <tallyfox/SnapshotDiff.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotMerge.h>

#include <cstring>

using namespace tallyfox;

namespace {

DiskTreePtr open(const std::uint8_t* data, std::size_t size) {
  // Images are read in place as typed columns, so give them the alignment a mapping has.
  auto buffer = std::make_shared<SnapshotFile::OwnedBuffer>(size);
  if (size) std::memcpy(buffer->data(), data, size);
  try {
    return SnapshotFile::detail::TreeFactory::open({buffer->data(), size}, buffer);
  } catch (const SnapshotFile::FormatError&) {
    return nullptr;
  }
}

// A damaged tree may give many folders the same long child range, and every listing
// compares it whole, so the walk stops after a fixed number of listed entries: enough to
// reach every folder of a small tree, and a bounded number of listings per input.
constexpr std::int64_t entriesToList = 512;

void walk(const SnapshotDiff& diff, const SnapshotDiff::Entry& entry, int depth, std::uint64_t& sink,
          std::int64_t& budget) {
  const auto children = diff.children(entry);
  budget -= std::int64_t(children.size()) + 1;
  int visited = 0;
  for (const auto& child : children) {
    sink += child.magnitude() + child.name.size() + child.unreliable;
    if (budget <= 0) return;
    if (depth < 4 && ++visited <= 8) walk(diff, child, depth + 1, sink, budget);
  }
}

template <typename Operation>
void attempt(Operation&& operation) {
  try {
    operation();
  } catch (const SnapshotMerge::MergeError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t split;
  std::memcpy(&split, data, 4);
  data += 4;
  size -= 4;
  split = size ? split % std::uint32_t(size + 1) : 0;
  DiskTreePtr first = open(data, split), second = open(data + split, size - split);
  if (!first) first = second;
  if (!second) second = first;
  if (!first) return 0;

  volatile std::uint64_t sink = 0;
  std::uint64_t total = 0;
  const SnapshotDiff diff(first, 0, second, 0);
  std::int64_t budget = entriesToList;
  walk(diff, diff.root(), 0, total, budget);

  const NodeId last = NodeId(first->totalNodes() - 1);
  for (NodeId node : {NodeId(1), last}) {
    attempt([&] { total += SnapshotMerge::replace(node, *first, *second).columns.names.size(); });
    attempt([&] { total += std::uint64_t(SnapshotMerge::newID(node, *first)); });
    attempt([&] { total += SnapshotMerge::fillWithSubtreesOf(*second, *first, node)->totalNodes(); });
  }
  attempt([&] { total += SnapshotMerge::insert(*second, *first).columns.size.size(); });
  attempt([&] { total += SnapshotMerge::fill(*first, {second}).columns.size.size(); });
  // A merged result is what the next window opens.
  attempt([&] {
    const auto merged = SnapshotMerge::merge({first, second}, "/");
    fuzzwalk::walk(*SnapshotFile::inMemory(merged.columns, merged.info), true);
  });
  sink = total;
  (void)sink;
  return 0;
}
