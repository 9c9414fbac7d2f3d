// Any bytes are opened as a snapshot image; when they open, every node is walked.
#include <tallyfox/SnapshotFile.h>

#include <cstring>

using namespace tallyfox;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Images are read in place as typed columns, so give them the alignment a mapping has.
  auto buffer = std::make_shared<SnapshotFile::OwnedBuffer>(size);
  if (size) std::memcpy(buffer->data(), data, size);
  DiskTreePtr tree;
  try {
    tree = SnapshotFile::detail::TreeFactory::open({buffer->data(), size}, buffer);
  } catch (const SnapshotFile::FormatError&) {
    return 0;
  }
  volatile std::uint64_t sink = tree->errorCount();
  for (NodeId id = 0; id < tree->totalNodes(); ++id) {
    sink = sink + tree->name(id).size() + tree->nameBytes(id).size() + tree->path(id).size();
    sink = sink + tree->flags(id) + std::uint64_t(tree->parentOf(id)) + tree->sizeOf(id);
    for (NodeId child : tree->children(id)) sink = sink + std::uint64_t(tree->parentOf(child));
  }
  return 0;
}
