// Any bytes are opened as a snapshot file, as every command and window opens one, and what
// opens is checked, shown, summarised and exported as they do.
#include "Callers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto file = fuzzcallers::write("input.tfsnap", {data, size});
  fuzzcallers::listAsRecent(file);
  fuzzcallers::openAsCallersDo(file, false);
  return 0;
}
