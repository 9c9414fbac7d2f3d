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

constexpr std::uintptr_t hugePage = 2 * 1024 * 1024;
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

std::size_t roomyCapacity(std::size_t count, std::size_t elementSize) {
  const std::size_t bytes = count * elementSize;
  if (elementSize == 0 || bytes < smallestRegion || bytes / elementSize != count) return count;
  const std::size_t whole = roundUp(bytes + allocationHeader, hugePage);
  return std::max(count, (whole - allocationHeader) / elementSize);
}

void prepareRegion(void* data, std::size_t bytes, std::size_t used) {
  if (!data) return;
  const auto start = std::uintptr_t(data);
  const std::uintptr_t page = pageSize();
  if (bytes >= smallestRegion) {
    // The pages the allocation lies on; where they reach a huge-page boundary (as a mapping
    // of whole huge pages does), the huge pages at the ends count too.
    std::uintptr_t begin = roundDown(start, page), end = roundUp(start + bytes, page);
    begin = begin % hugePage == 0 ? begin : roundUp(begin, hugePage);
    end = end % hugePage == 0 ? end : roundDown(end, hugePage);
    if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
  if (used >= smallestRegion / 4) {
    const std::uintptr_t begin = roundUp(start, page), end = roundDown(start + used, page);
    if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
  }
}

void populate(void* data, std::size_t bytes) {
  prepareRegion(data, 0, bytes);
}

}  // namespace tallyfox::Memory
