#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/TreeColumns.h>

#include <optional>
#include <string>
#include <string_view>

namespace tallyfox {

// The checks that keep a tree from outside (an ncdu or gdu export, a vok file, a snapshot
// file that was damaged or made by hand) from naming places other than its entries. A scan
// records only names the kernel listed, so it never fails them; a name that does was made
// up, and a path built from it would lead out of its folder ("..", "a/b"), to the folder
// itself ("", "."), or to a shorter name (a NUL ends a name in every system call).
namespace EntryNames {

// A name of one entry of its folder: not empty, not "." or "..", without "/" and NUL.
bool isEntryName(std::string_view name);
// A name a child of the root may have: an entry name, or else a whole plain path
// ("/home/ann"), as in a tree that joins several roots under none.
bool isTopLevelName(std::string_view name);
// An absolute path that leads where its components say: each component after the leading
// "/" is an entry name, so none is empty, "." or "..". "/" itself is one.
bool isPlainPath(std::string_view path);
// Whether the node's file path leads to the node: every name from the root down is one its
// folder can list, and the path they make with the root's is plain. A name "a/b" makes a
// plain path, but one to another entry. Whatever acts on a path built from a tree asks this
// first.
bool hasPlainPath(const DiskTree& tree, NodeId id);

// The first folder of the columns (as a builder makes them: each folder's children
// contiguous) that holds two entries of one name, and that name. A scan lists each name of
// a folder once; two entries of one name would be one file counted twice.
struct Repeated {
  NodeId folder;
  std::string name;
};
std::optional<Repeated> firstRepeated(const TreeColumns& columns);

// The path of a node of such columns below `rootPath`, for messages; relative to the tree's
// top when `rootPath` is empty.
std::string pathIn(const TreeColumns& columns, const std::string& rootPath, NodeId id);

// A name or path for a message: in quotes, invalid UTF-8 repaired, and a long one cut in
// the middle, so that a made-up name cannot make the message huge.
std::string quoted(std::string_view text);

}  // namespace EntryNames
}  // namespace tallyfox
