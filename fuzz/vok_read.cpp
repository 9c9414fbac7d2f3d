// Any bytes are decoded as a vok file, as they stand and behind a zlib header; they give a
// tree or a format error. A tree is opened and walked as a window showing it would.
#include "Deflate.h"
#include "TreeWalk.h"

#include <tallyfox/VokSnapshotReader.h>

using namespace tallyfox;

namespace {

void decode(std::span<const std::uint8_t> bytes) {
  try {
    const auto decoded = VokSnapshotReader::decode(bytes, [](double) {});
    volatile std::size_t sink = decoded.topNames.size();
    (void)sink;
    const auto tree = SnapshotFile::inMemory(decoded.columns, {"/base", {}, 0});
    fuzzwalk::walk(*tree, true);
  } catch (const VokSnapshotReader::FormatError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  decode(bytes);
  // The same bytes compressed, so that the fuzzer reaches the record parser through zlib too.
  if (const auto compressed = fuzzdeflate::deflated(bytes, 10)) decode(*compressed);
  return 0;
}
