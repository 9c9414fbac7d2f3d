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
// Extents at most this far apart on disk are searched together in the extent tree, whose
// items (one per extent, with its back references inside) are as cheap to skip.
constexpr std::uint64_t extentsApartAtMost = 65536;
// Item types not in every version of the kernel's headers.
constexpr std::uint8_t extentOwnerRefKey = 172;

// Offsets in struct btrfs_file_extent_item, which is packed and little-endian on disk.
constexpr std::size_t compressionAt = 16;
constexpr std::size_t typeAt = 20;
constexpr std::size_t inlineItemBytes = 21;
constexpr std::size_t diskBytenrAt = 21;
constexpr std::size_t offsetAt = 37;
constexpr std::size_t numBytesAt = 45;
constexpr std::size_t regularItemBytes = 53;

// struct btrfs_extent_item, then inline back references: a type byte and the reference.
constexpr std::size_t extentItemBytes = 24;
constexpr std::size_t extentFlagsAt = 16;
constexpr std::size_t dataRefBytes = 28;        // struct btrfs_extent_data_ref: root, objectid, offset, count
constexpr std::size_t sharedDataRefBytes = 12;  // parent block, count
constexpr std::size_t ownerRefBytes = 8;        // root

std::uint64_t littleEndian64(const std::uint8_t* bytes) {
  std::uint64_t value;
  std::memcpy(&value, bytes, sizeof value);
  if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
  return value;
}

void addExtent(std::span<const std::uint8_t> item, std::uint64_t fileOffset, FileData& file,
               std::vector<LaterExtent>& later) {
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
  if (file.extents == 0)
    file.firstPhysical = item[compressionAt] != 0 ? disk : disk + offset;
  else
    later.push_back({disk, file.inode, fileOffset, fileOffset - offset});
  if (file.extents < std::numeric_limits<std::uint32_t>::max()) ++file.extents;
  file.bytes = length > std::numeric_limits<std::uint64_t>::max() - file.bytes
                   ? std::numeric_limits<std::uint64_t>::max()
                   : file.bytes + length;
}

// A data back reference: the place (subvolume, inode, place in the file) referring to an extent.
void addDataReference(const std::uint8_t* reference, std::uint64_t subvolume,
                      std::span<LaterExtent> extents) {
  const std::uint64_t root = littleEndian64(reference);
  const std::uint64_t inode = littleEndian64(reference + 8);
  const std::uint64_t place = littleEndian64(reference + 16);
  for (LaterExtent& extent : extents)
    if (root != subvolume || inode != extent.inode || place != extent.place) extent.referredElsewhere = true;
}

void markUnclear(std::span<LaterExtent> extents) {
  for (LaterExtent& extent : extents) extent.unclear = true;
}

void addExtentItem(std::span<const std::uint8_t> item, std::uint64_t subvolume,
                   std::span<LaterExtent> extents) {
  for (LaterExtent& extent : extents) extent.found = true;
  if (item.size() < extentItemBytes ||
      !(littleEndian64(item.data() + extentFlagsAt) & BTRFS_EXTENT_FLAG_DATA))
    return markUnclear(extents);
  for (std::size_t at = extentItemBytes; at < item.size();) {
    const std::uint8_t type = item[at];
    const std::size_t left = item.size() - at - 1;
    std::size_t length;
    if (type == BTRFS_EXTENT_DATA_REF_KEY && left >= dataRefBytes) {
      addDataReference(item.data() + at + 1, subvolume, extents);
      length = dataRefBytes;
    } else if (type == extentOwnerRefKey && left >= ownerRefBytes) {
      length = ownerRefBytes;  // who is charged for it, not a reference
    } else if (type == BTRFS_SHARED_DATA_REF_KEY && left >= sharedDataRefBytes) {
      // Referred to by a tree block that may be shared between subvolumes.
      markUnclear(extents);
      length = sharedDataRefBytes;
    } else {
      return markUnclear(extents);
    }
    at += 1 + length;
  }
}

// One item of a search result, as the kernel lays it out: a header, then the item's bytes.
// Reads up to `count` whole items and hands each to `each`.
template <class Each>
Added forEachItem(std::span<const std::uint8_t> buffer, std::uint32_t count, Key& last, Each&& each) {
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
    each(header, item);
  }
  added.bytes = position;
  return added;
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
               std::vector<LaterExtent>& later, Key& last) {
  return forEachItem(buffer, count, last, [&](const btrfs_ioctl_search_header& header, auto item) {
    if (header.type != BTRFS_EXTENT_DATA_KEY) return;
    const auto file =
        std::lower_bound(files.begin(), files.end(), header.objectid,
                         [](const FileData& f, std::uint64_t inode) { return f.inode < inode; });
    if (file != files.end() && file->inode == header.objectid) addExtent(item, header.offset, *file, later);
  });
}

