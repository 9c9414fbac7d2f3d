// Writes the seed inputs of the fuzz targets from real data: snapshots that tfscan made,
// vok files of the same trees (both versions, stored and compressed), their ncdu exports
// (also the export round trip's seeds, with the snapshots), the getdents64
// records of the scanned folders, and the results of btrfs tree searches on a small btrfs
// image (root only; skipped with the reason otherwise).
//
//   tool_fuzz_seeds OUT SNAPSHOT...
//
// Each target's seeds go to OUT/<target>/; a folder is only written when its seeds could be
// made, so that a run without root keeps the btrfs seeds already there.
#include "BtrfsImage.h"
#include "VokWriter.h"

#include "../../core/src/linux/BtrfsExtents.h"

#include <tallyfox/NcduExport.h>
#include <tallyfox/SnapshotFile.h>

#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tallyfox;

namespace {

using Bytes = std::vector<std::uint8_t>;

void save(const fs::path& file, const Bytes& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

Bytes load(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void appendU32(Bytes& out, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) out.push_back(std::uint8_t(value >> (8 * k)));
}

TreeColumns columnsOf(const DiskTree& tree) {
  TreeColumns c;
  for (NodeId id = 0; id < tree.totalNodes(); ++id) {
    c.parent.push_back(tree.parentOf(id));
    c.size.push_back(tree.sizeOf(id));
    c.mtime.push_back(tree.mtime()[std::size_t(id)]);
    c.entryCount.push_back(tree.entryCount()[std::size_t(id)]);
    c.flags.push_back(tree.flags(id));
    c.nameOffset.push_back(std::uint32_t(c.names.size()));
    const auto name = tree.nameView(id);
    c.names.insert(c.names.end(), name.begin(), name.end());
  }
  c.nameOffset.push_back(std::uint32_t(c.names.size()));
  return c;
}

// One getdents64 call's worth of records, as the kernel fills the buffer.
Bytes directoryRecords(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  Bytes buffer(4096);
  const long filled = ::syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
  ::close(fd);
  buffer.resize(filled > 0 ? std::size_t(filled) : 0);
  return buffer;
}

// A btrfs tree search; the seed is the item count (as the fuzz target reads it) followed
// by the filled part of the result buffer.
Bytes treeSearch(int folder, std::uint64_t tree, std::uint64_t minObject, std::uint64_t maxObject,
                 std::uint8_t minType, std::uint8_t maxType) {
  constexpr std::size_t resultBytes = 16 * 1024;
  std::vector<std::uint64_t> storage((sizeof(btrfs_ioctl_search_args_v2) + resultBytes + 7) / 8);
  auto* arguments = reinterpret_cast<btrfs_ioctl_search_args_v2*>(storage.data());
  arguments->key.tree_id = tree;
  arguments->key.min_objectid = minObject;
  arguments->key.max_objectid = maxObject;
  arguments->key.min_type = minType;
  arguments->key.max_type = maxType;
  arguments->key.max_offset = ~std::uint64_t(0);
  arguments->key.max_transid = ~std::uint64_t(0);
  arguments->key.nr_items = 4096;
  arguments->buf_size = resultBytes;
  if (::ioctl(folder, BTRFS_IOC_TREE_SEARCH_V2, arguments) != 0) return {};
  const auto* results = reinterpret_cast<const std::uint8_t*>(arguments->buf);
  std::size_t used = 0;
  for (std::uint32_t k = 0; k < arguments->key.nr_items; ++k) {
    btrfs_ioctl_search_header header;
    std::memcpy(&header, results + used, sizeof header);
    used += sizeof header + header.len;
  }
  Bytes out;
  appendU32(out, arguments->key.nr_items);
  out.insert(out.end(), results, results + used);
  return out;
}

void writeAt(int fd, char fill, std::size_t bytes, off_t offset) {
  const std::string data(bytes, fill);
  if (::pwrite(fd, data.data(), data.size(), offset) != ssize_t(data.size()) || ::fsync(fd) != 0)
    throw std::runtime_error("cannot write the btrfs files");
}

bool btrfsSeeds(const fs::path& out) {
  std::string whyNot;
  auto image = testsupport::BtrfsImage::create(whyNot, 128);
  if (!image) {
    std::cerr << "btrfs search seeds skipped: " << whyNot << "\n";
    return false;
  }
  const fs::path root = image->mountPoint();
  {
    // Separate synced writes give separate extents, with a hole between two of them.
    const int a = ::open((root / "a").c_str(), O_RDWR | O_CREAT, 0644);
    writeAt(a, 'a', 8192, 0);
    writeAt(a, 'b', 4096, 8192);
    writeAt(a, 'c', 4096, 65536);
    const int b = ::open((root / "b").c_str(), O_RDWR | O_CREAT, 0644);
    ::ioctl(b, FICLONE, a);  // shares every extent of a
    const int c = ::open((root / "c").c_str(), O_RDWR | O_CREAT, 0644);
    writeAt(c, 'x', 100, 0);  // small enough to be stored inline
    const int d = ::open((root / "d").c_str(), O_RDWR | O_CREAT, 0644);
    file_clone_range range{a, 8192, 4096, 0};
    ::ioctl(d, FICLONERANGE, &range);  // part of a, at another offset
    writeAt(d, 'd', 4096, 4096);
    for (int fd : {a, b, c, d}) ::close(fd);
  }
  const int folder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  BtrfsExtents::commitTransaction(folder);
  const Bytes files = treeSearch(folder, 0, 256, 300, BTRFS_EXTENT_DATA_KEY, BTRFS_EXTENT_DATA_KEY);
  const Bytes extents = treeSearch(folder, BTRFS_EXTENT_TREE_OBJECTID, 0, ~std::uint64_t(0),
                                   BTRFS_EXTENT_ITEM_KEY, BTRFS_SHARED_DATA_REF_KEY);
  ::close(folder);
  if (files.size() <= 4 || extents.size() <= 4) {
    std::cerr << "btrfs search seeds skipped: the searches found nothing\n";
    return false;
  }
  fs::remove_all(out / "btrfs_search");
  save(out / "btrfs_search" / "file-extents", files);
  save(out / "btrfs_search" / "extent-tree", extents);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: tool_fuzz_seeds OUT SNAPSHOT...\n";
    return 2;
  }
  const fs::path out = argv[1];
  std::vector<fs::path> snapshots(argv + 2, argv + argc);
  for (const char* target :
       {"snapshot_open", "diff_merge", "vok_read", "directory_records", "ncdu_read", "export_roundtrip"})
    fs::remove_all(out / target);

  std::vector<Bytes> images;
  for (const fs::path& file : snapshots) {
    const std::string name = file.stem().string();
    const DiskTreePtr tree = SnapshotFile::map(file);
    images.push_back(load(file));
    save(out / "snapshot_open" / (name + ".tfsnap"), images.back());
    const TreeColumns columns = columnsOf(*tree);
    for (std::uint16_t version : {1, 2}) {
      const auto writer = testsupport::VokWriter::fromColumns(columns, version);
      const std::string stem = name + "-v" + std::to_string(version);
      save(out / "vok_read" / (stem + ".vok"), writer.bytes(false));
      save(out / "vok_read" / (stem + "z.vok"), writer.bytes(true));
    }
    fs::create_directories(out / "ncdu_read");
    NcduExport::write(*tree, out / "ncdu_read" / (name + ".json"));
    // The round trip starts from either: a snapshot, or an export read back.
    save(out / "export_roundtrip" / (name + ".tfsnap"), images.back());
    save(out / "export_roundtrip" / (name + ".json"), load(out / "ncdu_read" / (name + ".json")));
    const Bytes records = directoryRecords(tree->rootPath());
    if (!records.empty()) save(out / "directory_records" / name, records);
  }
  // Pairs of neighbours (and each snapshot with itself), split where the first one ends.
  for (std::size_t k = 0; k < images.size(); ++k) {
    for (std::size_t j : {k, (k + 1) % images.size()}) {
      Bytes pair;
      appendU32(pair, std::uint32_t(images[k].size()));
      pair.insert(pair.end(), images[k].begin(), images[k].end());
      pair.insert(pair.end(), images[j].begin(), images[j].end());
      save(out / "diff_merge" / (snapshots[k].stem().string() + "+" + snapshots[j].stem().string()), pair);
    }
  }
  btrfsSeeds(out);
  return 0;
}
