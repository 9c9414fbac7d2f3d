// A sound tree, from an export or a snapshot image in any bytes, is exported as tfscan
// exports it and read back as every command and window reads an export: what was written
// must read back as the same tree, up to what the format cannot say (clone, partial and
// dataless marks, which names are duplicate links).
#include "Callers.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <unordered_set>

using namespace tallyfox;

namespace {

DiskTreePtr treeOf(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= SnapshotFile::magic.size() &&
      std::equal(SnapshotFile::magic.begin(), SnapshotFile::magic.end(), bytes.begin())) {
    // Images are read in place as typed columns, so give them the alignment a mapping has.
    auto buffer = std::make_shared<SnapshotFile::OwnedBuffer>(bytes.size());
    std::memcpy(buffer->data(), bytes.data(), bytes.size());
    try {
      return SnapshotFile::detail::TreeFactory::open({buffer->data(), bytes.size()}, buffer);
    } catch (const SnapshotFile::FormatError&) {
      return nullptr;
    }
  }
  try {
    auto decoded = NcduExport::decode(bytes);
    return SnapshotFile::inMemory(std::move(decoded.columns), decoded.info);
  } catch (const NcduExport::FormatError&) {
    return nullptr;
  }
}

template <typename A, typename B>
bool same(std::span<A> a, const std::vector<B>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

constexpr std::uint8_t carried = EntryFlags::directory | EntryFlags::error | EntryFlags::notDescended;

// The marks the format keeps: a symbolic link's, on what is not a folder.
std::uint8_t exported(std::uint8_t flags) {
  const bool link = (flags & EntryFlags::symlink) && !(flags & EntryFlags::directory);
  return std::uint8_t((flags & carried) | (link ? EntryFlags::symlink : 0));
}

bool sameTree(const DiskTree& tree, const NcduExport::DecodedSnapshot& read) {
  const TreeColumns& c = read.columns;
  const auto flags = tree.flagsColumn();
  if (!std::equal(flags.begin(), flags.end(), c.flags.begin(), c.flags.end(),
                  [](std::uint8_t a, std::uint8_t b) { return exported(a) == exported(b); }))
    return false;
  return same(tree.parent(), c.parent) && same(tree.size(), c.size) && same(tree.mtime(), c.mtime) &&
         same(tree.entryCount(), c.entryCount) && same(tree.childStartColumn(), c.childStart) &&
         same(tree.childCountColumn(), c.childCount) && same(tree.nameOffset(), c.nameOffset) &&
         same(tree.names(), c.names);
}

// The structural check does not look for two entries of one folder with the same name (no
// scan makes them); an export holding them is refused by every reader, as it could name
// places it does not hold. Such a snapshot is left out here.
bool namesTwice(const DiskTree& tree) {
  std::unordered_set<std::string_view> names;
  for (NodeId folder = 0; folder < tree.totalNodes(); ++folder) {
    names.clear();
    for (const NodeId child : tree.children(folder)) {
      const auto name = tree.nameView(child);
      if (!names.emplace(reinterpret_cast<const char*>(name.data()), name.size()).second) return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const DiskTreePtr tree = treeOf({data, size});
  // tfscan exports only what passes the check.
  if (!tree || tree->firstViolation() || namesTwice(*tree)) return 0;
  const auto file = fuzzcallers::folder() / "export.json";
  NcduExport::write(*tree, file);
  NcduExport::DecodedSnapshot read;
  try {
    read = NcduExport::decodeColumns(file);
  } catch (const NcduExport::FormatError&) {
    __builtin_trap();  // an export of a sound tree that its own reader refuses
  }
  if (!sameTree(*tree, read)) __builtin_trap();
  const std::string& root = tree->rootPath();
  if (read.info.rootPath != (root.empty() ? "/" : root)) __builtin_trap();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(tree->scanStart());
  if (seconds.time_since_epoch().count() >= 0 && read.info.scanStart != seconds) __builtin_trap();
  return 0;
}
