#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace tallyfox {

// Frees the space of a duplicate file by making it share the storage of the copy that stays.
// The file system does the sharing in place (FIDEDUPERANGE): it compares the bytes under its
// own lock and shares only what is equal, so the duplicate keeps its inode, name, owner,
// permissions, times, flags and extended attributes, and its contents never change.
// Every safety condition is checked again at the moment of replacing, because the list of
// duplicates may be old. Runs on the caller's thread; no shared state.
namespace CloneReplacer {

struct Outcome {
  enum class Kind { replaced, alreadyShared };
  Kind kind = Kind::replaced;
  std::uint64_t bytesFreed = 0;  // for replaced

  static Outcome replaced(std::uint64_t bytes) { return {Kind::replaced, bytes}; }
  static Outcome alreadyShared() { return {Kind::alreadyShared, 0}; }
  bool operator==(const Outcome&) const = default;
};

class Failure : public std::runtime_error {
 public:
  // folderChanged: a folder between the searched folder and the file is no longer the
  // folder the search walked (a link or a file took its place). The other copies of the
  // group may lie below it too, so callers skip the rest of the group.
  enum class Kind { file, folderChanged };
  explicit Failure(std::string message, Kind kind = Kind::file)
      : std::runtime_error(message), message_(std::move(message)), kind_(kind) {}
  const std::string& message() const { return message_; }
  Kind kind() const { return kind_; }

 private:
  std::string message_;
  Kind kind_;
};

// Makes `duplicate` share the storage of `keeper`, both below the folder `searched` (the
// folder the duplicates were found in, as DuplicateFinder::searchedPath gives it). Every
// folder between `searched` and the two files is opened without following a symbolic link,
// so that a folder swapped for a link after the search cannot lead the replacement
// elsewhere. With compareBytes the contents are compared first as well (the file system
// compares them again while sharing). Throws Failure with a short message that the caller
// shows after the file's name.
Outcome replace(const std::string& duplicate, const std::string& keeper, bool compareBytes,
                const std::string& searched);

// Byte-by-byte comparison of two files; throws Failure when either cannot be read.
bool identical(const std::string& a, const std::string& b);

// Whether the file system holding `path` can share storage between files (btrfs, XFS,
// bcachefs); false for others (ext4, tmpfs, ...) and when it cannot be asked. Touches the
// disk: call it off the main thread.
bool canShareStorage(const std::string& path);

// What replacing says where canShareStorage() is false.
inline constexpr const char* cannotShareMessage = "this file system can't share storage between files";

}  // namespace CloneReplacer

// One JSON line per replacement, appended to "clone-log.jsonl" in the snapshots folder.
namespace CloneLog {

inline constexpr const char* fileName = "clone-log.jsonl";

// The log in a snapshots folder.
std::filesystem::path url(const std::filesystem::path& snapshotsFolder);
// Whether lines can be appended to the log in `snapshotsFolder`: creates the folder and an
// empty log when missing. Nothing when they can, else why not ("it is not a regular file").
// The log is never opened through a link or a FIFO planted in its place.
std::optional<std::string> check(const std::filesystem::path& snapshotsFolder) noexcept;
// Appends one line to the log in `snapshotsFolder` (created when missing). Nothing when the
// line was written, else why not, as check() says it.
std::optional<std::string> record(const std::filesystem::path& snapshotsFolder, const std::string& keeper,
                                  const std::string& replaced, std::uint64_t bytes) noexcept;
// The line without its line feed: compact JSON, keys in sorted order, "/" written as "\/",
// the date in ISO 8601 UTC with whole seconds ("2024-03-05T13:07:09Z").
std::string line(const std::string& keeper, const std::string& replaced, std::uint64_t bytes,
                 std::chrono::system_clock::time_point date);

}  // namespace CloneLog

}  // namespace tallyfox
