#include <tallyfox/SnapshotMerge.h>

#include "NameIndex.h"

#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/TreeColumnsBuilder.h>
#include <tallyfox/Unicode.h>

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <utility>

namespace tallyfox::SnapshotMerge {

namespace {

using Slot = std::int32_t;
using Clock = std::chrono::system_clock;

constexpr std::uint8_t directory = EntryFlags::directory;
constexpr std::uint8_t createdFolder = EntryFlags::directory | EntryFlags::partial;

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The children of `node` that a copy walks. A finished tree's children always name their
// folder as parent; skipping any that do not keeps a damaged file from making the walk
// visit one node more than once (child ranges of different folders could overlap).
template <typename Visit>
void forEachChild(const DiskTree& tree, NodeId node, Visit&& visit) {
  for (NodeId child : tree.children(node))
    if (tree.parentOf(child) == node) visit(child);
}

struct QueuedFolder {
  NodeId node;
  Slot slot;
};

constexpr auto noHook = [](NodeId, Slot) { return false; };

// Writes builder slots in order: slot 0 is the result's root, every further node takes the
// next slot. Name bytes are copied as stored, never decoded.
class Writer {
 public:
  // Every column is laid out once for the most slots the inputs can give, so that writing
  // a slot only stores; build() trims them to the slots really written.
  Writer(std::int64_t nodes, std::size_t nameBytes) {
    builder_.reserve(0, nameBytes);
    builder_.growTo(std::size_t(std::max<std::int64_t>(nodes, 1)));
  }

  Slot nextSlot() const { return next_; }

  void writeRoot(std::uint32_t mtime, std::uint8_t flags) { builder_.set(0, -1, {}, 0, mtime, 1, flags); }

  // A folder that no scan saw: it only holds what was put below it.
  Slot createFolder(Slot parent, std::string_view name) {
    const Slot id = takeSlot();
    builder_.set(std::size_t(id), parent, bytesOf(name), 0, 0, 1, createdFolder);
    return id;
  }

  // Every tree is copied with one rule: files keep their size, folders start at 0 and get
  // their totals from the build.
  void copyNode(const DiskTree& tree, NodeId node, Slot id, Slot parent, std::span<const std::uint8_t> name) {
    const std::uint8_t flags = tree.flags(node);
    const std::uint64_t size = (flags & directory) ? 0 : tree.sizeOf(node);
    builder_.set(std::size_t(id), parent, name, size, tree.mtime()[std::size_t(node)], 1, flags);
  }

  // The whole tree, breadth-first. `hook(child, parentSlot)` may write something else in
  // the child's place and answer true, and the child is then skipped with its subtree.
  template <typename Hook>
  void copy(const DiskTree& tree, std::optional<std::uint8_t> rootFlags, Hook&& hook) {
    writeRoot(tree.mtime()[0], rootFlags ? *rootFlags : std::uint8_t(tree.flags(DiskTree::root) | directory));
    copyBelow(tree, DiskTree::root, 0, queue_, hook);
  }

  // `node` of `source` and everything below it, under `parent`, named `name`. A source
  // root is always a folder and brings its scan's root time.
  Slot graft(const DiskTree& source, NodeId node, Slot parent, std::span<const std::uint8_t> name) {
    const Slot id = takeSlot();
    if (node == DiskTree::root)
      builder_.set(std::size_t(id), parent, name, 0, source.mtime()[0], 1,
                   std::uint8_t(source.flags(DiskTree::root) | directory));
    else
      copyNode(source, node, id, parent, name);
    // Grafts happen inside the hook of a running copy, so they walk with their own queue.
    if (builder_.flags[std::size_t(id)] & directory) copyBelow(source, node, id, graftQueue_, noHook);
    return id;
  }

  TreeColumns build() {
    builder_.shrinkTo(std::size_t(next_));
    return std::move(builder_).build(true, directory);
  }

 private:
  Slot takeSlot() {
    if (next_ == std::numeric_limits<Slot>::max())
      throw MergeError("The merged snapshot would hold more entries than a snapshot can.");
    return next_++;
  }

  template <typename Hook>
  void copyBelow(const DiskTree& tree, NodeId top, Slot topSlot, std::vector<QueuedFolder>& queue,
                 Hook&& hook) {
    queue.clear();
    queue.push_back({top, topSlot});
    for (std::size_t head = 0; head < queue.size(); ++head) {
      const QueuedFolder folder = queue[head];
      forEachChild(tree, folder.node, [&](NodeId child) {
        if (hook(child, folder.slot)) return;
        const Slot id = takeSlot();
        copyNode(tree, child, id, folder.slot, tree.nameView(child));
        if (tree.isDirectory(child)) queue.push_back({child, id});
      });
    }
  }

