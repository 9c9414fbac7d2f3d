// Any bytes are opened as a vok file, as they stand and behind a zlib header, as every
// command and window opens one; a tree is checked, shown, summarised and exported as they
// do, and anything else is a format error.
#include "Callers.h"
#include "Deflate.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  // Only what opens as a vok file: the same bytes could also be a snapshot or an export.
  const auto& magic = tallyfox::SnapshotFile::magic;
  if (tallyfox::NcduExport::looksLikeExport(bytes.first(std::min<std::size_t>(size, 64))) ||
      (size >= magic.size() && std::equal(magic.begin(), magic.end(), data)))
    return 0;
  const auto file = fuzzcallers::write("input.vok", bytes);
  fuzzcallers::listAsRecent(file);
  fuzzcallers::openAsCallersDo(file, true);
  // The same bytes compressed, so that the fuzzer reaches the record parser through zlib too.
  if (const auto compressed = fuzzdeflate::deflated(bytes, 10))
    fuzzcallers::openAsCallersDo(fuzzcallers::write("input.vok", *compressed), true);
  return 0;
}