Added addReferences(std::span<const std::uint8_t> buffer, std::uint32_t count, std::span<LaterExtent> extents,
                    std::uint64_t subvolume, Key& last) {
  return forEachItem(buffer, count, last, [&](const btrfs_ioctl_search_header& header, auto item) {
    const auto begin =
        std::lower_bound(extents.begin(), extents.end(), header.objectid,
                         [](const LaterExtent& e, std::uint64_t disk) { return e.disk < disk; });
    auto end = begin;
    while (end != extents.end() && end->disk == header.objectid) ++end;
    if (begin == end) return;
    const std::span<LaterExtent> concerned(begin, end);
    if (header.type == BTRFS_EXTENT_ITEM_KEY)
      addExtentItem(item, subvolume, concerned);
    else if (header.type == BTRFS_EXTENT_DATA_REF_KEY && item.size() >= dataRefBytes)
      addDataReference(item.data(), subvolume, concerned);
    else if (header.type == BTRFS_EXTENT_DATA_REF_KEY || header.type == BTRFS_SHARED_DATA_REF_KEY)
      markUnclear(concerned);
  });
}

Reader::Reader() = default;
Reader::~Reader() = default;

template <class Add, class Resume>
Reader::Result Reader::search(int folder, std::uint64_t tree, Key from, const Key& to, Add&& add,
                              Resume&& resume) {
  constexpr std::size_t argumentBytes = sizeof(btrfs_ioctl_search_args_v2) + resultBytes;
  if (!buffer_) buffer_ = std::make_unique<std::uint64_t[]>((argumentBytes + 7) / 8);
  auto* arguments = reinterpret_cast<btrfs_ioctl_search_args_v2*>(buffer_.get());
  const std::span<const std::uint8_t> results(reinterpret_cast<const std::uint8_t*>(arguments->buf),
                                              resultBytes);
  for (;;) {
    btrfs_ioctl_search_key& key = arguments->key;
    std::memset(&key, 0, sizeof key);
    key.tree_id = tree;
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
    if (found == 0) return Result::read;
    Key last;
    const Added added = add(results, found, last);
    if (added.items != found) return Result::failed;
    if (added.bytes + sizeof(btrfs_ioctl_search_header) + largeItemBytes <= resultBytes) return Result::read;
    from = last;
    if (!advance(from) || !resume(from) || after(from, to)) return Result::read;
  }
}

template <class Item, class Add>
Reader::Result Reader::searchRuns(int folder, std::uint64_t tree, std::span<Item> items,
                                  std::uint64_t Item::*number, std::uint64_t apart, std::uint8_t firstType,
                                  std::uint8_t lastType, Add&& add) {
  for (std::size_t first = 0; first < items.size();) {
    std::size_t end = first + 1;
    while (end < items.size() && items[end].*number - items[end - 1].*number <= apart) ++end;
    const auto run = items.subspan(first, end - first);
    const Key from{run.front().*number, firstType, 0};
    const Key to{run.back().*number, lastType, std::numeric_limits<std::uint64_t>::max()};
    // Where a search that filled its buffer goes on: past the items of numbers not asked
    // about (the entries of a large folder numbered between two files) to the next one asked
    // about, so that at most one buffer of them is read.
    const auto resume = [&](Key& key) {
      if (key.type > lastType) {
        if (key.objectid == std::numeric_limits<std::uint64_t>::max()) return false;
        key = {key.objectid + 1, 0, 0};
      }
      const auto next = std::lower_bound(run.begin(), run.end(), key.objectid,
                                         [&](const Item& item, std::uint64_t n) { return item.*number < n; });
      if (next == run.end()) return false;
      if ((*next).*number != key.objectid)
        key = {(*next).*number, firstType, 0};
      else if (key.type < firstType)
        key = {key.objectid, firstType, 0};
      return true;
    };
    const Result result = search(
        folder, tree, from, to,
        [&](auto results, std::uint32_t found, Key& last) { return add(run, results, found, last); }, resume);
    if (result != Result::read) return result;
    first = end;
  }
  return Result::read;
}

Reader::Result Reader::read(int folder, std::span<FileData> files, std::vector<LaterExtent>& later) {
  // Tree 0: the subvolume of `folder`.
  return searchRuns(folder, 0, files, &FileData::inode, inodesApartAtMost, BTRFS_EXTENT_DATA_KEY,
                    BTRFS_EXTENT_DATA_KEY, [&](auto run, auto results, std::uint32_t found, Key& last) {
                      return addItems(results, found, run, later, last);
                    });
}

Reader::Result Reader::readReferences(int folder, std::uint64_t subvolume, std::span<LaterExtent> extents) {
  return searchRuns(folder, BTRFS_EXTENT_TREE_OBJECTID, extents, &LaterExtent::disk, extentsApartAtMost,
                    BTRFS_EXTENT_ITEM_KEY, BTRFS_SHARED_DATA_REF_KEY,
                    [&](auto run, auto results, std::uint32_t found, Key& last) {
                      return addReferences(results, found, run, subvolume, last);
                    });
}

std::uint64_t subvolumeOf(int folder) {
  btrfs_ioctl_ino_lookup_args lookup;
  std::memset(&lookup, 0, sizeof lookup);
  lookup.treeid = 0;
  lookup.objectid = BTRFS_FIRST_FREE_OBJECTID;
  return ::ioctl(folder, BTRFS_IOC_INO_LOOKUP, &lookup) == 0 ? lookup.treeid : 0;
}

bool commitTransaction(int folder) {
  std::uint64_t transaction = 0;
  if (::ioctl(folder, BTRFS_IOC_START_SYNC, &transaction) != 0) return false;
  return ::ioctl(folder, BTRFS_IOC_WAIT_SYNC, &transaction) == 0;
}

}  // namespace tallyfox::BtrfsExtents
