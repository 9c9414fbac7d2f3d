#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace tallyfox::BtrfsExtents {

// What a btrfs subvolume's own tree says about one file's data. A few tree searches answer
// this for all the files of a folder, where FIEMAP costs an open, a close and a walk of each
// extent's back references per file.
struct FileData {
  std::uint64_t inode = 0;
  // Where FIEMAP reports the first extent (fe_physical): the extent's disk address plus the
  // offset into it, or the disk address alone for a compressed extent.
  std::uint64_t firstPhysical = 0;
  // Bytes of the file the data extents cover (the inode's allocated bytes when nothing waits
  // to be written); holes are not counted.
  std::uint64_t bytes = 0;
  // Data extents, as the tree holds them (FIEMAP may join neighbours); holes are not extents.
  std::uint32_t extents = 0;
  // Data stored inside the tree itself, which no other file can share.
  bool inlineData = false;
  // An item this reader does not understand: only FIEMAP can tell.
  bool unreadable = false;
};

bool isBtrfs(long fileSystemType);

// A position in a btrfs tree: items are ordered by (objectid, type, offset).
struct Key {
  std::uint64_t objectid = 0;
  std::uint8_t type = 0;
  std::uint64_t offset = 0;
};

struct Added {
  std::uint32_t items = 0;  // items read whole: fewer than asked when the buffer is cut short
  std::size_t bytes = 0;    // of the buffer they took
};

// Adds the file-extent items of one buffer of BTRFS_IOC_TREE_SEARCH_V2 results to the files
// they belong to; `files` is sorted by inode and items of other inodes or types are skipped.
// Sets `last` to the key of the last item read.
Added addItems(std::span<const std::uint8_t> buffer, std::uint32_t count, std::span<FileData> files,
               Key& last);

// Reads the extents of many files of one folder; one per thread, as it owns its buffer.
class Reader {
 public:
  enum class Result {
    read,          // every file's fields are filled (all zero when the tree holds nothing for it)
    notPermitted,  // searching the trees needs CAP_SYS_ADMIN, or this is not btrfs
    failed,        // some other error; the fields are incomplete
  };

  Reader();
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // `folder` is an open folder of the subvolume the files belong to; `files` holds distinct
  // inodes sorted ascending, their other fields zero.
  Result read(int folder, std::span<FileData> files);

 private:
  std::unique_ptr<std::uint64_t[]> buffer_;
};

}  // namespace tallyfox::BtrfsExtents
