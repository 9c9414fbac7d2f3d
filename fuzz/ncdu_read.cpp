// Any bytes are opened as an ncdu or gdu export, as they stand and gzip-compressed, as every
// command and window opens one; a tree is checked, shown, summarised and exported as they
// do, and anything else is a format error. The list of recent snapshots peeks at each.
#include "Callers.h"
#include "Deflate.h"

namespace {

void open(std::span<const std::uint8_t> bytes) {
  const auto file = fuzzcallers::write("input.json", bytes);
  fuzzcallers::listAsRecent(file);
  const auto opened = fuzzcallers::openAsCallersDo(file, true);
  // The builder sums every export's tree: a tree that fails the check is the reader's fault.
  if (opened.opened && opened.violation && tallyfox::NcduExport::matches(file)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  open(bytes);
  // The same bytes in gzip, so that the fuzzer reaches the scanner through zlib too.
  if (const auto compressed = fuzzdeflate::deflated(bytes, 16 + 10)) open(*compressed);
  return 0;
}
