#include "Commands.h"

#include <tallyfox/ByteFormat.h>
#include <tallyfox/FileChangedError.h>
#include <tallyfox/JsonValues.h>
#include <tallyfox/SnapshotDiff.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotPaths.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace tfscan {

namespace {

using tallyfox::SnapshotDiff;

// Folders below the top level show only their few largest changes, so that --depth
// answers "where inside?" without burying the top-level list.
constexpr int nestedLimit = 3;

bool changed(const SnapshotDiff::Entry& e) {
  return e.delta() != 0 || e.isNew() || e.isGone();
}

std::string signedBytes(const SnapshotDiff::Entry& e) {
  const std::int64_t delta = e.delta();
  const std::string magnitude = tallyfox::formatFileBytes(e.magnitude());
  if (delta > 0) return "+" + magnitude;
  if (delta < 0) return minusSign + magnitude;
  return magnitude;
}

std::string sizes(const SnapshotDiff::Entry& e) {
  if (e.isNew()) return "new";
  if (e.isGone()) return "gone";
  return tallyfox::formatFileBytes(e.oldSize) + changeArrow + tallyfox::formatFileBytes(e.newSize);
}

using tallyfox::SnapshotDump::terminalSafe;

struct Line {
  std::string change, sizes, name;
  bool unreliable;
  int level;
  SnapshotDiff::Entry entry;
};

// The changed children of `folder`, largest change first, and below each the largest
// changes of its own children down to `depth` levels.
void collect(const SnapshotDiff& diff, const SnapshotDiff::Entry& folder, int limit, int level, int depth,
             std::vector<Line>& lines, std::size_t& hidden) {
  int shown = 0;
  for (const auto& e : diff.children(folder)) {
    if (!changed(e)) continue;  // sorted by change: the unchanged ones all come last
    if (shown == limit) {
      if (level == 0) ++hidden;
      continue;
    }
    ++shown;
    lines.push_back({signedBytes(e), sizes(e), terminalSafe(e.name) + (e.isDirectory ? "/" : ""),
                     e.unreliable, level, e});
    if (level < depth && e.isDirectory)
      collect(diff, e, std::min(limit, nestedLimit), level + 1, depth, lines, hidden);
  }
}

std::string absolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/' || path.front() == '~') return path;
  std::error_code ignored;
  const auto absolute = std::filesystem::absolute(path, ignored);
  return absolute.empty() ? path : absolute.string();
}

// The lines the comparison shows, and how many changed entries of the top level did not fit.
std::vector<Line> changeLines(const SnapshotDiff& diff, const DiffArgs& args, std::size_t& hidden) {
  std::vector<Line> lines;
  hidden = 0;
  collect(diff, diff.root(), std::max(args.limit, 0), 0, std::max(args.depth, 0), lines, hidden);
  return lines;
}

// The same comparison as one JSON document: the same lines in the same order, each with its
// depth below the compared folder, exact byte counts and names.
nlohmann::json reportJson(const SnapshotDiff& diff, const tallyfox::DiskTree& older,
                          const tallyfox::DiskTree& newer, std::string path, const DiffArgs& args) {
  path = path.empty() ? "/" : tallyfox::SnapshotPaths::canonical(path);
  const auto top = diff.root();
  std::size_t hidden = 0;
  nlohmann::json changes = nlohmann::json::array();
  for (const Line& line : changeLines(diff, args, hidden)) {
    const SnapshotDiff::Entry& e = line.entry;
    changes.push_back({{"name", tallyfox::detail::pathToJson(e.name)},
                       {"depth", line.level},
                       {"folder", e.isDirectory},
                       {"oldBytes", e.isNew() ? nlohmann::json() : nlohmann::json(e.oldSize)},
                       {"newBytes", e.isGone() ? nlohmann::json() : nlohmann::json(e.newSize)},
                       {"change", e.delta()},
                       {"new", e.isNew()},
                       {"gone", e.isGone()},
                       {"uncertain", e.unreliable}});
  }
  return {{"path", tallyfox::detail::pathToJson(path)},
          {"old",
           {{"file", tallyfox::detail::pathToJson(args.oldFile)},
            {"scanStart", tallyfox::detail::timeToJson(older.scanStart())}}},
          {"new",
           {{"file", tallyfox::detail::pathToJson(args.newFile)},
            {"scanStart", tallyfox::detail::timeToJson(newer.scanStart())}}},
          {"oldBytes", top.oldSize},
          {"newBytes", top.newSize},
          {"change", top.delta()},
          {"changes", changes},
          {"moreChanged", hidden}};
}

