// Any bytes are read as the index of scheduled snapshots: they give entries or the damage
// found, never a crash. Entries that were read are written back and must read the same, so
// that recording a run into an index never changes or loses what the other entries say.
#include <tallyfox/GrowthReport.h>
#include <tallyfox/ScheduledSnapshots.h>

#include <string_view>

using namespace tallyfox;

namespace {

bool sameGrowth(const std::optional<GrowthReport::Report>& a, const std::optional<GrowthReport::Report>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  if (a->place != b->place || a->snapshot != b->snapshot || a->previous != b->previous ||
      a->threshold != b->threshold || a->space != b->space || a->spaceFellLow != b->spaceFellLow ||
      a->folders.size() != b->folders.size())
    return false;
  for (std::size_t k = 0; k < a->folders.size(); ++k)
    if (a->folders[k].path != b->folders[k].path || a->folders[k].oldBytes != b->folders[k].oldBytes ||
        a->folders[k].newBytes != b->folders[k].newBytes)
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto index = ScheduledSnapshots::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (index.damage) {
    if (!index.entries.empty()) __builtin_trap();  // a damaged index offers nothing to prune
    return 0;
  }
  const auto again = ScheduledSnapshots::parse(ScheduledSnapshots::format(index.entries));
  if (again.damage || again.entries.size() != index.entries.size()) __builtin_trap();
  for (std::size_t k = 0; k < index.entries.size(); ++k) {
    const auto &a = index.entries[k], &b = again.entries[k];
    if (a.file != b.file || a.place != b.place || a.started != b.started || !sameGrowth(a.growth, b.growth))
      __builtin_trap();
  }
  return 0;
}
