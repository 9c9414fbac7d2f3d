#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/Preferences.h>
#include <tallyfox/ScheduledSnapshots.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

// The modes of tfscan. Each returns the process's exit status.
namespace tfscan {

struct ScanArgs {
  std::optional<std::string> speed;  // fast, balanced or gentle
  std::vector<std::string> ignore;
  bool allFilesystems = false;
  bool progress = false;  // machine-readable progress lines on standard error
  std::optional<std::string> output;
  std::string path;
};

struct DiffArgs {
  std::string oldFile;
  std::string newFile;
  std::optional<std::string> path;
  int limit = 20;
  int depth = 0;
  bool json = false;
};

struct DupesArgs {
  std::string file;
  std::optional<std::string> path;
  bool replace = false;
  bool yes = false;
};

// A folder of an opened snapshot, as the commands that look below one take it.
struct SnapshotFolder {
  tallyfox::DiskTreePtr tree;
  tallyfox::NodeId folder = tallyfox::DiskTree::root;
};

// Opens `file`, checks its tree and finds the folder `path` names in it (relative to the
// working folder unless absolute or "~"; the snapshot's root without one). Prints why not
// and answers nothing when the file cannot be read, is damaged, or has no such folder.
std::optional<SnapshotFolder> openFolder(const std::string& file, const std::optional<std::string>& path);

struct TopArgs {
  std::string file;
  std::optional<std::string> path;
  int count = 20;
  bool json = false;
};

struct TypesArgs {
  std::string file;
  std::optional<std::string> path;
  bool json = false;
};

struct HistoryArgs {
  std::string path;
  std::vector<std::string> snapshots;  // none: those of the path's place in the snapshots folder
};

struct GrowthArgs {
  std::vector<std::string> snapshots;  // OLD NEW, or none: the last two of each scheduled folder
  int limit = 20;
  std::optional<std::uint64_t> threshold;  // the saved growth alert's when absent
};

int runDump(const std::string& file, bool json = false);
int runScan(const ScanArgs& args);
int runDiff(const DiffArgs& args);
int runDupes(const DupesArgs& args);
int runCheck(const std::string& file, bool json = false);
int runTop(const TopArgs& args);
int runTypes(const TypesArgs& args);

// One JSON document on standard output: what --json prints. Names that are not UTF-8 are
// arrays of their byte values (tallyfox::detail::pathToJson), so nothing here is lossy.
void printJson(const nlohmann::json& document);
// Signs of a change: a minus as wide as "+" (U+2212), and "old → new".
inline constexpr const char* minusSign = "\xE2\x88\x92";
inline constexpr const char* changeArrow = " \xE2\x86\x92 ";
// "12.5%" of the whole, "<0.1%" for a sliver, "" of nothing: as the window shows shares.
std::string percent(std::uint64_t part, std::uint64_t whole);
// The file's modification day in local time, "2024-03-01".
std::string localDay(std::uint32_t mtime);
// Writes the snapshot `file` as an ncdu export to `output`.
int runExportNcdu(const std::string& output, const std::string& file);

// The timeline: scheduled scans, pruning, a folder's history, growth and metrics.
int runScheduled();
int runPrune(bool dryRun);
int runHistory(const HistoryArgs& args);
int runGrowth(const GrowthArgs& args);
// Writes the snapshot `file` in the Prometheus text exposition format to `output`.
int runMetrics(const std::string& output, const std::string& file);

// The environment variable that sets the timeline's clock, for tests and for replaying a
// schedule: an ISO 8601 moment (IsoTime::parse).
inline constexpr const char* clockVariable = "TALLYFOX_NOW";
// Now, or the moment the clock variable names; nothing, with the reason printed, when the
// variable holds no moment.
std::optional<std::chrono::system_clock::time_point> timelineNow();
// What a pruning did (or, in a dry run, would do), one line per file.
std::vector<std::string> prunedLines(const tallyfox::ScheduledSnapshots::Pruned& pruned, bool dryRun);

// Whether an output named on the command line means standard output: "-", or /dev/stdout,
// which a file would otherwise replace.
bool isStandardOutput(const std::string& output);
// Why a file cannot be written, to follow its name in a message.
std::string cannotWriteReason(const std::system_error& error);
// Prints "tfscan: cannot write OUTPUT: why" and answers true when `output` cannot be written
// (checkWritable): asked before long work, so that its result is not lost at the end.
bool reportUnwritable(const std::string& output);
// The snapshot named on the command line (SnapshotDump::open); null, with why it cannot be
// read printed, when it does not open.
tallyfox::DiskTreePtr openSnapshot(const std::string& file);

// A path given on the command line, relative to where tfscan runs or starting with "~", made
// absolute and standardized: snapshots record absolute paths.
std::string pathFromCommandLine(const std::string& path);
// Writes one line to standard error, made safe for a terminal: error lines name paths given
// on the command line or found on the disk.
void writeError(const std::string& text);

// Text in columns: widths count characters, not bytes (an arrow or a minus is one column).
std::size_t width(const std::string& text);
std::string padLeft(const std::string& text, std::size_t to);
std::string padRight(const std::string& text, std::size_t to);
// A moment in local time to the minute, "2025-06-18 12:00".
std::string localTime(std::chrono::system_clock::time_point when);

// The user's preferences store; warns on standard error when its file is refused, in which
// case every setting reads as its default and nothing is written to it.
std::optional<tallyfox::Preferences> userPreferences();

// Prints why the tree read from `file` is damaged, or that the file changed while it was
// read, and answers true; answers false for a sound tree. Every command runs it before it
// relies on a tree.
bool reportDamage(const tallyfox::DiskTree& tree, const std::string& file);
// Prints "tfscan: FILE changed while it was read" and answers true when another process cut
// the file short or rewrote it since it was opened. Every command asks again once its work
// is done, before it prints or acts on what it read.
bool reportChange(const tallyfox::DiskTree& tree, const std::string& file);
void printChanged(const std::string& file);

}  // namespace tfscan
