// Times the answers of the largest-files and file-types views, and of the filter's age (the
// old files below every folder), over a snapshot's root, as a window gets them: from the
// mapped file to the first complete answer.
//   tool_subtree_stats FILE
// app/bench/tool_make_snapshot writes a snapshot of any size to try it on.
#include <tallyfox/SnapshotFile.h>
#include <tallyfox/SubtreeStats.h>

#include <chrono>
#include <iostream>

int main(int argc, char** argv) {
  using namespace tallyfox;
  using Clock = std::chrono::steady_clock;
  if (argc != 2) {
    std::cerr << "usage: tool_subtree_stats FILE\n";
    return 2;
  }
  const auto milliseconds = [](Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
  };
  const DiskTreePtr tree = SnapshotFile::map(argv[1]);
  std::cout << "entries " << tree->nodeCount() << "\n";
  for (int round = 1; round <= 2; ++round) {
    auto start = Clock::now();
    const auto largest = SubtreeStats::largestFiles(*tree, DiskTree::root, 1000);
    std::cout << "round " << round << " largest files: " << milliseconds(start) << " ms (" << largest.size()
              << " files)\n";
    start = Clock::now();
    const auto types = SubtreeStats::fileTypes(*tree, DiskTree::root);
    std::cout << "round " << round << " file types: " << milliseconds(start) << " ms (" << types.files
              << " files)\n";
    // Files not modified in the year before the scan, as the age filter finds them.
    const auto cut =
        std::chrono::duration_cast<std::chrono::seconds>(tree->scanStart().time_since_epoch()).count() -
        365 * 24 * 3600;
    const auto mtimes = tree->mtime();
    start = Clock::now();
    const auto old = SubtreeStats::matching(
        *tree, DiskTree::root, [&](NodeId id) { return std::int64_t(mtimes[std::size_t(id)]) < cut; });
    std::cout << "round " << round << " age filter: " << milliseconds(start) << " ms (" << old.filesOf(0)
              << " old files)\n";
  }
  return 0;
}
