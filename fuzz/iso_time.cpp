// Any bytes are read as an ISO 8601 moment (the injected clock of scheduled runs): a moment or
// nothing, never a crash. A moment read is written in UTC and must read back as the same second.
#include <tallyfox/IsoTime.h>

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto when = tallyfox::IsoTime::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!when) return 0;
  const auto second = std::chrono::floor<std::chrono::seconds>(*when);
  const auto again = tallyfox::IsoTime::parse(tallyfox::IsoTime::formatUtc(*when));
  if (!again || *again != second) __builtin_trap();
  return 0;
}
