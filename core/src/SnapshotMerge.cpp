#include <tallyfox/SnapshotMerge.h>

#include "NameIndex.h"

#include <tallyfox/SnapshotPaths.h>
#include <tallyfox/TreeColumnsBuilder.h>
#include <tallyfox/Unicode.h>

#include <algorithm>
#include <cstring>
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
    const auto used = std::size_t(next_);
    if (used < builder_.length()) {
      builder_.parent.resize(used);
      builder_.size.resize(used);
      builder_.mtime.resize(used);
      builder_.entryCount.resize(used);
      builder_.flags.resize(used);
      builder_.nameStart.resize(used);
      builder_.nameLength.resize(used);
      builder_.present.resize(used);
    }
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

// Rescanning one folder of a large snapshot: what the builder would make of a copy of
// `tree` with `fresh` grafted at `node`, made directly. Both inputs are canonical already, so
// their children lists are sorted by size, and only the lists whose sizes the fresh scan
// changed (or that the copy rule reorders) need sorting again; a copy of every node through
// the builder, and its sort of every list, cost seconds on millions of entries. The rules
// are the copy's: files keep their size, folders add up what lies below them, ties keep the
// order the copy would have written, and only children that name their folder are walked.
class DirectReplace {
 public:
  DirectReplace(const DiskTree& tree, NodeId node, const DiskTree& fresh)
      : tree_(tree), fresh_(fresh), node_(node), offset_(std::uint32_t(tree.totalNodes())) {}

  TreeColumns run() {
    walkStoredOrder();
    if (!placed_) throw MergeError("node not found");
    addUp();
    return emit();
  }

 private:
  // A node of either input: ids of `tree` as they are, those of `fresh` after them.
  using Handle = std::uint32_t;

  bool isFresh(Handle h) const { return h >= offset_; }
  const DiskTree& source(Handle h) const { return isFresh(h) ? fresh_ : tree_; }
  NodeId id(Handle h) const { return NodeId(isFresh(h) ? h - offset_ : h); }
  Handle graftRoot() const { return offset_; }

  // The children the copy writes under `h`, in the order it writes them.
  template <typename Visit>
  void forEachCopied(Handle h, Visit&& visit) const {
    const DiskTree& from = source(h);
    const Handle base = isFresh(h) ? offset_ : 0;
    forEachChild(from, id(h), [&](NodeId child) {
      if (!isFresh(h) && child == node_)
        visit(graftRoot());
      else
        visit(base + Handle(child));
    });
  }

  // Breadth-first in stored order: every node the copy writes, each after its parent. Only
  // folders are entered, whatever a damaged file says a file holds.
  void walkStoredOrder() {
    const std::size_t handles = std::size_t(offset_) + std::size_t(fresh_.totalNodes());
    parentOf_.assign(handles, 0);
    walk_.reserve(handles);
    walk_.push_back(0);
    for (std::size_t head = 0; head < walk_.size(); ++head) {
      const Handle h = walk_[head];
      if (!isFolder(h)) continue;
      forEachCopied(h, [&](Handle child) {
        if (child == graftRoot()) placed_ = true;
        parentOf_[child] = h;
        walk_.push_back(child);
      });
    }
  }

  bool isFolder(Handle h) const {
    if (h == 0 || h == graftRoot()) return true;
    return source(h).flags(id(h)) & directory;
  }

  // Totals children first: the walk taken backwards.
  void addUp() {
    size_.assign(parentOf_.size(), 0);
    count_.assign(parentOf_.size(), 1);
    for (std::size_t k = walk_.size(); k-- > 1;) {
      const Handle x = walk_[k];
      if (!isFolder(x)) size_[x] += source(x).sizeOf(id(x));
      const Handle p = parentOf_[x];
      size_[p] += size_[x];
      count_[p] += count_[x];
    }
    // A folder's count leaves itself out, once its parent has it.
    for (const Handle h : walk_)
      if (isFolder(h)) --count_[h];
  }

  std::uint8_t flagsOf(Handle h) const {
    if (h == 0) return std::uint8_t(tree_.flags(DiskTree::root) | directory);
    if (h == graftRoot()) return std::uint8_t(fresh_.flags(DiskTree::root) | directory);
    return source(h).flags(id(h));
  }
  std::uint32_t mtimeOf(Handle h) const {
    if (h == 0) return tree_.mtime()[0];
    if (h == graftRoot()) return fresh_.mtime()[0];
    return source(h).mtime()[std::size_t(id(h))];
  }
  std::span<const std::uint8_t> nameOf(Handle h) const {
    if (h == 0) return {};
    if (h == graftRoot()) return tree_.nameView(node_);
    return source(h).nameView(id(h));
  }

  // Breadth-first over the lists sorted by the new totals, larger first, ties in copy order.
  TreeColumns emit() {
    const std::size_t m = walk_.size();
    TreeColumns out;
    out.parent.resize(m);
    out.size.resize(m);
    out.mtime.resize(m);
    out.entryCount.resize(m);
    out.flags.resize(m);
    out.childStart.resize(m);
    out.childCount.resize(m);
    out.nameOffset.resize(m + 1);
    std::size_t nameBytes = 0;
    for (const Handle h : walk_) nameBytes += nameOf(h).size();
    out.names.resize(nameBytes);

    std::vector<Handle>& order = walk_;  // rewritten in place: the walk reads only what it wrote
    std::vector<Handle> list;
    std::size_t tail = 1, position = 0;
    order[0] = 0;
    out.parent[0] = -1;
    for (std::size_t k = 0; k < tail; ++k) {
      const Handle h = order[k];
      list.clear();
      if (isFolder(h)) forEachCopied(h, [&](Handle child) { list.push_back(child); });
      auto larger = [&](Handle a, Handle b) { return size_[a] > size_[b]; };
      if (!std::is_sorted(list.begin(), list.end(), larger))
        std::stable_sort(list.begin(), list.end(), larger);
      out.childCount[k] = std::uint32_t(list.size());
      out.childStart[k] = list.empty() ? 0 : std::uint32_t(tail);
      for (const Handle child : list) {
        order[tail] = child;
        out.parent[tail] = std::int32_t(k);
        ++tail;
      }
      out.size[k] = size_[h];
      out.entryCount[k] = count_[h];
      out.mtime[k] = mtimeOf(h);
      out.flags[k] = flagsOf(h);
      const auto name = nameOf(h);
      out.nameOffset[k] =
          std::uint32_t(std::min<std::uint64_t>(position, std::numeric_limits<std::uint32_t>::max()));
      if (!name.empty()) std::memcpy(out.names.data() + position, name.data(), name.size());
      position += name.size();
    }
    out.nameOffset[m] =
        std::uint32_t(std::min<std::uint64_t>(position, std::numeric_limits<std::uint32_t>::max()));
    return out;
  }

  const DiskTree& tree_;
  const DiskTree& fresh_;
  NodeId node_;
  Handle offset_;
  bool placed_ = false;
  std::vector<Handle> walk_;
  std::vector<std::uint64_t> size_;
  std::vector<std::uint32_t> count_;
  std::vector<Handle> parentOf_;
};

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
  if (node == DiskTree::root) {
    Writer writer(nodesOf(fresh), nameBytesOf(fresh));
    writer.copy(fresh, std::nullopt, noHook);
    return {writer.build(), {tree.rootPath(), fresh.scanStart(), fresh.scanSeconds()}};
  }
  // Reporting success while the fresh scan went nowhere would lose it silently.
  return {DirectReplace(tree, node, fresh).run(),
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
