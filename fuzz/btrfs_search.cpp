// Results of btrfs tree searches as the kernel hands them over: reading them must never go
// outside the buffer, whatever the item headers and back references claim, and must fill in
// only the files and extents asked about.
#include "../core/src/linux/BtrfsExtents.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallyfox::BtrfsExtents;
  if (size < 4) return 0;
  std::uint32_t count;
  std::memcpy(&count, data, sizeof count);
  // An exact-size copy, so that the sanitizer sees any read past the end.
  const std::vector<std::uint8_t> bytes(data + 4, data + size);

  std::vector<FileData> files(4);
  for (std::size_t k = 0; k < files.size(); ++k) files[k].inode = 256 + 2 * k;
  std::vector<LaterExtent> later;
  Key last;
  Added added = addItems(bytes, count, files, later, last);
  if (added.bytes > bytes.size() || added.items > count) __builtin_trap();
  for (std::size_t k = 0; k < files.size(); ++k)
    if (files[k].inode != 256 + 2 * k) __builtin_trap();
  for (const LaterExtent& extent : later)
    if (extent.inode < 256 || extent.inode > 262 || extent.found) __builtin_trap();

  // The same bytes as extent-tree results, about extents at the disk addresses they name.
  std::vector<LaterExtent> extents = {
      {13631488, 257, 0, 0}, {13631488, 258, 4096, 4096}, {14000000, 257, 0, 0}};
  added = addReferences(bytes, count, extents, 5, last);
  if (added.bytes > bytes.size() || added.items > count) __builtin_trap();
  return 0;
}
