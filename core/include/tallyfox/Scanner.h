#pragma once

#include <tallyfox/ScanSink.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace tallyfox {

// How hard a scan may use the machine. The raw values are stored in the preferences
// (Preferences::scanSpeed) and shared with tfscan.
enum class ScanSpeed : std::uint8_t { fast = 0, balanced = 1, gentle = 2 };

inline constexpr std::array<ScanSpeed, 3> allScanSpeeds = {ScanSpeed::fast, ScanSpeed::balanced,
                                                           ScanSpeed::gentle};

// "fast", "balanced", "gentle".
std::string_view rawValue(ScanSpeed speed);
// The speed whose raw value is exactly `raw`, or nothing.
std::optional<ScanSpeed> scanSpeedFromRawValue(std::string_view raw);
// Worker threads that take work at this speed: 8, 4, 2.
int threads(ScanSpeed speed);
// The raw value with a capital first letter: "Fast", "Balanced", "Gentle".
std::string title(ScanSpeed speed);

struct ScanOptions {
  // Worker threads that may work at once.
  int threads = 8;
  // Stay on the file system of the root: mount points and folders of other devices are
  // listed but not entered.
  bool oneFileSystem = false;
  // Folders not to enter, matched by identity (inode and device), not by text. Paths that
  // do not exist are dropped silently.
  std::set<std::string> ignored;
  // Folder names not to enter (whole name), and name endings not to enter.
  std::set<std::string> skipNames;
  std::set<std::string> skipSuffixes;
  ScanSpeed speed = ScanSpeed::fast;
  // Count files whose storage is entirely shared with an earlier one (reflink clones) only
  // once. Costs an extent-map query per regular file on file systems that share extents;
  // off only to measure that cost.
  bool detectClones = true;

  ScanOptions() = default;
  // An absent thread count takes the speed's.
  ScanOptions(std::optional<int> threads, bool oneFileSystem, std::set<std::string> ignored = {},
              std::set<std::string> skipNames = {}, std::set<std::string> skipSuffixes = {},
              ScanSpeed speed = ScanSpeed::fast);
};

struct ScanStats {
  std::uint64_t entries = 0;
  std::uint64_t directories = 0;  // including the root
  std::uint64_t bytes = 0;
  std::uint64_t errors = 0;
  double seconds = 0;
};

// Folders that whole scans leave out, from the environment variable "VOK_IGNORE_DIRS": the
// value split at ":" with empty pieces dropped and a leading "~" expanded.
inline constexpr const char* ignoreDirsVariable = "VOK_IGNORE_DIRS";
std::set<std::string> parseIgnoredFolders(std::string_view value);
// Empty when the variable is absent.
std::set<std::string> ignoredFoldersFromEnvironment();

// Walks one folder tree on local disks with several threads and reports every entry,
// folder by folder, to a sink. Sizes are bytes allocated on disk; symbolic links are never
// followed; a file with several hard links, or a file whose storage is entirely shared with
// one seen before (a reflink clone), is counted once per scan.
//
// A Scanner runs once: construct, run(), read the statistics. cancel(), setSpeed(),
// speed() and the progress readers are safe from any thread while run() works.
class Scanner {
 public:
  // Trailing "/" are removed from root, except from "/" itself. The sink may be null.
  Scanner(std::string root, ScanOptions options, std::shared_ptr<ScanSink> sink);
  ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  const std::string& root() const;
  const ScanOptions& options() const;

  // Scans the whole tree and returns when every worker has finished, or when a cancelled
  // scan has drained. Throws std::system_error when the root cannot be scanned (ELOOP for a
  // symbolic link, ENOTDIR for a file); the sink has then received nothing. Rethrows an
  // exception thrown by the sink, after the workers have stopped.
  ScanStats run();
  // The statistics of the finished run (zero before).
  ScanStats stats() const;

  // Workers drop the remaining folders without opening them; run() then returns normally.
  void cancel();
  bool isCancelled() const;

  // Takes effect at once: threads above the new limit park after their current folder,
  // parked ones resume, and every thread adopts the new priorities.
  void setSpeed(ScanSpeed speed);
  ScanSpeed speed() const;

  // Entries and bytes reported so far, for a display that polls.
  std::uint64_t progressEntries() const;
  std::uint64_t progressBytes() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tallyfox
