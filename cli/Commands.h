#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/Preferences.h>

#include <optional>
#include <string>
#include <vector>

// The modes of tfscan. Each returns the process's exit status.
namespace tfscan {

struct ScanArgs {
  std::optional<std::string> speed;  // fast, balanced or gentle
  std::vector<std::string> ignore;
  bool allFilesystems = false;
  std::optional<std::string> output;
  std::string path;
};

struct DiffArgs {
  std::string oldFile;
  std::string newFile;
  std::optional<std::string> path;
  int limit = 20;
  int depth = 0;
};

struct DupesArgs {
  std::string file;
  std::optional<std::string> path;
  bool replace = false;
  bool yes = false;
};

int runDump(const std::string& file);
int runScan(const ScanArgs& args);
int runDiff(const DiffArgs& args);
int runDupes(const DupesArgs& args);
int runCheck(const std::string& file);
// Writes the snapshot `file` as an ncdu export to `output`.
int runExportNcdu(const std::string& output, const std::string& file);

// The user's preferences store; warns on standard error when its file is refused, in which
// case every setting reads as its default and nothing is written to it.
std::optional<tallyfox::Preferences> userPreferences();

// Prints why the tree read from `file` is damaged and answers true, or answers false for a
// sound tree. Every command runs it before it relies on a tree.
bool reportDamage(const tallyfox::DiskTree& tree, const std::string& file);

}  // namespace tfscan
