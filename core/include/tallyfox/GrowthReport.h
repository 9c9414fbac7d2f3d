#pragma once

#include <tallyfox/DiskTree.h>
#include <tallyfox/SnapshotDiff.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What grew between two snapshots of a place, and whether its volume is running out of space:
// what a scheduled scan reports, and what a growth alert names.
namespace tallyfox::GrowthReport {

inline constexpr std::uint64_t defaultThreshold = 1'000'000'000;  // 1 GB
// An alert names this many folders at most.
inline constexpr std::size_t alertFolders = 3;
// Free space below this share of the volume is low.
inline constexpr double lowSpaceShare = 0.10;

struct Folder {
  std::string path;  // the exact bytes on disk
  std::uint64_t oldBytes = 0;
  std::uint64_t newBytes = 0;
  // Clamped as SnapshotDiff clamps, so it never overflows.
  std::int64_t grew() const;
};

// The folders at or below the diff's base in which more than `threshold` bytes of growth
// happened: a folder counts with what it grew beyond the subfolders that count themselves, so
// that growth deep down names the folder it happened in rather than every folder above it, and
// growth spread over many small subfolders names their parent. Most grown first, at most
// `limit`. Only folders that grew by more than the threshold are entered.
std::vector<Folder> grownFolders(const SnapshotDiff& diff, std::uint64_t threshold, std::size_t limit);

struct VolumeSpace {
  std::uint64_t freeBytes = 0;  // what an unprivileged user may still write
  std::uint64_t totalBytes = 0;
  bool low() const;
  bool operator==(const VolumeSpace&) const = default;
};

// The space of the volume holding `path` (statvfs); nothing when it cannot be asked.
std::optional<VolumeSpace> volumeSpace(const std::filesystem::path& path);

struct Report {
  std::string place;
  std::string snapshot;
  std::optional<std::string> previous;  // the snapshot compared with; absent when there was none
  std::optional<std::chrono::system_clock::time_point> previousStarted;
  std::uint64_t threshold = defaultThreshold;
  std::vector<Folder> folders;  // at most alertFolders, most grown first
  std::optional<VolumeSpace> space;
  // Low now, and not known to have been low at the place's previous scheduled scan: a volume
  // that stays full is reported once, not after every scan.
  bool spaceFellLow = false;

  bool alert() const { return !folders.empty() || spaceFellLow; }
};

struct Inputs {
  std::string place;
  std::filesystem::path snapshot;
  DiskTreePtr tree;
  std::filesystem::path previousSnapshot;
  DiskTreePtr previousTree;  // null when there is nothing to compare with
  std::uint64_t threshold = defaultThreshold;
  std::optional<VolumeSpace> space;
  std::optional<VolumeSpace> previousSpace;  // as recorded at the place's previous scheduled scan
};

// Compares the two trees at the place. A tree that lacks the place reports no folders.
Report report(const Inputs& inputs);

// Machine-readable: paths that are not UTF-8 become arrays of their bytes.
nlohmann::json toJson(const Report& report);
// Nothing for a value that is not a report as toJson writes it.
std::optional<Report> fromJson(const nlohmann::json& value);

}  // namespace tallyfox::GrowthReport
