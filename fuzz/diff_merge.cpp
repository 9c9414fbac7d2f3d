// Two snapshot images from any bytes (split at a position the input chooses) are compared
// folder by folder and merged every way, as a damaged file opened beside a good one would be.
#include "TreeWalk.h"

#include <tallyfox/SnapshotDiff.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotMerge.h>

#include <cstring>
#include <vector>

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

// Every folder of the comparison, at any depth, as a person opening one after another would
// list them. A sound pair lists each entry once, so a budget of both trees' entries lets it
// be walked whole; a damaged tree may give many folders the same long child range, and the
// budget keeps that linear in the input instead of exponential.
void walk(const SnapshotDiff& diff, std::int64_t budget, std::uint64_t& sink) {
  std::vector<SnapshotDiff::Entry> folders{diff.root()};
  while (!folders.empty() && budget > 0) {
    const SnapshotDiff::Entry folder = std::move(folders.back());
    folders.pop_back();
    const auto children = diff.children(folder);
    budget -= std::int64_t(children.size()) + 1;
    for (const auto& child : children) {
      sink += child.magnitude() + child.name.size() + child.unreliable;
      if (child.isDirectory || (child.oldNode && diff.oldTree().isDirectory(*child.oldNode)))
        folders.push_back(child);
    }
  }
}

bool sound(const DiskTree& tree) {
  return !tree.firstViolation();
}

// What a merge gives is written as a new snapshot and opened in the next window: built by
// the tree builder, it must pass the check every reader runs when what it was made of did.
DiskTreePtr expectSound(SnapshotMerge::Result result, bool fromSound) {
  auto tree = SnapshotFile::inMemory(std::move(result.columns), result.info);
  if (fromSound && !sound(*tree)) __builtin_trap();
  return tree;
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
  std::uint32_t word;
  std::memcpy(&word, data, 4);
  data += 4;
  size -= 4;
  const std::uint32_t split = word % std::uint32_t(size + 1);
  DiskTreePtr first = open(data, split), second = open(data + split, size - split);
  if (!first) first = second;
  if (!second) second = first;
  if (!first) return 0;

  std::uint64_t total = 0;
  const SnapshotDiff diff(first, 0, second, 0);
  walk(diff, first->totalNodes() + second->totalNodes(), total);

  // The rest of the word picks the folder rescanned, as a person picks it in the window.
  const std::uint32_t pick = word / std::uint32_t(size + 1);
  const NodeId node = first->totalNodes() > 1 ? NodeId(1 + pick % std::uint32_t(first->totalNodes() - 1)) : 0;
  const bool bothSound = sound(*first) && (second == first || sound(*second));
  attempt([&] { expectSound(SnapshotMerge::replace(node, *first, *second), bothSound); });
  attempt([&] { total += std::uint64_t(SnapshotMerge::newID(node, *first)); });
  attempt([&] { total += SnapshotMerge::fillWithSubtreesOf(*second, *first, node)->totalNodes(); });
  attempt([&] { expectSound(SnapshotMerge::insert(*second, *first), bothSound); });
  attempt([&] { expectSound(SnapshotMerge::fill(*first, {second}), bothSound); });
  // The merged result is opened in the next window.
  attempt([&] { fuzzwalk::walk(*expectSound(SnapshotMerge::merge({first, second}, "/"), bothSound), true); });
  volatile std::uint64_t sink = total;
  (void)sink;
  return 0;
}
