// Any bytes are opened as a snapshot image; when they open, every node is walked.
#include "TreeWalk.h"

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
  fuzzwalk::walk(*tree, false);
  return 0;
}
