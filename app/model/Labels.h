#pragma once

#include <tallyfox/DiskTree.h>

#include <QString>

namespace tallyfox::Labels {

// What the root of a snapshot is called on screen: the scanned folder's display name, or
// "All roots" for a snapshot that joins several.
QString root(const DiskTree& tree);
// The root's label for the root, the entry's name for every other node.
QString node(const DiskTree& tree, NodeId node);

}  // namespace tallyfox::Labels
