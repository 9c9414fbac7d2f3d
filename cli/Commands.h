#pragma once

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

}  // namespace tfscan
