// The progress records of a remote or privileged scan come from another process, perhaps
// another machine: any line is read or refused, never more.
#include <tallyfox/ProgressRecord.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  if (const auto record = tallyfox::ProgressRecord::parse(line)) {
    std::string again = record->line();
    again.pop_back();
    (void)tallyfox::ProgressRecord::parse(again);
  }
  return 0;
}
