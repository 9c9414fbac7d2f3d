#include "Memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace tallyfox::Memory {

namespace {
// Below this a single fault-around or a few faults cost less than the extra system call.
constexpr std::size_t smallestRange = 256 * 1024;
constexpr std::uintptr_t hugePage = 2 * 1024 * 1024;
}  // namespace

void prefault(void* data, std::size_t bytes) {
  if (!data || bytes < smallestRange) return;
  static const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
  // Only whole pages inside the range: the pages at its ends may belong to other objects,
  // which populating would not harm, but madvise wants an aligned start.
  const std::uintptr_t begin = (std::uintptr_t(data) + page - 1) & ~(page - 1);
  const std::uintptr_t end = (std::uintptr_t(data) + bytes) & ~(page - 1);
  if (end <= begin) return;
  // Huge pages where whole ones fit: one mapping per 2 MiB instead of 512, which is also far
  // fewer trips to the hypervisor under shadow paging. Without transparent huge pages this
  // does nothing.
  const std::uintptr_t hugeBegin = (begin + hugePage - 1) & ~(hugePage - 1);
  const std::uintptr_t hugeEnd = end & ~(hugePage - 1);
  if (hugeEnd > hugeBegin) (void)::madvise(reinterpret_cast<void*>(hugeBegin), hugeEnd - hugeBegin, MADV_HUGEPAGE);
  // Failure (an older kernel, memory short) only means the pages fault one by one later.
  (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

}  // namespace tallyfox::Memory
