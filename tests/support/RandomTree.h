#pragma once

#include <tallyfox/DiskTree.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace testsupport {

// A finished tree of `entries` random entries below a root at `rootPath`, built as a scan
// builds one: folders (some left empty) and files whose names come in every shape a disk
// holds: with and without an extension, dot files, upper-case extensions, names that are
// not UTF-8, a trailing dot. Sizes and modification times are random; a few sizes repeat so
// that ties occur.
tallyfox::DiskTreePtr randomTree(std::mt19937_64& random, std::size_t entries,
                                 const std::string& rootPath = "/random");

// Every node below `folder`, found the slow way: by climbing each node's parents.
std::vector<tallyfox::NodeId> nodesBelow(const tallyfox::DiskTree& tree, tallyfox::NodeId folder);

}  // namespace testsupport
