#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tallyfox {

// One batch of entries of one folder, as one read of the folder returned them. A worker
// reuses its listing from batch to batch, keeping the arrays' capacity.
struct DirectoryListing {
  std::uint32_t directoryID = 0;
  std::uint32_t firstID = 0;  // entry k has id firstID + k
  std::vector<std::uint8_t> names;
  std::vector<std::uint32_t> nameEnds;
  std::vector<std::uint64_t> sizes;
  std::vector<std::int64_t> mtimes;  // seconds since 1970
  std::vector<std::uint8_t> flags;
  bool directoryError = false;

  std::size_t count() const { return sizes.size(); }
  std::span<const std::uint8_t> name(std::size_t k) const {
    const std::uint32_t start = k == 0 ? 0 : nameEnds[k - 1];
    return {names.data() + start, nameEnds[k] - start};
  }
  void reset(std::uint32_t directory, std::uint32_t first) {
    directoryID = directory;
    firstID = first;
    names.clear();
    nameEnds.clear();
    sizes.clear();
    mtimes.clear();
    flags.clear();
    directoryError = false;
  }
  void append(std::span<const std::uint8_t> name, std::uint64_t size, std::int64_t mtime,
              std::uint8_t entryFlags) {
    names.insert(names.end(), name.begin(), name.end());
    nameEnds.push_back(static_cast<std::uint32_t>(names.size()));
    sizes.push_back(size);
    mtimes.push_back(mtime);
    flags.push_back(entryFlags);
  }
};

}  // namespace tallyfox
