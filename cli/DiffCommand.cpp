#include "Commands.h"

#include <tallyfox/ByteFormat.h>
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

constexpr const char* minus = "\xE2\x88\x92";  // U+2212, the width of "+"
constexpr const char* arrow = " \xE2\x86\x92 ";

bool changed(const SnapshotDiff::Entry& e) {
  return e.delta() != 0 || e.isNew() || e.isGone();
}

std::string signedBytes(const SnapshotDiff::Entry& e) {
  const std::int64_t delta = e.delta();
  const std::string magnitude = tallyfox::formatFileBytes(e.magnitude());
  if (delta > 0) return "+" + magnitude;
  if (delta < 0) return minus + magnitude;
  return magnitude;
}

std::string sizes(const SnapshotDiff::Entry& e) {
  if (e.isNew()) return "new";
  if (e.isGone()) return "gone";
  return tallyfox::formatFileBytes(e.oldSize) + arrow + tallyfox::formatFileBytes(e.newSize);
}

using tallyfox::SnapshotDump::terminalSafe;

struct Line {
  std::string change, sizes, name;
  bool unreliable;
  int level;
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
    lines.push_back(
        {signedBytes(e), sizes(e), terminalSafe(e.name) + (e.isDirectory ? "/" : ""), e.unreliable, level});
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

  std::vector<Line> lines;
  std::size_t hidden = 0;
  collect(diff, top, std::max(args.limit, 0), 0, std::max(args.depth, 0), lines, hidden);
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
  report(*diff, *older, *newer, path, args, out);
  // Printed only when neither file changed while the comparison read it.
  if (reportChange(*older, args.oldFile) || reportChange(*newer, args.newFile)) return 1;
  std::cout << out.str();
  return 0;
}

}  // namespace tfscan
