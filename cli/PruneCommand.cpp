#include "Commands.h"

#include <tallyfox/IsoTime.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/ScheduledSnapshots.h>
#include <tallyfox/SnapshotDump.h>

#include <cstdlib>
#include <iostream>
#include <system_error>

namespace tfscan {

using tallyfox::SnapshotDump::terminalSafe;

std::optional<std::chrono::system_clock::time_point> timelineNow() {
  const char* text = std::getenv(clockVariable);
  if (!text) return std::chrono::system_clock::now();
  if (const auto when = tallyfox::IsoTime::parse(text)) return when;
  writeError(std::string("tfscan: ") + clockVariable +
             " is not an ISO 8601 moment such as 2025-06-18T12:00:00Z: " + text);
  return std::nullopt;
}

std::vector<std::string> prunedLines(const tallyfox::ScheduledSnapshots::Pruned& pruned, bool dryRun) {
  std::vector<std::string> lines;
  for (const auto& file : pruned.removed)
    lines.push_back((dryRun ? "would remove " : "removed ") + file.string());
  for (const auto& file : pruned.open) lines.push_back("kept, open in a window: " + file.string());
  for (const auto& [file, why] : pruned.leftAlone)
    lines.push_back("left alone, " + why + ": " + file.string());
  return lines;
}

int runPrune(bool dryRun) {
  const auto now = timelineNow();
  if (!now) return 2;
  const auto folder = tallyfox::SnapshotsFolder::ofUser(userPreferences());
  tallyfox::ScheduledSnapshots::Pruned pruned;
  try {
    pruned = tallyfox::ScheduledSnapshots::prune(folder, *now, dryRun);
  } catch (const std::system_error& e) {
    std::cerr << "tfscan: cannot prune " << terminalSafe(folder.string()) << ": " << e.code().message()
              << "\n";
    return 1;
  }
  if (pruned.damage) {
    std::cerr << "tfscan: nothing pruned: "
              << terminalSafe((folder / tallyfox::ScheduledSnapshots::indexName).string()) << " is damaged ("
              << terminalSafe(*pruned.damage) << "); the next scheduled scan sets it aside and begins anew\n";
    return 1;
  }
  const auto lines = prunedLines(pruned, dryRun);
  for (const std::string& line : lines) std::cout << terminalSafe(line) << "\n";
  if (lines.empty()) std::cout << "Nothing to prune in " << terminalSafe(folder.string()) << ".\n";
  return 0;
}

}  // namespace tfscan
