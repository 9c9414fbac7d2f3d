#include "linux/BtrfsExtents.h"

#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <sys/ioctl.h>
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>

namespace tallyfox::BtrfsExtents {

namespace {

constexpr long btrfsMagic = 0x9123683E;
constexpr std::size_t resultBytes = 65536;
// The largest item a default btrfs (16 KiB nodes) can hold. When a search stops with at least
// this much room left, it stopped because the range ended, and one call was enough. On file
// systems with larger nodes a bigger item may end a search early: the files it was about
// then find no extents and are looked at one by one, never wrongly.
constexpr std::size_t largeItemBytes = 16384;
// Files whose inode numbers lie at most this far apart are searched together: the files of
// one folder are mostly numbered in a row, and the items of the few others in between cost
// less to skip than a search of their own.
constexpr std::uint64_t inodesApartAtMost = 16;

// Offsets in struct btrfs_file_extent_item, which is packed and little-endian on disk.
constexpr std::size_t compressionAt = 16;
constexpr std::size_t typeAt = 20;
constexpr std::size_t inlineItemBytes = 21;
constexpr std::size_t diskBytenrAt = 21;
constexpr std::size_t offsetAt = 37;
constexpr std::size_t numBytesAt = 45;
constexpr std::size_t regularItemBytes = 53;

std::uint64_t littleEndian64(const std::uint8_t* bytes) {
  std::uint64_t value;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
  return value;
}

void addExtent(std::span<const std::uint8_t> item, FileData& file) {
  if (item.size() < inlineItemBytes) {
    file.unreadable = true;
    return;
  }
  const std::uint8_t type = item[typeAt];
  if (type == BTRFS_FILE_EXTENT_INLINE) {
    file.inlineData = true;
    return;
  }
  if ((type != BTRFS_FILE_EXTENT_REG && type != BTRFS_FILE_EXTENT_PREALLOC) ||
      item.size() < regularItemBytes) {
    file.unreadable = true;
    return;
  }
  const std::uint64_t disk = littleEndian64(item.data() + diskBytenrAt);
  if (disk == 0) return;  // a hole
  const std::uint64_t offset = littleEndian64(item.data() + offsetAt);
  const std::uint64_t length = littleEndian64(item.data() + numBytesAt);
  if (file.extents == 0) file.firstPhysical = item[compressionAt] != 0 ? disk : disk + offset;
  if (file.extents < std::numeric_limits<std::uint32_t>::max()) ++file.extents;
  file.bytes = length > std::numeric_limits<std::uint64_t>::max() - file.bytes
                   ? std::numeric_limits<std::uint64_t>::max()
                   : file.bytes + length;
}

bool after(const Key& a, const Key& b) {
  if (a.objectid != b.objectid) return a.objectid > b.objectid;
  if (a.type != b.type) return a.type > b.type;
  return a.offset > b.offset;
}

// The next key in tree order; false past the very last one.
bool advance(Key& key) {
  if (key.offset != std::numeric_limits<std::uint64_t>::max()) {
    ++key.offset;
    return true;
  }
  key.offset = 0;
  if (key.type != std::numeric_limits<std::uint8_t>::max()) {
    ++key.type;
    return true;
  }
  key.type = 0;
  if (key.objectid == std::numeric_limits<std::uint64_t>::max()) return false;
  ++key.objectid;
  return true;
}

}  // namespace

bool isBtrfs(long fileSystemType) {
  return static_cast<std::uint32_t>(fileSystemType) == static_cast<std::uint32_t>(btrfsMagic);
}

Added addItems(std::span<const std::uint8_t> buffer, std::uint32_t count, std::span<FileData> files,
               Key& last) {
  Added added;
  std::size_t position = 0;
  for (; added.items < count; ++added.items) {
    btrfs_ioctl_search_header header;
    if (buffer.size() - position < sizeof header) break;
    std::memcpy(&header, buffer.data() + position, sizeof header);
    if (header.len > buffer.size() - position - sizeof header) break;
    const auto item = buffer.subspan(position + sizeof header, header.len);
    position += sizeof header + header.len;
    last = {header.objectid, std::uint8_t(header.type), header.offset};
    if (header.type != BTRFS_EXTENT_DATA_KEY) continue;
    const auto file =
        std::lower_bound(files.begin(), files.end(), header.objectid,
                         [](const FileData& f, std::uint64_t inode) { return f.inode < inode; });
    if (file != files.end() && file->inode == header.objectid) addExtent(item, *file);
  }
  added.bytes = position;
  return added;
}

Reader::Reader() = default;
Reader::~Reader() = default;

Reader::Result Reader::read(int folder, std::span<FileData> files) {
  constexpr std::size_t argumentBytes = sizeof(btrfs_ioctl_search_args_v2) + resultBytes;
  if (!buffer_) buffer_ = std::make_unique<std::uint64_t[]>((argumentBytes + 7) / 8);
  auto* arguments = reinterpret_cast<btrfs_ioctl_search_args_v2*>(buffer_.get());
  const std::span<const std::uint8_t> results(reinterpret_cast<const std::uint8_t*>(arguments->buf),
                                              resultBytes);

  for (std::size_t first = 0; first < files.size();) {
    std::size_t end = first + 1;
    while (end < files.size() && files[end].inode - files[end - 1].inode <= inodesApartAtMost) ++end;
    const auto group = files.subspan(first, end - first);
    Key from{group.front().inode, BTRFS_EXTENT_DATA_KEY, 0};
    const Key to{group.back().inode, BTRFS_EXTENT_DATA_KEY, std::numeric_limits<std::uint64_t>::max()};
    for (;;) {
      btrfs_ioctl_search_key& key = arguments->key;
      std::memset(&key, 0, sizeof key);
      key.tree_id = 0;  // the subvolume of `folder`
      key.min_objectid = from.objectid;
      key.min_type = from.type;
      key.min_offset = from.offset;
      key.max_objectid = to.objectid;
      key.max_type = to.type;
      key.max_offset = to.offset;
      key.max_transid = std::numeric_limits<std::uint64_t>::max();
      key.nr_items = std::numeric_limits<std::uint32_t>::max();
      arguments->buf_size = resultBytes;
      if (::ioctl(folder, BTRFS_IOC_TREE_SEARCH_V2, arguments) != 0) {
        const int error = errno;
        return error == EPERM || error == EACCES || error == ENOTTY || error == EOPNOTSUPP
                   ? Result::notPermitted
                   : Result::failed;
      }
      const std::uint32_t found = key.nr_items;
      if (found == 0) break;
      Key last;
      const Added added = addItems(results, found, group, last);
      if (added.items != found) return Result::failed;
      if (added.bytes + sizeof(btrfs_ioctl_search_header) + largeItemBytes <= resultBytes) break;
      from = last;
      if (!advance(from) || after(from, to)) break;
    }
    first = end;
  }
  return Result::read;
}

}  // namespace tallyfox::BtrfsExtents
