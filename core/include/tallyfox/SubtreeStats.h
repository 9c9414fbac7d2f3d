#pragma once

#include <tallyfox/DiskTree.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Answers about everything below one folder of a snapshot: its largest files and the space
// each kind of file takes. Each is one pass over the folder's subtree, reading the tree's
// columns in place: nothing is allocated per node, so a root of tens of millions of entries
// is answered in well under a second. Pure functions of an immutable tree, safe from any
// thread.
namespace tallyfox::SubtreeStats {

// Calls visit(NodeRange) for each level of the subtree below `folder`, top down. In a
// breadth-first tree the descendants of a folder at one depth are contiguous, and every level
// lies after the one above, so the walk needs no stack. The next level's start is kept past
// the end of the current one, so a damaged tree cannot make it visit a node twice.
template <class Visit>
void forEachLevelBelow(const DiskTree& tree, NodeId folder, Visit&& visit) {
  if (!tree.contains(folder)) return;
  if (folder == DiskTree::root) {
    // Every other node is below the root: one range, no child ranges to read.
    if (tree.totalNodes() > 1) visit(NodeRange{1, NodeId(tree.totalNodes())});
    return;
  }
  NodeRange level = tree.children(folder);
  while (!level.empty()) {
    visit(level);
    NodeId first = NodeId(tree.totalNodes()), last = level.last;
    bool any = false;
    for (NodeId id : level) {
      const NodeRange kids = tree.children(id);
      if (kids.empty()) continue;
      if (!any) first = std::max(kids.first, level.last);
      any = true;
      last = std::max(last, kids.last);
    }
    if (!any || first >= last) return;
    level = NodeRange{first, last};
  }
}

// A file is any entry that is not a folder: links and other special files count with the
// bytes they hold, as in the list.
inline bool isFile(std::uint8_t flags) {
  return (flags & EntryFlags::directory) == 0;
}

// The `limit` largest files anywhere below `folder`, largest first; equal sizes in id order,
// so the answer is the same on every run. One pass with a heap of `limit` entries. Returns
// what it has when `stop` becomes true.
std::vector<NodeId> largestFiles(const DiskTree& tree, NodeId folder, std::size_t limit,
                                 const std::atomic<bool>* stop = nullptr);

// The kinds of file the types view groups extensions into, in the order shown for equal
// totals.
enum class Category : std::uint8_t { video, images, audio, archives, documents, code, packages, other };
inline constexpr std::size_t categoryCount = 8;
// "Video", "Images", "Audio", "Archives and disk images", "Documents", "Code", "Packages and
// libraries", "Other".
std::string_view categoryName(Category category);
// The short lower-case word used in tfscan's output and in JSON: "video", "images", ...
std::string_view categoryKey(Category category);

// A file name's extension, lower-cased (ASCII only; other bytes as they are): what follows
// the last dot, passing over trailing version numbers ("libssl.so.3" is "so", "photo.2024"
// stays "2024"). None ("") for a name without a dot, a dot file (".bashrc"), a name ending in
// a dot, or an "extension" too long to be one (over 16 bytes, as in "notes.2024-final-draft").
std::string extensionOf(std::span<const std::uint8_t> name);
// The category of a lower-cased extension; "" and unknown ones are Other.
Category categoryOf(std::string_view extension);

struct TypeTotal {
  std::string extension;  // lower-cased bytes; "" for files without one
  std::uint64_t bytes = 0;
  std::uint64_t files = 0;
  bool operator==(const TypeTotal&) const = default;
};

struct CategoryTotal {
  Category category = Category::other;
  std::uint64_t bytes = 0;
  std::uint64_t files = 0;
  // Largest first; equal sizes by extension.
  std::vector<TypeTotal> types;
  bool operator==(const CategoryTotal&) const = default;
};

struct FileTypes {
  std::uint64_t bytes = 0;
  std::uint64_t files = 0;
  // Largest first, equal sizes in the enumeration's order; categories without files are left
  // out.
  std::vector<CategoryTotal> categories;
  bool operator==(const FileTypes&) const = default;
};

// One kind of file: a whole category, or one extension of it.
struct TypeChoice {
  Category category = Category::other;
  std::optional<std::string> extension;
  bool operator==(const TypeChoice&) const = default;
};
// Whether a file of this name is of the chosen kind.
bool isOfType(std::span<const std::uint8_t> name, const TypeChoice& choice);

// What the files that pass a test add up to, for `folder` and every node below it (for a
// file, itself): their bytes and how many they are. Indexed by node id; 0 outside the
// subtree. The count tells a folder of matching empty files from one without any.
struct Matching {
  std::vector<std::uint64_t> bytes;
  std::vector<std::uint32_t> files;
  std::uint64_t bytesOf(NodeId id) const {
    return id >= 0 && std::size_t(id) < bytes.size() ? bytes[std::size_t(id)] : 0;
  }
  std::uint32_t filesOf(NodeId id) const {
    return id >= 0 && std::size_t(id) < files.size() ? files[std::size_t(id)] : 0;
  }
};

// The files below `folder` that matches(id) accepts, summed bottom-up level by level: two
// columns for the whole answer, nothing per node. Empty when `stop` became true.
template <class Match>
Matching matching(const DiskTree& tree, NodeId folder, Match&& matches,
                  const std::atomic<bool>* stop = nullptr) {
  if (!tree.contains(folder)) return {};
  Matching result;
  result.bytes.assign(std::size_t(tree.totalNodes()), 0);
  result.files.assign(std::size_t(tree.totalNodes()), 0);
  std::vector<NodeRange> levels;
  forEachLevelBelow(tree, folder, [&](NodeRange level) { levels.push_back(level); });
  const auto sizes = tree.size();
  const auto flags = tree.flagsColumn();
  for (const NodeRange& level : levels) {
    if (stop && stop->load(std::memory_order_relaxed)) return {};
    for (NodeId id = level.first; id < level.last; ++id)
      if (isFile(flags[id]) && matches(id)) {
        result.bytes[std::size_t(id)] = sizes[id];
        result.files[std::size_t(id)] = 1;
      }
  }
  // Deepest level first, and within a level (the root's whole tree is one range) from the
  // last id down: children come after their folder, so each folder is complete before it is
  // added to its parent.
  for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
    if (stop && stop->load(std::memory_order_relaxed)) return {};
    for (NodeId id = level->last; id-- > level->first;) {
      const NodeId parent = tree.parentOf(id);
      if (parent < 0 || !result.files[std::size_t(id)]) continue;
      result.bytes[std::size_t(parent)] += result.bytes[std::size_t(id)];
      result.files[std::size_t(parent)] += result.files[std::size_t(id)];
    }
  }
  return result;
}

// Bytes and files per extension below `folder`, grouped by category. Returns what it has
// counted when `stop` becomes true.
FileTypes fileTypes(const DiskTree& tree, NodeId folder, const std::atomic<bool>* stop = nullptr);

}  // namespace tallyfox::SubtreeStats
