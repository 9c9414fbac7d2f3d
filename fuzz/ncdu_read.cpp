// Any bytes are decoded as an ncdu or gdu export, as they stand and gzip-compressed; they
// give a tree or a format error. A tree is opened and walked as a window showing it would.
#include "TreeWalk.h"

#include <tallyfox/NcduExport.h>

#include <zlib.h>

#include <vector>

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
  // The same bytes in gzip, so that the fuzzer reaches the scanner through zlib too. A small
  // window and memory level keep each run cheap.
  z_stream stream{};
  if (deflateInit2(&stream, 1, Z_DEFLATED, 16 + 10, 1, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
  std::vector<std::uint8_t> compressed(deflateBound(&stream, uLong(size)) + 32);
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = uInt(size);
  stream.next_out = compressed.data();
  stream.avail_out = uInt(compressed.size());
  const int rc = deflate(&stream, Z_FINISH);
  const std::size_t length = compressed.size() - stream.avail_out;
  deflateEnd(&stream);
  if (rc == Z_STREAM_END) decode({compressed.data(), length});
  return 0;
}
