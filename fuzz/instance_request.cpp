// Any bytes arriving on the single-instance socket, which any process of the user can write
// to: a request is read from them or nothing, and only paths a launch could name come out.
// What a launch sends reads back as it was sent.
#include "shell/InstanceRequest.h"

#include <cstddef>
#include <cstdint>

using tallyfox::InstanceRequest;

namespace {

bool sendable(const std::filesystem::path& path) {
  return path.native().starts_with('/') && path.native().find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray received(reinterpret_cast<const char*>(data), qsizetype(size));
  if (received.size() > InstanceRequest::longest || !InstanceRequest::complete(received)) return 0;
  const InstanceRequest request = InstanceRequest::parse(received);
  for (const auto& file : request.files)
    if (!sendable(file)) __builtin_trap();
  for (const auto& comparison : request.comparisons)
    if (!sendable(comparison.snapshot) || (!comparison.baseline.empty() && !sendable(comparison.baseline)))
      __builtin_trap();
  // Sent again by a launch, the request arrives whole and unchanged.
  const QByteArray sent = request.encoded();
  if (!InstanceRequest::complete(sent) || InstanceRequest::parse(sent) != request) __builtin_trap();
  return 0;
}
