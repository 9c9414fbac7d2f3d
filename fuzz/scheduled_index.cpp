// Any bytes are read as the index of scheduled snapshots, as pruning and the growth alert read
// it: an index or damage, never a crash. What is read back is written again and must read
// back the same, so that recording an entry never turns a sound index into a damaged one.
#include <tallyfox/ScheduledSnapshots.h>

#include <string_view>

using namespace tallyfox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ScheduledSnapshots::Index index =
      ScheduledSnapshots::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (index.damage) return 0;
  const ScheduledSnapshots::Index again =
      ScheduledSnapshots::parse(ScheduledSnapshots::format(index.entries));
  if (again.damage || again.entries.size() != index.entries.size()) __builtin_trap();
  for (std::size_t i = 0; i < index.entries.size(); ++i) {
    const auto& a = index.entries[i];
    const auto& b = again.entries[i];
    if (a.file != b.file || a.place != b.place || a.growth.has_value() != b.growth.has_value())
      __builtin_trap();
    if (a.growth && a.growth->alert() != b.growth->alert()) __builtin_trap();
  }
  return 0;
}