  TreeColumnsBuilder builder_;
  Slot next_ = 1;
  std::vector<QueuedFolder> queue_;
  std::vector<QueuedFolder> graftQueue_;
};

std::int64_t nodesOf(const DiskTree& tree) {
  return tree.totalNodes();
}
std::size_t nameBytesOf(const DiskTree& tree) {
  return tree.names().size();
}

Clock::time_point earlier(Clock::time_point a, Clock::time_point b) {
  return std::min(a, b);
}

std::string notInside(const std::string& path, const std::string& root) {
  return path + " isn't inside " + root;
}

}  // namespace

std::int32_t newID(NodeId of, const DiskTree& in) {
  if (of == DiskTree::root) return 0;
  // Counts what a copy would write before `of`, with the copy's own walk.
  std::vector<NodeId> queue{DiskTree::root};
  std::int64_t written = 1;
  for (std::size_t head = 0; head < queue.size(); ++head) {
    std::optional<std::int64_t> found;
    forEachChild(in, queue[head], [&](NodeId child) {
      if (found) return;
      if (child == of) found = written;
      ++written;
      if (in.isDirectory(child)) queue.push_back(child);
    });
    if (found) return std::int32_t(*found);
  }
  throw MergeError("node not found");
}

Result replace(NodeId node, const DiskTree& tree, const DiskTree& fresh) {
  Writer writer(nodesOf(tree) + nodesOf(fresh), nameBytesOf(tree) + nameBytesOf(fresh));
  if (node == DiskTree::root) {
    writer.copy(fresh, std::nullopt, noHook);
    return {writer.build(), {tree.rootPath(), fresh.scanStart(), fresh.scanSeconds()}};
  }
  bool placed = false;
  writer.copy(tree, std::nullopt, [&](NodeId child, Slot parent) {
    if (child != node) return false;
    writer.graft(fresh, DiskTree::root, parent, tree.nameView(node));
    placed = true;
    return true;
  });
  // Reporting success while the fresh scan went nowhere would lose it silently.
  if (!placed) throw MergeError("node not found");
  return {writer.build(),
          {tree.rootPath(), earlier(tree.scanStart(), fresh.scanStart()),
           tree.scanSeconds() + fresh.scanSeconds()}};
}

Result insert(const DiskTree& fresh, const DiskTree& tree) {
  const auto names = SnapshotPaths::components(fresh.rootPath(), tree.rootPath());
  if (!names || names->empty()) throw MergeError(notInside(fresh.rootPath(), tree.rootPath()));

  // The deepest folder of the path that the tree already holds.
  NodeId ancestor = DiskTree::root;
  std::size_t matched = 0;
  detail::NameIndex children;
  while (matched + 1 < names->size()) {
    const auto next = children.child(tree, ancestor, (*names)[matched]);
    if (!next) break;
    ancestor = *next;
    ++matched;
  }
  if (matched + 1 == names->size() && children.child(tree, ancestor, names->back()))
    throw MergeError(fresh.rootPath() + " is already in this snapshot (use Rescan This Folder)");

  Writer writer(nodesOf(tree) + nodesOf(fresh) + std::int64_t(names->size()),
                nameBytesOf(tree) + nameBytesOf(fresh) + fresh.rootPath().size());
  std::optional<Slot> ancestorSlot;
  if (ancestor == DiskTree::root) ancestorSlot = 0;
  writer.copy(tree, std::nullopt, [&](NodeId child, Slot) {
    if (child == ancestor) ancestorSlot = writer.nextSlot();
    return false;
  });
  if (!ancestorSlot) throw MergeError("node not found");

  Slot parent = *ancestorSlot;
  for (std::size_t k = matched; k + 1 < names->size(); ++k) parent = writer.createFolder(parent, (*names)[k]);
  writer.graft(fresh, DiskTree::root, parent, bytesOf(names->back()));
  return {writer.build(),
          {tree.rootPath(), earlier(tree.scanStart(), fresh.scanStart()),
           tree.scanSeconds() + fresh.scanSeconds()}};
}

Result merge(const std::vector<DiskTreePtr>& trees, const std::string& root) {
  const std::string r = SnapshotPaths::canonical(root);
  std::int64_t nodes = 1;
  std::size_t nameBytes = 0;
  for (const auto& tree : trees) {
    if (!tree) continue;
    nodes += nodesOf(*tree) + 8;
    nameBytes += nameBytesOf(*tree) + tree->rootPath().size();
  }
  Writer writer(nodes, nameBytes);
  writer.writeRoot(0, createdFolder);

  // Folders created between the root and the trees, by their path below the root. Keyed by
  // bytes: the trees' root paths come from disk, and two spellings there are two folders.
  std::map<std::string, Slot> folders;
  std::vector<std::pair<std::vector<std::string>, std::string>> placed;  // components, root path
  std::optional<Clock::time_point> start;
  double seconds = 0;
  for (const auto& tree : trees) {
    if (!tree) continue;
    const std::optional<std::vector<std::string>> names =
        tree->rootPath().empty() ? std::nullopt : SnapshotPaths::components(tree->rootPath(), r);
    if (!names) throw MergeError(notInside(tree->rootPath(), r));
    if (names->empty()) throw MergeError("A snapshot of " + r + " itself can't be merged into it");
    // A root inside another tree's root would give a folder two entries of the same name.
    for (const auto& [other, otherPath] : placed) {
      const std::size_t common = std::min(other.size(), names->size());
      if (std::equal(other.begin(), other.begin() + std::ptrdiff_t(common), names->begin()))
        throw MergeError("The snapshots of " + otherPath + " and " + tree->rootPath() +
                         " overlap and can't be merged together");
    }

    Slot parent = 0;
    std::string key;
    for (std::size_t k = 0; k + 1 < names->size(); ++k) {
      key += '/';
      key += (*names)[k];
      const auto found = folders.find(key);
      if (found != folders.end()) {
        parent = found->second;
      } else {
        parent = writer.createFolder(parent, (*names)[k]);
        folders.emplace(key, parent);
      }
    }
    writer.graft(*tree, DiskTree::root, parent, bytesOf(names->back()));
    placed.emplace_back(*names, tree->rootPath());
    start = start ? earlier(*start, tree->scanStart()) : tree->scanStart();
    seconds += tree->scanSeconds();
  }
  return {writer.build(), {r, start ? *start : Clock::now(), seconds}};
}

Result fill(const DiskTree& tree, const std::vector<DiskTreePtr>& subtrees) {
  std::vector<std::pair<NodeId, const DiskTree*>> places;
  std::int64_t nodes = nodesOf(tree);
  std::size_t nameBytes = nameBytesOf(tree);
  Clock::time_point start = tree.scanStart();
  double seconds = tree.scanSeconds();
  for (const auto& subtree : subtrees) {
    if (!subtree) continue;
    const auto node = SnapshotPaths::node(subtree->rootPath(), tree);
    if (!node || *node == DiskTree::root) throw MergeError(notInside(subtree->rootPath(), tree.rootPath()));
    places.emplace_back(*node, subtree.get());
    nodes += nodesOf(*subtree);
    nameBytes += nameBytesOf(*subtree);
    start = earlier(start, subtree->scanStart());
    seconds += subtree->scanSeconds();
  }
  // A later tree for the same node replaces an earlier one: keep the last of each node.
  std::stable_sort(places.begin(), places.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::pair<NodeId, const DiskTree*>> unique;
  for (std::size_t k = 0; k < places.size(); ++k)
    if (k + 1 == places.size() || places[k + 1].first != places[k].first) unique.push_back(places[k]);

  Writer writer(nodes, nameBytes);
  writer.copy(tree, std::nullopt, [&](NodeId child, Slot parent) {
    if (unique.empty()) return false;
    const auto found = std::lower_bound(unique.begin(), unique.end(), child,
                                        [](const auto& place, NodeId id) { return place.first < id; });
    if (found == unique.end() || found->first != child) return false;
    writer.graft(*found->second, DiskTree::root, parent, tree.nameView(child));
    return true;
  });
  return {writer.build(), {tree.rootPath(), start, seconds}};
}

DiskTreePtr fillWithSubtreesOf(const DiskTree& fresh, const DiskTree& tree, NodeId node) {
  detail::NameIndex known;
  known.build(tree, tree.children(node));
  Writer writer(nodesOf(fresh) + nodesOf(tree), nameBytesOf(fresh) + nameBytesOf(tree));
  writer.copy(fresh, std::nullopt, [&](NodeId child, Slot parent) {
    if (parent != 0) return false;  // only the fresh root's own children are put back
    const std::int64_t k = known.find(fresh.nameView(child));
    if (k == detail::NameIndex::none) return false;
    // Taken once, so two fresh names that both match one child cannot copy it twice.
    known.take(k);
    writer.graft(tree, known.node(k), parent, fresh.nameView(child));
    return true;
  });
  const SnapshotFile::Info info{fresh.rootPath(), earlier(fresh.scanStart(), tree.scanStart()),
                                fresh.scanSeconds()};
  return SnapshotFile::inMemory(writer.build(), info);
}

}  // namespace tallyfox::SnapshotMerge