// The comparison as the command prints it.
void report(const SnapshotDiff& diff, const tallyfox::DiskTree& older, const tallyfox::DiskTree& newer,
            std::string path, const DiffArgs& args, std::ostream& out) {
  // Neither file records the folder it was scanned from: root was compared with root.
  path = path.empty() ? "/" : tallyfox::SnapshotPaths::canonical(path);

  const auto top = diff.root();
  out << "Changes in " << terminalSafe(path) << " between " << localTime(older.scanStart()) << " and "
      << localTime(newer.scanStart()) << ": ";
  if (top.delta() == 0)
    out << "no change in size (" << tallyfox::formatFileBytes(top.newSize) << ")\n";
  else
    out << signedBytes(top) << " (" << sizes(top) << ")\n";

  std::size_t hidden = 0;
  const std::vector<Line> lines = changeLines(diff, args, hidden);
  if (lines.empty() && hidden == 0) {
    out << "  No entry changed.\n";
    return;
  }

  std::size_t changeWidth = 0, sizesWidth = 0;
  for (const auto& line : lines) {
    changeWidth = std::max(changeWidth, width(line.change));
    sizesWidth = std::max(sizesWidth, width(line.sizes));
  }
  for (const auto& line : lines) {
    out << "  " << padLeft(line.change, changeWidth) << "  " << padRight(line.sizes, sizesWidth) << "  "
        << (line.unreliable ? "? " : "  ") << std::string(std::size_t(line.level) * 2, ' ') << line.name
        << "\n";
  }
  if (hidden)
    out << "  ... and " << hidden << " more changed " << (hidden == 1 ? "entry" : "entries") << "\n";
  if (std::any_of(lines.begin(), lines.end(), [](const Line& line) { return line.unreliable; }))
    out << "  ? the change is uncertain: an error, or a folder entered in only one of the scans\n";
}

}  // namespace

int runDiff(const DiffArgs& args) {
  tallyfox::DiskTreePtr older, newer;
  for (auto [file, tree] : {std::pair{&args.oldFile, &older}, std::pair{&args.newFile, &newer}}) {
    *tree = openSnapshot(*file);
    if (!*tree || reportDamage(**tree, *file)) return 1;
  }

  std::string path = tallyfox::SnapshotDiff::comparedPath(
      *older, *newer, args.path ? std::optional(absolutePath(*args.path)) : std::nullopt);
  const auto diff = tallyfox::SnapshotDiff::make(older, newer, path);
  if (!diff) {
    if (reportChange(*older, args.oldFile) || reportChange(*newer, args.newFile)) return 1;
    const bool inOlder = tallyfox::SnapshotPaths::node(path, *older).has_value();
    std::cerr << "tfscan: " << terminalSafe(path) << " is not in "
              << terminalSafe(inOlder ? args.newFile : args.oldFile) << "\n";
    return 1;
  }
  std::ostringstream out;
  nlohmann::json document;
  if (args.json)
    document = reportJson(*diff, *older, *newer, path, args);
  else
    report(*diff, *older, *newer, path, args, out);
  // Printed only when neither file changed while the comparison read it.
  if (reportChange(*older, args.oldFile) || reportChange(*newer, args.newFile)) return 1;
  if (args.json)
    printJson(document);
  else
    std::cout << out.str();
  return 0;
}

}  // namespace tfscan
