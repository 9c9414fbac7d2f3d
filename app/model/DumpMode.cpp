#include "model/DumpMode.h"

#include "model/SunburstLayout.h"

#include <tallyfox/FileChangedError.h>
#include <tallyfox/SnapshotDump.h>

#include <chrono>
#include <cmath>
#include <exception>
#include <sstream>
#include <string_view>
#include <vector>

namespace tallyfox::DumpMode {

std::optional<std::filesystem::path> requestedFile(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string_view(argv[i]) == "--dump") {
      if (i + 1 < argc) return std::filesystem::path(argv[i + 1]);
      return std::nullopt;
    }
  return std::nullopt;
}

int run(const std::filesystem::path& file, std::ostream& out, std::ostream& err) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  DiskTreePtr tree;
  try {
    tree = SnapshotDump::open(file);
  } catch (const std::exception& e) {
    err << SnapshotDump::terminalSafe(e.what()) << "\n";
    return 1;
  }
  // Printed once all is read, and only when the file did not change meanwhile.
  std::ostringstream report;
  report << SnapshotDump::summary(*tree, std::chrono::duration<double>(Clock::now() - start).count());

  std::vector<NodeId> centers;
  for (NodeId child : tree->children(DiskTree::root)) {
    if (centers.size() == 4) break;
    centers.push_back(child);
  }
  centers.push_back(DiskTree::root);
  for (NodeId center : centers) {
    const auto began = Clock::now();
    const SunburstLayout layout(*tree, center, SizeOverlay::empty());
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
    report << "layout " << SnapshotDump::terminalSafe(tree->name(center)) << ": " << layout.segments.size()
           << " segments in " << std::llround(ms) << "ms\n";
  }
  try {
    tree->expectUnchanged();
  } catch (const FileChangedError& e) {
    err << SnapshotDump::terminalSafe(e.what()) << "\n";
    return 1;
  }
  out << report.str();
  out.flush();
  return 0;
}

}  // namespace tallyfox::DumpMode
