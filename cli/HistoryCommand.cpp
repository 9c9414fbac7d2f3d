#include "Commands.h"

#include <tallyfox/ByteFormat.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/SnapshotDump.h>
#include <tallyfox/SnapshotHistory.h>

#include <algorithm>
#include <iostream>
#include <sstream>

namespace tfscan {

namespace {

using tallyfox::SnapshotDump::terminalSafe;
using tallyfox::SnapshotHistory::Point;

constexpr const char* gap = "\xE2\x80\x94";  // an em dash: no figure, which is not a zero

struct Row {
  std::string when, size, bytes, entries, file;
  bool uncertain = false;
};

Row rowOf(const Point& point) {
  Row row;
  row.when = point.error ? "" : localTime(point.info.scanStart);
  row.file = terminalSafe(point.file.string());
  if (point.error) {
    row.size = gap;
    row.bytes = "cannot be read: " + terminalSafe(*point.error);
  } else if (!point.figures) {
    row.size = gap;
    row.bytes = "not in this snapshot";
  } else {
    row.size = tallyfox::formatFileBytes(point.figures->bytes);
    row.bytes = std::to_string(point.figures->bytes) + " bytes";
    row.entries = std::to_string(point.figures->entries) + " entries";
    row.uncertain = point.figures->uncertain;
  }
  return row;
}

void print(const std::string& path, const std::vector<Point>& points, std::ostream& out) {
  out << terminalSafe(path) << " in " << points.size() << (points.size() == 1 ? " snapshot" : " snapshots")
      << ", newest first:\n";
  std::vector<Row> rows;
  for (const Point& point : points) rows.push_back(rowOf(point));
  std::size_t widths[4] = {};
  for (const Row& row : rows) {
    widths[0] = std::max(widths[0], width(row.when));
    widths[1] = std::max(widths[1], width(row.size));
    // A gap's explanation spans the bytes and entries columns.
    if (!row.entries.empty()) widths[2] = std::max(widths[2], width(row.bytes));
    widths[3] = std::max(widths[3], width(row.entries));
  }
  for (const Row& row : rows) {
    out << "  " << padRight(row.when, widths[0]) << "  " << padLeft(row.size, widths[1]) << "  ";
    if (row.entries.empty())
      out << padRight(row.bytes, widths[2] + 2 + widths[3]);
    else
      out << padLeft(row.bytes, widths[2]) << "  " << padLeft(row.entries, widths[3]);
    out << "  " << (row.uncertain ? "? " : "  ") << row.file << "\n";
  }
  if (std::any_of(rows.begin(), rows.end(), [](const Row& row) { return row.uncertain; }))
    out << "  ? the folder could not be read completely in that scan\n";
}

}  // namespace

int runHistory(const HistoryArgs& args) {
  const std::string path = pathFromCommandLine(args.path);
  std::vector<Point> points;
  if (args.snapshots.empty()) {
    const auto folder = tallyfox::SnapshotsFolder::ofUser(userPreferences());
    points = tallyfox::SnapshotHistory::inFolder(path, folder);
    if (points.empty()) {
      std::cerr << "tfscan: no snapshot in " << terminalSafe(folder.string()) << " holds "
                << terminalSafe(path) << "\n";
      return 1;
    }
  } else {
    for (const std::string& file : args.snapshots)
      points.push_back(tallyfox::SnapshotHistory::pointOf(file, path));
    // Unreadable files have no time: they go last.
    std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) {
      if (a.error || b.error) return !a.error && b.error;
      return a.info.scanStart > b.info.scanStart;
    });
  }
  std::ostringstream out;
  print(path, points, out);
  std::cout << out.str();
  const bool unreadable = std::any_of(points.begin(), points.end(), [](const Point& p) { return p.error; });
  return unreadable ? 1 : 0;
}

}  // namespace tfscan
