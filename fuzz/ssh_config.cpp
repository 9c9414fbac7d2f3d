// The hosts offered for a remote scan are read from ~/.ssh/config: text of any bytes and
// any length gives a list, never a crash.
#include <tallyfox/SshConfig.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parsed = tallyfox::SshConfig::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& host : parsed.hosts)
    if (host.empty()) __builtin_trap();
  return 0;
}
