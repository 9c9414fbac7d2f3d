#include "Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace tallyfox::Memory {

namespace {

// Below this a few faults cost less than the system calls, and the allocator serves the
// array from its heap rather than from a mapping of its own.
constexpr std::size_t smallestRegion = 1024 * 1024;
// What the C library adds to a large allocation inside its mapping (a header in front, and
// rounding), with room to spare.
constexpr std::size_t allocationHeader = 32;

std::uintptr_t pageSize() {
  static const std::uintptr_t size = std::uintptr_t(::sysconf(_SC_PAGESIZE));
  return size;
}

std::uintptr_t roundDown(std::uintptr_t value, std::uintptr_t unit) {
  return value & ~(unit - 1);
}

std::uintptr_t roundUp(std::uintptr_t value, std::uintptr_t unit) {
  return roundDown(value + unit - 1, unit);
}

}  // namespace

void giveBack(const void* data, std::size_t bytes) {
  if (!data || bytes < smallestRegion) return;
  // The allocator's own bookkeeping lies at the block's ends: only whole pages between stay.
  const std::uintptr_t start = roundUp(std::uintptr_t(data) + allocationHeader, pageSize());
  const std::uintptr_t end = roundDown(std::uintptr_t(data) + bytes, pageSize());
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}

bool untouchedMemoryIsFree() {
  static const bool free = [] {
    std::FILE* file = std::fopen("/proc/sys/vm/overcommit_memory", "re");
    if (!file) return false;
    const int mode = std::fgetc(file);
    std::fclose(file);
    return mode == '0' || mode == '1';
  }();
  return free;
}

void prepareRegion(void* data, std::size_t used) {
  if (!data || used < smallestRegion / 4) return;
  const std::uintptr_t page = pageSize();
  const std::uintptr_t begin = roundUp(std::uintptr_t(data), page),
                       end = roundDown(std::uintptr_t(data) + used, page);
  if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

void populate(void* data, std::size_t bytes) {
  prepareRegion(data, bytes);
}

}  // namespace tallyfox::Memory
