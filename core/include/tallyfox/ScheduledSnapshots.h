#pragma once

#include <tallyfox/GrowthReport.h>
#include <tallyfox/Retention.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The snapshots that scheduled scans make, and their pruning. Only snapshots the schedule made
// are ever removed: they are named in a small index beside them in the snapshots folder (the
// snapshot files themselves stay as every scan writes them), and a file is removed only while
// its header still says what the index recorded and no window holds it (SnapshotHold).
namespace tallyfox::ScheduledSnapshots {

inline constexpr const char* indexName = "scheduled-snapshots.json";
// A damaged index is kept under its name with this added when a new index is begun.
inline constexpr const char* damagedSuffix = ".damaged";

struct Entry {
  std::string file;                               // a name in the snapshots folder, its exact bytes
  std::string place;                              // the folder scanned
  std::chrono::system_clock::time_point started;  // as the snapshot's header records it
  // What that scan reported, with the volume's space at the time: what a growth alert shows.
  std::optional<GrowthReport::Report> growth;
};

struct Index {
  std::vector<Entry> entries;  // in the order recorded
  // Why the index cannot be trusted; nothing for a sound index or none at all.
  std::optional<std::string> damage;
};

// The index as text, and back. Parsing never throws: anything that is not an index as `format`
// writes it, or names a file outside the folder, is damage. A growth report that cannot be read
// is only left out, since pruning does not rely on it.
std::string format(const std::vector<Entry>& entries);
Index parse(std::string_view text);
// The index of `folder`; empty when there is none.
Index read(const std::filesystem::path& folder);

// Adds `entry` to the index of `folder` (which must exist), in place of an entry for the same
// file. Runs under the folder's lock, as pruning does, so that runs at the same time never lose
// each other's entries. A damaged index is moved aside (damagedSuffix) and a new one begun, so
// that the schedule keeps working; the answer is then the damage found. Throws
// std::system_error when the index cannot be written.
std::optional<std::string> record(const std::filesystem::path& folder, const Entry& entry);

struct Pruned {
  std::vector<std::filesystem::path> removed;  // in a dry run: those that would be removed
  std::vector<std::filesystem::path> open;     // due, but held open by a window: kept for now
  // Due, but left alone: no longer the snapshot the schedule wrote, or it could not be removed.
  std::vector<std::pair<std::filesystem::path, std::string>> leftAlone;
  // The index is damaged: nothing was removed.
  std::optional<std::string> damage;
};

// Removes the scheduled snapshots of `folder` that the retention rule lets go at `now`, and
// forgets the index entries of files that are gone. A dry run changes nothing. Throws
// std::system_error when the folder cannot be locked or the index cannot be written.
Pruned prune(const std::filesystem::path& folder, std::chrono::system_clock::time_point now, bool dryRun,
             const Retention::Policy& policy = {});

}  // namespace tallyfox::ScheduledSnapshots
