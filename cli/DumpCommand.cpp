#include "Commands.h"

#include <tallyfox/FileChangedError.h>
#include <tallyfox/JsonValues.h>
#include <tallyfox/SnapshotDump.h>

#include <chrono>
#include <exception>
#include <iostream>

namespace tfscan {

namespace {

// The summary's facts, exact: every byte count, the root, and the largest entries of the
// root (all of them, where the text shows eight).
nlohmann::json summaryJson(const tallyfox::DiskTree& tree, double readSeconds) {
  nlohmann::json children = nlohmann::json::array();
  for (const tallyfox::NodeId child : tree.children(tallyfox::DiskTree::root))
    children.push_back({{"path", tallyfox::detail::pathToJson(tree.filePath(child))},
                        {"bytes", tree.sizeOf(child)},
                        {"entries", tree.entryCount()[std::size_t(child)]},
                        {"folder", tree.isDirectory(child)}});
  return {{"entries", tree.nodeCount()},
          {"bytes", tree.sizeOf(tallyfox::DiskTree::root)},
          {"errors", tree.errorCount()},
          {"readSeconds", readSeconds},
          {"root", tallyfox::detail::pathToJson(tree.rootPath())},
          {"scanStart", tallyfox::detail::timeToJson(tree.scanStart())},
          {"scanSeconds", tree.scanSeconds()},
          {"children", children}};
}

}  // namespace

int runDump(const std::string& file, bool json) {
  const auto start = std::chrono::steady_clock::now();
  try {
    const auto tree = tallyfox::SnapshotDump::open(file);
    if (reportDamage(*tree, file)) return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (json) {
      const nlohmann::json summary = summaryJson(*tree, seconds);
      if (reportChange(*tree, file)) return 1;
      printJson(summary);
      return 0;
    }
    const std::string summary = tallyfox::SnapshotDump::summary(*tree, seconds);
    if (reportChange(*tree, file)) return 1;
    std::cout << summary;
    return 0;
  } catch (const tallyfox::FileChangedError&) {
    printChanged(file);
    return 1;
  } catch (const std::exception& e) {
    std::cerr << tallyfox::SnapshotDump::terminalSafe(e.what()) << "\n";
    return 1;
  }
}

}  // namespace tfscan
