// Any bytes are decoded as an ncdu or gdu export, as they stand and gzip-compressed; they
// give a tree or a format error. A tree is opened and walked as a window showing it would.
#include "Deflate.h"
#include "TreeWalk.h"

#include <tallyfox/NcduExport.h>

using namespace tallyfox;

namespace {

void decode(std::span<const std::uint8_t> bytes) {
  try {
    auto decoded = NcduExport::decode(bytes, [](double) {});
    const auto tree = SnapshotFile::inMemory(std::move(decoded.columns), decoded.info);
    fuzzwalk::walk(*tree, true);
    if (tree->firstViolation()) __builtin_trap();  // the builder sums every export's tree
  } catch (const NcduExport::FormatError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  decode(bytes);
  // The same bytes in gzip, so that the fuzzer reaches the scanner through zlib too.
  if (const auto compressed = fuzzdeflate::deflated(bytes, 16 + 10)) decode(*compressed);
  return 0;
}
