#include <tallyfox/GrowthReport.h>

#include "JsonValues.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <limits>

namespace tallyfox::GrowthReport {

namespace {

constexpr std::uint64_t largestSigned = std::uint64_t(std::numeric_limits<std::int64_t>::max());

std::int64_t clamped(std::uint64_t size) {
  return std::int64_t(std::min(size, largestSigned));
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
  std::int64_t sum;
  if (!__builtin_add_overflow(a, b, &sum)) return sum;
  return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

bool grewPast(const SnapshotDiff::Entry& e, std::uint64_t threshold) {
  return e.isDirectory && e.delta() > 0 && std::uint64_t(e.delta()) > threshold;
}

}  // namespace

std::int64_t Folder::grew() const {
  return clamped(newBytes) - clamped(oldBytes);
}

std::vector<Folder> grownFolders(const SnapshotDiff& diff, std::uint64_t threshold, std::size_t limit) {
  std::vector<Folder> found;
  // A stack rather than recursion: a damaged tree may nest folders as deep as it has entries.
  std::vector<SnapshotDiff::Entry> pending{diff.root()};
  while (!pending.empty()) {
    const SnapshotDiff::Entry folder = std::move(pending.back());
    pending.pop_back();
    std::int64_t ownGrowth = folder.delta();
    for (auto& child : diff.children(folder)) {
      if (child.magnitude() <= threshold) break;  // largest change first: no later child grew past it
      if (!grewPast(child, threshold)) continue;
      ownGrowth = saturatingAdd(ownGrowth, -child.delta());
      pending.push_back(std::move(child));
    }
    if (ownGrowth <= 0 || std::uint64_t(ownGrowth) <= threshold || !folder.newNode) continue;
    found.push_back({diff.newTree().filePath(*folder.newNode), folder.oldSize, folder.newSize});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Folder& a, const Folder& b) { return a.grew() > b.grew(); });
  if (found.size() > limit) found.resize(limit);
  return found;
}

bool VolumeSpace::low() const {
  return totalBytes > 0 && double(freeBytes) < lowSpaceShare * double(totalBytes);
}

std::optional<VolumeSpace> volumeSpace(const std::filesystem::path& path) {
  struct statvfs info {};
  if (::statvfs(path.c_str(), &info) != 0 || info.f_blocks == 0) return std::nullopt;
  const std::uint64_t unit = info.f_frsize ? info.f_frsize : info.f_bsize;
  return VolumeSpace{std::uint64_t(info.f_bavail) * unit, std::uint64_t(info.f_blocks) * unit};
}

Report report(const Inputs& inputs) {
  Report out;
  out.place = inputs.place;
  out.snapshot = inputs.snapshot.string();
  out.threshold = inputs.threshold;
  out.space = inputs.space;
  out.spaceFellLow =
      inputs.space && inputs.space->low() && !(inputs.previousSpace && inputs.previousSpace->low());
  if (!inputs.previousTree || !inputs.tree) return out;
  out.previous = inputs.previousSnapshot.string();
  out.previousStarted = inputs.previousTree->scanStart();
  if (const auto diff = SnapshotDiff::make(inputs.previousTree, inputs.tree, inputs.place))
    out.folders = grownFolders(*diff, inputs.threshold, alertFolders);
  return out;
}

namespace {

template <typename T>
std::optional<T> field(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  if constexpr (std::is_same_v<T, std::uint64_t>) {
    if (!it->is_number_unsigned()) return std::nullopt;
  } else if constexpr (std::is_same_v<T, bool>) {
    if (!it->is_boolean()) return std::nullopt;
  }
  return it->get<T>();
}

std::optional<std::string> pathField(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? std::nullopt : detail::pathFromJson(*it);
}

}  // namespace

nlohmann::json toJson(const Report& report) {
  nlohmann::json folders = nlohmann::json::array();
  for (const Folder& f : report.folders)
    folders.push_back({{"path", detail::pathToJson(f.path)},
                       {"oldBytes", f.oldBytes},
                       {"newBytes", f.newBytes},
                       {"grewBytes", f.grew()}});
  nlohmann::json out = {
      {"place", detail::pathToJson(report.place)},
      {"snapshot", detail::pathToJson(report.snapshot)},
      {"previous", report.previous ? detail::pathToJson(*report.previous) : nullptr},
      {"previousStarted", report.previousStarted ? detail::timeToJson(*report.previousStarted) : nullptr},
      {"thresholdBytes", report.threshold},
      {"folders", folders},
      {"freeBytes", report.space ? nlohmann::json(report.space->freeBytes) : nullptr},
      {"totalBytes", report.space ? nlohmann::json(report.space->totalBytes) : nullptr},
      {"spaceFellLow", report.spaceFellLow},
      {"alert", report.alert()}};
  return out;
}

std::optional<Report> fromJson(const nlohmann::json& value) {
  if (!value.is_object()) return std::nullopt;
  Report r;
  const auto place = pathField(value, "place"), snapshot = pathField(value, "snapshot");
  const auto threshold = field<std::uint64_t>(value, "thresholdBytes");
  const auto fellLow = field<bool>(value, "spaceFellLow");
  const auto folders = value.find("folders");
  if (!place || !snapshot || !threshold || !fellLow || folders == value.end() || !folders->is_array())
    return std::nullopt;
  r.place = *place;
  r.snapshot = *snapshot;
  r.threshold = *threshold;
  r.spaceFellLow = *fellLow;
  r.previous = pathField(value, "previous");
  if (const auto started = value.find("previousStarted"); started != value.end())
    r.previousStarted = detail::timeFromJson(*started);
  const auto freeBytes = field<std::uint64_t>(value, "freeBytes");
  const auto totalBytes = field<std::uint64_t>(value, "totalBytes");
  if (freeBytes && totalBytes) r.space = VolumeSpace{*freeBytes, *totalBytes};
  for (const auto& f : *folders) {
    if (!f.is_object()) return std::nullopt;
    const auto path = pathField(f, "path");
    const auto oldBytes = field<std::uint64_t>(f, "oldBytes"), newBytes = field<std::uint64_t>(f, "newBytes");
    if (!path || !oldBytes || !newBytes) return std::nullopt;
    r.folders.push_back({*path, *oldBytes, *newBytes});
  }
  return r;
}

}  // namespace tallyfox::GrowthReport
