#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/TreeColumns.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {

// A fresh folder below $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  // Below `base` instead.
  explicit TempDir(const std::filesystem::path& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& contents);
void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);
// The names in a folder, sorted; hidden ones too.
std::vector<std::string> namesIn(const std::filesystem::path& folder);

// A private home folder for the lifetime of the object: HOME points at it, XDG_CONFIG_HOME
// at its ".config", and the other XDG base folders are unset so that they follow HOME. Tests
// never read or change the preferences, snapshots or Trash of the person running them, and
// child processes inherit the same home. The folder lies outside /tmp, which the recent
// snapshot lists leave out.
class ScopedHome {
 public:
  ScopedHome();
  ~ScopedHome();
  ScopedHome(const ScopedHome&) = delete;
  ScopedHome& operator=(const ScopedHome&) = delete;
  const std::filesystem::path& path() const { return dir_.path(); }

  // Runs before each home is removed. The app's tests wait here for work still writing below
  // it (the delete list's mirror), which would otherwise recreate the folder once it is gone.
  static void beforeLeaving(void (*settle)()) { settle_ = settle; }

 private:
  static inline void (*settle_)() = nullptr;
  TempDir dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A moment on a day of the local calendar (noon by default, away from daylight-saving
// changes), and the local day of a moment as "YYYY-MM-DD": dates that mean the same in every
// time zone the tests run in. Days past the end of a month count on into the next ones.
std::chrono::system_clock::time_point localDay(int year, int month, int day, int hour = 12);
std::string localDate(std::chrono::system_clock::time_point when);

// A preferences file that saves the gentle scan speed and, under another key, arrays nested
// `depth` levels deep: valid JSON that code copying it recursively cannot survive.
std::string deeplyNestedPreferences(int depth);

// A node of a small literal tree, given in breadth-first order with parents before children.
struct Node {
  std::int32_t parent;
  std::string name;
  std::uint64_t size = 0;
  std::uint8_t flags = 0;
  std::uint32_t mtime = 0;
};

// Columns of a finished tree from nodes listed in their final (breadth-first, sorted) order:
// child ranges, entry counts and folder sizes are derived (as the builder sums them); a node
// with children is a folder.
tallyfox::TreeColumns columnsOf(const std::vector<Node>& nodes);

// The flags of a folder node, for readable node lists.
inline constexpr std::uint8_t dir = tallyfox::EntryFlags::directory;

// The bytes of a text, as readers of outside bytes take them.
std::span<const std::uint8_t> bytesOf(std::string_view text);

// The bytes the file system has allocated to `path` (not followed); a failing lstat fails the test.
std::uint64_t allocated(const std::filesystem::path& path);

// A snapshot of `nodes` below `root` held in memory, as if scanned at `started` in `took` seconds.
tallyfox::DiskTreePtr memoryTree(const std::string& root, const std::vector<Node>& nodes,
                                 std::chrono::system_clock::time_point started = {}, double took = 1);

// The columns a tree holds, copied.
tallyfox::TreeColumns columnsOf(const tallyfox::DiskTree& tree);

// Columns of arbitrary contents (not a consistent tree) of n nodes, for round trips.
tallyfox::TreeColumns randomColumns(std::mt19937_64& random, std::size_t n);

// A copy of a snapshot file, named `name` beside it, with `bytes` written over the start of
// column `column` (0 parent, 1 size, ... in the file's order).
std::filesystem::path damagedCopy(const std::filesystem::path& file, int column,
                                  std::vector<std::uint8_t> bytes, const std::string& name);

// Expects every column of the tree to equal the given columns.
void expectSameColumns(const tallyfox::DiskTree& tree, const tallyfox::TreeColumns& columns);

}  // namespace testsupport
