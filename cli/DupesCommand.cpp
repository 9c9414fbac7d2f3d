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

// Whether each group's file system can share storage: where it cannot, the copies can only
// be deleted, and saying they could be shared would promise what --replace cannot do.
std::vector<bool> sharingOf(const std::vector<DuplicateFinder::Group>& groups) {
  std::vector<bool> sharing;
  for (const auto& group : groups)
    sharing.push_back(tallyfox::CloneReplacer::canShareStorage(group.paths.front()));
  return sharing;
}

std::string copiesText(std::size_t copies) {
  return grouped(std::int64_t(copies)) + (copies == 1 ? " extra copy" : " extra copies");
}

void printGroups(const std::vector<DuplicateFinder::Group>& groups, const std::vector<bool>& sharing) {
  std::uint64_t shareable = 0, deletable = 0;
  std::size_t unshareableCopies = 0;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const auto& group = groups[g];
    if (sharing[g]) {
      shareable += group.savings();
    } else {
      deletable += group.savings();
      unshareableCopies += group.paths.size() - 1;
    }
    std::cout << group.paths.size() << " \u00d7 " << tallyfox::formatFileBytes(group.length) << " \u00b7 "
              << tallyfox::formatFileBytes(group.savings()) << " to free\n";
    for (std::size_t k = 0; k < group.paths.size(); ++k)
      std::cout << (k == 0 ? "  keep   " : "  clone  ") << terminalSafe(group.paths[k]) << "\n";
  }
  if (groups.empty()) {
    std::cout << "No duplicates\n";
    return;
  }
  std::cout << groups.size() << (groups.size() == 1 ? " group" : " groups");
  if (unshareableCopies == 0) {
    std::cout << " \u00b7 " << tallyfox::formatFileBytes(shareable) << " could be shared as clones\n";
    return;
  }
  if (shareable > 0)
    std::cout << " \u00b7 " << tallyfox::formatFileBytes(shareable) << " could be shared as clones";
  std::cout << " \u00b7 deleting the " << copiesText(unshareableCopies)
            << (shareable > 0 ? " on file systems that can't share storage" : "") << " would free "
            << tallyfox::formatFileBytes(deletable) << "\n";
  if (shareable == 0)
    std::cout << "This file system can't share storage between files, so they can't become clones.\n";
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

void logFailed(const std::filesystem::path& folder, const std::string& why) {
  std::cerr << "tfscan: cannot write the clone log " << terminalSafe(tallyfox::CloneLog::url(folder).string())
            << ": " << terminalSafe(why) << "\n";
}

// Replaces every extra copy of the groups that can share storage; returns false when any
// copy failed or was skipped. Every replacement is logged: a log that cannot be written
// stops the run.
bool replaceCopies(const std::vector<DuplicateFinder::Group>& groups, const std::vector<bool>& sharing,
                   const std::string& searched, const std::filesystem::path& logFolder) {
  std::uint64_t freed = 0;
  std::size_t replaced = 0;
  bool allWell = true;
  bool logWorks = true;
  for (std::size_t g = 0; g < groups.size() && logWorks; ++g) {
    const auto& group = groups[g];
    const std::string& keeper = group.paths.front();
    // Set when a folder of the group is no longer the one searched: the other copies may lie
    // below it too.
    std::string skipReason = sharing[g] ? std::string() : tallyfox::CloneReplacer::cannotShareMessage;
    for (std::size_t k = 1; k < group.paths.size(); ++k) {
      const std::string& path = group.paths[k];
      // The full path: several copies in a run often share one file name.
      std::cout << terminalSafe(path) << ": ";
      if (!skipReason.empty()) {
        allWell = false;
        std::cout << "skipped, " << terminalSafe(skipReason) << "\n" << std::flush;
        continue;
      }
      try {
        const auto outcome = tallyfox::CloneReplacer::replace(path, keeper, true, searched);
        if (outcome.kind == tallyfox::CloneReplacer::Outcome::Kind::alreadyShared) {
          std::cout << "already shared\n";
        } else {
          freed += outcome.bytesFreed;
          ++replaced;
          std::cout << tallyfox::formatFileBytes(outcome.bytesFreed) << " freed\n" << std::flush;
          if (const auto why = tallyfox::CloneLog::record(logFolder, keeper, path, outcome.bytesFreed)) {
            logFailed(logFolder, *why);
            allWell = logWorks = false;
            break;
          }
        }
      } catch (const tallyfox::CloneReplacer::Failure& failure) {
        allWell = false;
        std::cout << terminalSafe(failure.message()) << "\n";
        if (failure.kind() == tallyfox::CloneReplacer::Failure::Kind::folderChanged)
          skipReason = "a folder of this group changed since the search";
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
  const auto opened = openFolder(args.file, args.path);
  if (!opened) return 1;
  const tallyfox::DiskTreePtr& tree = opened->tree;
  const tallyfox::NodeId base = opened->folder;

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
  const std::vector<bool> sharing = sharingOf(groups);
  printGroups(groups, sharing);
  if (!args.replace || groups.empty()) return 0;

  std::size_t copies = 0;
  for (std::size_t g = 0; g < groups.size(); ++g)
    if (sharing[g]) copies += groups[g].paths.size() - 1;
  if (copies == 0) {
    std::cerr << "tfscan: " << tallyfox::CloneReplacer::cannotShareMessage
              << "; nothing replaced. Delete the extra copies instead\n";
    return 1;
  }
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
  const auto logFolder = tallyfox::SnapshotsFolder::ofUser(userPreferences());
  // Checked before the first replacement, so that none goes unrecorded.
  if (const auto why = tallyfox::CloneLog::check(logFolder)) {
    logFailed(logFolder, *why);
    std::cerr << "tfscan: nothing replaced\n";
    return 1;
  }
  // Found groups lie below a searched path.
  return replaceCopies(groups, sharing, finder.searchedPath().value_or("/"), logFolder) ? 0 : 1;
}

}  // namespace tfscan
