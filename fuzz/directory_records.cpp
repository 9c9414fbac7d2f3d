// Folder listings as the kernel hands them over: walking the records must never read
// outside the filled part of the buffer, whatever the record lengths claim.
#include "../core/src/linux/ScanCalls.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so that the sanitizer sees any read past the end.
  std::vector<std::uint8_t> bytes(data, data + size);
  tallyfox::ScanCalls::DirectoryRecords records(bytes);
  tallyfox::ScanCalls::DirectoryRecords::Record record;
  std::size_t total = 0;
  while (records.next(record)) total += std::strlen(record.name) + record.nameLength + record.type;
  return total == 0 ? 0 : 0;
}
