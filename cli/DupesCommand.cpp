#include "Commands.h"

#include <tallyfox/ByteFormat.h>
#include <tallyfox/CloneReplacer.h>
#include <tallyfox/DuplicateFinder.h>
#include <tallyfox/FileChangedError.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotPaths.h>

#include <unistd.h>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

namespace tfscan {

namespace {

using tallyfox::DuplicateFinder;
using tallyfox::SnapshotDump::terminalSafe;

// 1234567 → "1,234,567".
std::string grouped(std::int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  std::string text;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) text += ',';
    text += digits[k];
  }
  return value < 0 ? "-" + text : text;
}

// Runs the search on a worker thread; while it runs, the phase and counts are redrawn on
// one line of a terminal at the pace the app's window polls them.
std::vector<DuplicateFinder::Group> findWithProgress(DuplicateFinder& finder) {
  std::vector<DuplicateFinder::Group> groups;
  std::exception_ptr error;
  std::mutex lock;
  std::condition_variable changed;
  bool finished = false;
  std::thread worker([&] {
    try {
      groups = finder.run();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard guard(lock);
    finished = true;
    changed.notify_all();
  });
  const bool showProgress = ::isatty(STDERR_FILENO) == 1;
  {
    std::unique_lock guard(lock);
    while (!changed.wait_for(guard, std::chrono::milliseconds(150), [&] { return finished; })) {
      if (!showProgress) continue;
      const auto progress = finder.progress();
      std::cerr << "\r\033[K" << progress.phase << "\u2026 " << grouped(progress.done) << " of "
                << grouped(progress.total) << std::flush;
    }
  }
  worker.join();
  if (showProgress) std::cerr << "\r\033[K" << std::flush;
  if (error) std::rethrow_exception(error);
  return groups;
}

void printGroups(const std::vector<DuplicateFinder::Group>& groups) {
  std::uint64_t total = 0;
  for (const auto& group : groups) {
    total += group.savings();
    std::cout << group.paths.size() << " \u00d7 " << tallyfox::formatFileBytes(group.length) << " \u00b7 "
              << tallyfox::formatFileBytes(group.savings()) << " to free\n";
    for (std::size_t k = 0; k < group.paths.size(); ++k)
      std::cout << (k == 0 ? "  keep   " : "  clone  ") << terminalSafe(group.paths[k]) << "\n";
  }
  if (groups.empty()) {
    std::cout << "No duplicates\n";
    return;
  }
  std::cout << groups.size() << (groups.size() == 1 ? " group · " : " groups · ")
            << tallyfox::formatFileBytes(total) << " could be shared as clones\n";
}

bool confirmed(std::size_t copies) {
  std::cerr << "Replace " << copies << " copies by clones? [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    std::cerr << "\n";
    return false;
  }
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

// Replaces every extra copy; returns false when any copy failed.
bool replaceCopies(const std::vector<DuplicateFinder::Group>& groups) {
  const auto logFolder = tallyfox::SnapshotsFolder::ofUser(tallyfox::Preferences::standard());
  std::uint64_t freed = 0;
  std::size_t replaced = 0;
  bool allWell = true;
  for (const auto& group : groups) {
    const std::string& keeper = group.paths.front();
    for (std::size_t k = 1; k < group.paths.size(); ++k) {
      const std::string& path = group.paths[k];
      // The full path: several copies in a run often share one file name.
      std::cout << terminalSafe(path) << ": ";
      try {
        const auto outcome = tallyfox::CloneReplacer::replace(path, keeper, true);
        if (outcome.kind == tallyfox::CloneReplacer::Outcome::Kind::alreadyShared) {
          std::cout << "already shared\n";
        } else {
          tallyfox::CloneLog::record(logFolder, keeper, path, outcome.bytesFreed);
          freed += outcome.bytesFreed;
          ++replaced;
          std::cout << tallyfox::formatFileBytes(outcome.bytesFreed) << " freed\n";
        }
      } catch (const tallyfox::CloneReplacer::Failure& failure) {
        allWell = false;
        std::cout << terminalSafe(failure.message()) << "\n";
      }
      std::cout << std::flush;
    }
  }
  std::cout << replaced << (replaced == 1 ? " copy" : " copies") << " replaced \u00b7 "
            << tallyfox::formatFileBytes(freed) << " freed\n";
  return allWell;
}

}  // namespace

int runDupes(const DupesArgs& args) {
  tallyfox::DiskTreePtr tree;
  try {
    tree = tallyfox::SnapshotDump::open(args.file);
  } catch (const tallyfox::FileChangedError&) {
    printChanged(args.file);
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "tfscan: " << terminalSafe(e.what()) << "\n";
    return 1;
  }
  if (reportDamage(*tree, args.file)) return 1;

  tallyfox::NodeId base = tallyfox::DiskTree::root;
  if (args.path) {
    std::string wanted = *args.path;
    if (!wanted.empty() && wanted.front() != '/' && wanted.front() != '~') {
      std::error_code ignored;
      wanted = (std::filesystem::current_path(ignored) / wanted).string();
    }
    const auto node = tallyfox::SnapshotPaths::node(wanted, *tree);
    if (!node) {
      std::cerr << "tfscan: " << terminalSafe(*args.path) << " is not in the snapshot of "
                << terminalSafe(tree->rootPath()) << "\n";
      return 1;
    }
    if (!tree->isDirectory(*node)) {
      std::cerr << "tfscan: " << terminalSafe(*args.path) << " is not a folder\n";
      return 1;
    }
    base = *node;
  }

  DuplicateFinder::Options options;
  options.minimumSize = 65536;
  options.excludeSyncFolders = true;
  options.excludeCodeBundles = false;
  options.threads = 4;
  DuplicateFinder finder(tree, base, options);
  std::vector<DuplicateFinder::Group> groups;
  try {
    groups = findWithProgress(finder);
  } catch (const std::exception& e) {
    std::cerr << "tfscan: " << terminalSafe(e.what()) << "\n";
    return 1;
  }
  // The groups' paths came from the tree: after a change they may name other files.
  if (reportChange(*tree, args.file)) return 1;
  printGroups(groups);
  if (!args.replace || groups.empty()) return 0;

  std::size_t copies = 0;
  for (const auto& group : groups) copies += group.paths.size() - 1;
  if (!args.yes) {
    if (::isatty(STDIN_FILENO) != 1) {
      std::cerr << "tfscan: not replacing without confirmation; add --yes to replace without asking\n";
      return 1;
    }
    if (!confirmed(copies)) {
      std::cout << "Nothing replaced\n";
      return 0;
    }
  }
  return replaceCopies(groups) ? 0 : 1;
}

}  // namespace tfscan
