#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

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

// A data extent of a file after its first one, and what the extent tree says refers to it.
// FIEMAP calls an extent shared when anything refers to it but this very place in this file:
// another file, another subvolume, or the same file at another offset (a part of an extent
// split by a later write still counts as this place).
struct LaterExtent {
  std::uint64_t disk = 0;  // the extent's address: its key in the extent tree
  std::uint64_t inode = 0;
  std::uint64_t fileOffset = 0;  // where in the file it begins
  // The file offset minus the offset into the extent, as back references record the place.
  std::uint64_t place = 0;
  bool found = false;  // the extent tree holds the extent
  bool referredElsewhere = false;
  bool unclear = false;  // a reference that only a walk of the trees could resolve
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
// Every extent after a file's first goes to `later` too. Sets `last` to the key of the last
// item read.
Added addItems(std::span<const std::uint8_t> buffer, std::uint32_t count, std::span<FileData> files,
               std::vector<LaterExtent>& later, Key& last);

// Adds the back references found in one buffer of extent-tree search results to the extents
// they concern (sorted by disk address) of files in subvolume `subvolume`.
Added addReferences(std::span<const std::uint8_t> buffer, std::uint32_t count, std::span<LaterExtent> extents,
                    std::uint64_t subvolume, Key& last);

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
  // inodes sorted ascending, their other fields zero. The extents after each file's first
  // are added to `later`.
  Result read(int folder, std::span<FileData> files, std::vector<LaterExtent>& later);

  // Fills in what refers to each extent (sorted by disk address) from the extent tree.
  // Extents a transaction has changed since its last commit may read as they were before.
  Result readReferences(int folder, std::uint64_t subvolume, std::span<LaterExtent> extents);

 private:
  std::unique_ptr<std::uint64_t[]> buffer_;

  template <class Add, class Resume>
  Result search(int folder, std::uint64_t tree, Key from, const Key& to, Add&& add, Resume&& resume);
  // One search for each run of items whose numbers (keys in `tree`) lie close together.
  template <class Item, class Add>
  Result searchRuns(int folder, std::uint64_t tree, std::span<Item> items, std::uint64_t Item::*number,
                    std::uint64_t apart, std::uint8_t firstType, std::uint8_t lastType, Add&& add);
};

// The id of the subvolume holding an open folder; 0 when it cannot be told.
std::uint64_t subvolumeOf(int folder);

// Commits the running transaction of the file system holding `folder` and waits for it, so
// that the extent tree holds every reference made until now; false when it failed.
bool commitTransaction(int folder);

}  // namespace tallyfox::BtrfsExtents
