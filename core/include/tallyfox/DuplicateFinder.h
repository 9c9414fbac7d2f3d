#pragma once

#include <tallyfox/DiskTree.h>

#include <nlohmann/json.hpp>

#include <sys/types.h>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyfox {

// Finds files with identical contents below one folder of a snapshot. The tree narrows the
// candidates to files that have a same-size partner; the disk is then consulted in stages
// that each read more of fewer files: status and device, a hash of the file's edges, a hash
// of the whole file. Files are read, never changed, and without filling the page cache.
//
// One finder serves one search. run() blocks (call it off the main thread); progress(),
// bytesRead() and cancel() may be called from any thread meanwhile.
class DuplicateFinder {
 public:
  struct Options {
    // Files smaller than this, by the tree's size or by their byte length, are not
    // considered.
    std::uint64_t minimumSize = 65536;
    // Skip the folders of file-syncing services (syncRoots()).
    bool excludeSyncFolders = true;
    // Skip application and plug-in bundles instead of searching them.
    bool excludeCodeBundles = false;
    // Hashing workers; values below 1 count as 1, values above 64 as 64.
    int threads = 4;
  };

  struct Progress {
    std::string phase;
    std::int64_t done = 0;
    std::int64_t total = 0;
    bool operator==(const Progress&) const = default;
  };

  struct Group {
    std::uint64_t length = 0;        // byte length of each copy
    std::uint64_t allocated = 0;     // largest allocated size among the copies
    std::string sha256;              // 64 lower-case hexadecimal digits
    std::vector<std::string> paths;  // at least two; the first is the copy to keep
    // How many of the other copies already share all of their storage with the first.
    std::int64_t alreadyShared = 0;
    bool inCodeBundle = false;  // every copy lies inside a code bundle

    // Space that replacing the extra copies by clones would free.
    std::uint64_t savings() const;
    bool operator==(const Group&) const = default;
  };

  enum class Verdict { skip, descend, descendInCode };

  // Bytes read from files by the quick check and by the full hash, for measurements.
  struct ReadCounts {
    std::uint64_t quickCheck = 0;
    std::uint64_t hashing = 0;
  };

  static constexpr std::string_view findingCandidates = "finding candidates";
  static constexpr std::string_view checkingFiles = "checking files";
  static constexpr std::string_view quickCheck = "quick check";
  static constexpr std::string_view hashing = "hashing";

  // Bytes hashed at each edge of a file by the quick check, and the read size of the full hash.
  static constexpr std::size_t edgeBytes = 65536;
  static constexpr std::size_t fullReadBytes = 1 << 20;

  DuplicateFinder(DiskTreePtr tree, NodeId base, Options options);
  DuplicateFinder(DiskTreePtr tree, NodeId base);
  DuplicateFinder(const DuplicateFinder&) = delete;
  DuplicateFinder& operator=(const DuplicateFinder&) = delete;

  const DiskTree& tree() const { return *tree_; }
  NodeId base() const { return base_; }
  const Options& options() const { return options_; }
  // The process's real user id, taken at creation: only files it owns are reported.
  uid_t uid() const { return uid_; }

  Progress progress() const;
  ReadCounts bytesRead() const;

  // The groups of identical files, largest savings first; none when cancelled.
  std::vector<Group> run();
  // Makes a running or later run() stop soon (within one read of a file) and return nothing.
  void cancel() { cancelled_.store(true); }
  bool isCancelled() const { return cancelled_.load(std::memory_order_relaxed); }

  // The folder searched as a path on disk: canonical, the names' exact bytes. Every group's
  // paths lie below it. Nothing when a name on the way down is not safe to follow (and then
  // nothing is found).
  std::optional<std::string> searchedPath() const;

  // Whether to search a folder (path canonical, name its last component).
  Verdict verdict(const std::string& path, std::string_view name, bool inCode);
  // Home-folder locations of file-syncing services; computed once.
  const std::vector<std::string>& syncRoots();

  // The lower-case hexadecimal SHA-256 of a file's first 64 KiB and, for files longer than
  // 128 KiB, its last 64 KiB; nothing when the file cannot be opened or read.
  static std::optional<std::string> edgeHash(const std::string& path, std::uint64_t* bytesRead = nullptr);
  // The SHA-256 of the whole file; nothing on any error.
  static std::optional<std::string> fullHash(const std::string& path, std::uint64_t* bytesRead = nullptr);

 private:
  struct File;
  struct Search;
  enum class HashKind { edge, full };

  void setProgress(std::string_view phase, std::int64_t total);
  void advance();
  std::vector<std::optional<std::string>> hashAll(const std::vector<File>& files, HashKind kind);
  std::vector<std::string> trashRoots() const;

  DiskTreePtr tree_;
  NodeId base_;
  Options options_;
  uid_t uid_;

  mutable std::mutex progressLock_;
  Progress progress_;
  std::atomic<std::uint64_t> quickBytes_{0};
  std::atomic<std::uint64_t> fullBytes_{0};
  std::atomic<bool> cancelled_{false};

  std::optional<std::vector<std::string>> syncRoots_;
  std::optional<std::vector<std::string>> trashRoots_;
};

void to_json(nlohmann::json& json, const DuplicateFinder::Group& group);
void from_json(const nlohmann::json& json, DuplicateFinder::Group& group);

}  // namespace tallyfox
