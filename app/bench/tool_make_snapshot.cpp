// Writes a synthetic snapshot for timing the dump mode, rescans and very large trees:
//   tool_make_snapshot [--huge N] [--grow-every K] FILE NODES [FOLDER]
// With a FOLDER, that folder is scanned for real and merged in beside the synthetic tree
// under their common folder, so that a window can rescan it as it would a part of "/".
// --huge puts N files into one folder below the root ("huge"), the widest folder a window
// lists; --grow-every doubles every K-th file, the same tree a while later, for --diff.
#include "SyntheticTree.h"

#include <tallyfox/Scanner.h>
#include <tallyfox/SnapshotBuilderSink.h>
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SnapshotMerge.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

namespace {

// The longest run of leading components two absolute paths share.
std::string commonFolder(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::filesystem::path common = "/";
  for (auto i = a.begin(), j = b.begin(); i != a.end() && j != b.end() && *i == *j; ++i, ++j)
    if (*i != "/") common /= *i;
  return common.string();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tallyfox;
  std::size_t huge = 0, growEvery = 0;
  while (argc > 2 && (std::string(argv[1]) == "--huge" || std::string(argv[1]) == "--grow-every")) {
    (std::string(argv[1]) == "--huge" ? huge : growEvery) = std::size_t(std::strtoull(argv[2], nullptr, 10));
    argc -= 2;
    argv += 2;
  }
  if (argc != 3 && argc != 4) {
    std::cerr << "usage: tool_make_snapshot [--huge N] [--grow-every K] FILE NODES [FOLDER]\n";
    return 2;
  }
  const auto nodes = std::size_t(std::strtoull(argv[2], nullptr, 10));
  const auto columns = bench::syntheticTree(nodes, huge, 42, growEvery);
  const auto now = std::chrono::system_clock::now();
  SnapshotFile::Info info{"/home/bench", now, 1.0};
  if (argc == 3) {
    SnapshotFile::write(columns, info, argv[1]);
    std::cout << columns.nodeCount() << " nodes written to " << argv[1] << "\n";
    return 0;
  }
  const std::string folder = std::filesystem::absolute(argv[3]).lexically_normal().string();
  auto sink = std::make_shared<SnapshotBuilderSink>();
  Scanner scanner(folder, ScanOptions(std::nullopt, /*oneFileSystem=*/true), sink);
  const ScanStats stats = scanner.run();
  const DiskTreePtr real = SnapshotFile::inMemory(sink->finish(), {folder, now, stats.seconds});
  const DiskTreePtr synthetic = SnapshotFile::inMemory(TreeColumns(columns), info);
  const SnapshotMerge::Result merged =
      SnapshotMerge::merge({synthetic, real}, commonFolder(info.rootPath, folder));
  SnapshotFile::write(merged.columns, merged.info, argv[1]);
  std::cout << merged.columns.nodeCount() << " nodes, " << folder << " among them, written to " << argv[1]
            << "\n";
  return 0;
}
