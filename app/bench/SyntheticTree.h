#pragma once

#include <tallyfox/TreeColumns.h>
#include <tallyfox/TreeColumnsBuilder.h>

#include <cstdint>
#include <deque>
#include <random>
#include <string>

namespace tallyfox::bench {

// A reproducible tree shaped roughly like a home folder: folders of a few to a few thousand
// entries, about one entry in six a folder, file sizes spread over many orders of magnitude.
// `hugeFolder` children, when not 0, go into one extra folder below the root. With `growEvery`
// set, every file whose id is a multiple of it is twice as large: the same tree, a while later.
inline TreeColumns syntheticTree(std::size_t nodes, std::size_t hugeFolder = 0, std::uint64_t seed = 42,
                                 std::size_t growEvery = 0) {
  std::mt19937_64 random(seed);
  std::lognormal_distribution<double> fileSize(9.0, 2.5);
  std::geometric_distribution<int> fanOut(0.04);
  TreeColumnsBuilder builder;
  builder.reserve(nodes, nodes * 12);
  auto put = [&](std::size_t id, std::int32_t parent, const std::string& name, bool folder) {
    // A folder holds only what is below it, as in every scan: a tree that --check finds sound.
    std::uint64_t size = folder ? 0 : std::uint64_t(fileSize(random));
    if (!folder && growEvery > 0 && id % growEvery == 0) size *= 2;
    builder.set(id, parent, {reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}, size,
                1700000000, 1, folder ? EntryFlags::directory : 0);
  };
  put(0, -1, "", true);
  std::size_t next = 1;
  if (hugeFolder > 0 && next < nodes) {
    const auto huge = std::int32_t(next);
    put(next++, 0, "huge", true);
    for (std::size_t k = 0; k < hugeFolder && next < nodes; ++k)
      put(next++, huge, "item" + std::to_string(k) + ".bin", false);
  }
  std::deque<std::int32_t> folders{0};
  while (next < nodes) {
    if (folders.empty()) folders.push_back(0);
    const std::int32_t folder = folders.front();
    folders.pop_front();
    const int count = 1 + fanOut(random);
    for (int k = 0; k < count && next < nodes; ++k) {
      const bool isFolder = random() % 6 == 0;
      const std::size_t id = next++;
      put(id, folder, (isFolder ? "dir" : "file") + std::to_string(id) + (isFolder ? "" : ".dat"), isFolder);
      if (isFolder) folders.push_back(std::int32_t(id));
    }
  }
  return builder.build(true, EntryFlags::directory);
}

}  // namespace tallyfox::bench
