// The fuzzers' inputs deflated, so that each run also reaches a reader through zlib. A small
// window and memory level keep each run cheap.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace fuzzdeflate {

// windowBits as deflateInit2 takes them: 10 for a zlib stream, 16 + 10 for gzip.
inline std::optional<std::vector<std::uint8_t>> deflated(std::span<const std::uint8_t> bytes,
                                                         int windowBits) {
  z_stream stream{};
  if (deflateInit2(&stream, 1, Z_DEFLATED, windowBits, 1, Z_DEFAULT_STRATEGY) != Z_OK) return std::nullopt;
  std::vector<std::uint8_t> compressed(deflateBound(&stream, uLong(bytes.size())) + 32);
  stream.next_in = const_cast<Bytef*>(bytes.data());
  stream.avail_in = uInt(bytes.size());
  stream.next_out = compressed.data();
  stream.avail_out = uInt(compressed.size());
  const int rc = deflate(&stream, Z_FINISH);
  compressed.resize(compressed.size() - stream.avail_out);
  deflateEnd(&stream);
  if (rc != Z_STREAM_END) return std::nullopt;
  return compressed;
}

}  // namespace fuzzdeflate
