// Any bytes are decoded as a vok file, as they stand and behind a zlib header; they give a
// tree or a format error. A tree is opened and walked as a window showing it would.
#include "TreeWalk.h"

#include <tallyfox/VokSnapshotReader.h>

#include <zlib.h>

#include <vector>

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
  // A small deflate window and memory level keep each run cheap.
  z_stream stream{};
  if (deflateInit2(&stream, 1, Z_DEFLATED, 10, 1, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
  std::vector<std::uint8_t> compressed(deflateBound(&stream, uLong(size)));
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
