#include "Commands.h"

#include <tallyfox/FileChangedError.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotPaths.h>

#include <exception>
#include <filesystem>
#include <iostream>

namespace tfscan {

using tallyfox::SnapshotDump::terminalSafe;

std::optional<SnapshotFolder> openFolder(const std::string& file, const std::optional<std::string>& path) {
  SnapshotFolder opened;
  try {
    opened.tree = tallyfox::SnapshotDump::open(file);
  } catch (const tallyfox::FileChangedError&) {
    printChanged(file);
    return std::nullopt;
  } catch (const std::exception& e) {
    std::cerr << "tfscan: " << terminalSafe(e.what()) << "\n";
    return std::nullopt;
  }
  const tallyfox::DiskTree& tree = *opened.tree;
  if (reportDamage(tree, file)) return std::nullopt;
  if (!path) return opened;

  std::string wanted = *path;
  if (!wanted.empty() && wanted.front() != '/' && wanted.front() != '~') {
    std::error_code ignored;
    wanted = (std::filesystem::current_path(ignored) / wanted).string();
  }
  const auto node = tallyfox::SnapshotPaths::node(wanted, tree);
  if (!node) {
    std::cerr << "tfscan: " << terminalSafe(*path) << " is not in the snapshot of "
              << terminalSafe(tree.rootPath()) << "\n";
    return std::nullopt;
  }
  if (!tree.isDirectory(*node)) {
    std::cerr << "tfscan: " << terminalSafe(*path) << " is not a folder\n";
    return std::nullopt;
  }
  opened.folder = *node;
  return opened;
}

}  // namespace tfscan
