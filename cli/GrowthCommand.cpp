#include "Commands.h"

#include <tallyfox/ByteFormat.h>
#include <tallyfox/GrowthReport.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotDiff.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotHistory.h>
#include <tallyfox/SnapshotPaths.h>

#include <algorithm>
#include <exception>
#include <iostream>
#include <sstream>

namespace tfscan {

namespace {

using tallyfox::SnapshotDump::terminalSafe;
namespace fs = std::filesystem;

struct Opened {
  std::string file;
  tallyfox::DiskTreePtr tree;
};

std::string signedBytes(std::int64_t delta) {
  const std::string magnitude =
      tallyfox::formatFileBytes(delta < 0 ? 0 - std::uint64_t(delta) : std::uint64_t(delta));
  return (delta < 0 ? minusSign : "+") + magnitude;
}

void report(const Opened& older, const Opened& newer, const std::string& place, const GrowthArgs& args,
            std::uint64_t threshold, std::ostream& out) {
  const auto diff = tallyfox::SnapshotDiff::make(older.tree, newer.tree, place);
  const std::string shown = place.empty() ? "/" : place;
  out << "Growth in " << terminalSafe(shown) << " between " << localTime(older.tree->scanStart()) << " and "
      << localTime(newer.tree->scanStart());
  if (!diff) {
    out << ": not in both snapshots\n";
    return;
  }
  const auto top = diff->root();
  out << " (" << signedBytes(top.delta()) << " in all), folders that grew by more than "
      << tallyfox::formatFileBytes(threshold) << ":\n";
  const auto folders =
      tallyfox::GrowthReport::grownFolders(*diff, threshold, std::size_t(std::max(args.limit, 0)));
  if (folders.empty()) {
    out << "  None.\n";
    return;
  }
  std::vector<std::string> changes, sizes;
  std::size_t changeWidth = 0, sizesWidth = 0;
  for (const auto& f : folders) {
    changes.push_back(signedBytes(f.grew()));
    sizes.push_back(tallyfox::formatFileBytes(f.oldBytes) + changeArrow +
                    tallyfox::formatFileBytes(f.newBytes));
    changeWidth = std::max(changeWidth, width(changes.back()));
    sizesWidth = std::max(sizesWidth, width(sizes.back()));
  }
  for (std::size_t k = 0; k < folders.size(); ++k)
    out << "  " << padLeft(changes[k], changeWidth) << "  " << padRight(sizes[k], sizesWidth) << "  "
        << terminalSafe(folders[k].path) << "\n";
}

// Opens a snapshot named on the command line, checked whole before its sums are compared.
std::optional<Opened> openChecked(const std::string& file) {
  Opened opened{file, openSnapshot(file)};
  if (!opened.tree || reportDamage(*opened.tree, file)) return std::nullopt;
  return opened;
}

// The two newest snapshots in `folder` that entered `place`; fewer when there are not two.
std::vector<Opened> lastTwo(const std::string& place, const fs::path& folder) {
  std::vector<Opened> found;
  for (const auto& listed : tallyfox::SnapshotPaths::snapshots(place, folder)) {
    try {
      Opened opened{listed.url.string(), tallyfox::SnapshotFile::map(listed.url)};
      // A scan of a whole disk that stayed off the place's file system says nothing of it.
      if (!tallyfox::SnapshotHistory::figuresIn(*opened.tree, place)) continue;
      found.push_back(std::move(opened));
    } catch (const std::exception&) {
      continue;  // as the listing itself drops what it cannot read
    }
    if (found.size() == 2) break;
  }
  return found;
}

bool changedSince(const Opened& a, const Opened& b) {
  return reportChange(*a.tree, a.file) || reportChange(*b.tree, b.file);
}

}  // namespace

int runGrowth(const GrowthArgs& args) {
  const auto preferences = userPreferences();
  const std::uint64_t threshold = args.threshold ? *args.threshold
                                  : preferences  ? preferences->growthAlertBytes()
                                                 : tallyfox::GrowthReport::defaultThreshold;
  std::ostringstream out;
  if (!args.snapshots.empty()) {
    const auto older = openChecked(args.snapshots[0]);
    if (!older) return 1;
    const auto newer = openChecked(args.snapshots[1]);
    if (!newer) return 1;
    report(*older, *newer, tallyfox::SnapshotDiff::comparedPath(*older->tree, *newer->tree, std::nullopt),
           args, threshold, out);
    if (changedSince(*older, *newer)) return 1;
    std::cout << out.str();
    return 0;
  }

  const fs::path folder = tallyfox::SnapshotsFolder::ofUser(preferences);
  const auto places = preferences ? preferences->scheduledFolders() : std::vector<std::string>{};
  bool missing = false;
  for (const std::string& scheduled : places) {
    const std::string place = pathFromCommandLine(scheduled);
    const auto two = lastTwo(place, folder);
    if (two.size() < 2) {
      std::cerr << "tfscan: fewer than two snapshots of " << terminalSafe(place) << " in "
                << terminalSafe(folder.string()) << "\n";
      missing = true;
      continue;
    }
    report(two[1], two[0], place, args, threshold, out);
    if (changedSince(two[1], two[0])) return 1;
  }
  std::cout << out.str();
  return missing ? 1 : 0;
}

}  // namespace tfscan
