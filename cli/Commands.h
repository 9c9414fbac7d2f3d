#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/Preferences.h>

#include <nlohmann/json.hpp>

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
// "12.5%" of the whole, "<0.1%" for a sliver, "" of nothing: as the window shows shares.
std::string percent(std::uint64_t part, std::uint64_t whole);
// The file's modification day in local time, "2024-03-01".
std::string localDay(std::uint32_t mtime);
// Writes the snapshot `file` as an ncdu export to `output`.
int runExportNcdu(const std::string& output, const std::string& file);

// Whether an output named on the command line means standard output: "-", or /dev/stdout,
// which a file would otherwise replace.
bool isStandardOutput(const std::string& output);
// Why a file cannot be written, to follow its name in a message.
std::string cannotWriteReason(const std::system_error& error);

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
