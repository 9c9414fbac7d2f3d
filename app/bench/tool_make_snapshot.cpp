// Writes a synthetic snapshot for timing the dump mode: tool_make_snapshot FILE NODES.
#include "SyntheticTree.h"

#include <tallyfox/SnapshotFile.h>

#include <chrono>
#include <cstdlib>
#include <iostream>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: tool_make_snapshot FILE NODES\n";
    return 2;
  }
  const auto nodes = std::size_t(std::strtoull(argv[2], nullptr, 10));
  const auto columns = tallyfox::bench::syntheticTree(nodes);
  tallyfox::SnapshotFile::Info info{"/home/bench", std::chrono::system_clock::now(), 1.0};
  tallyfox::SnapshotFile::write(columns, info, argv[1]);
  std::cout << columns.nodeCount() << " nodes written to " << argv[1] << "\n";
  return 0;
}
