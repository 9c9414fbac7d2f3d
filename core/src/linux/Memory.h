#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tallyfox::Memory {

// Maps every page of [data, data + bytes) in one call. Arrays that are about to be filled
// whole would otherwise take one page fault per 4 KiB as they are first written, which
// costs far more than the writing itself (most of all in virtual machines, where a fault
// is a trip to the hypervisor). Small ranges, and kernels without MADV_POPULATE_WRITE, are
// left to fault as usual.
void prefault(void* data, std::size_t bytes);

// A vector of count copies of value whose pages are mapped in bulk first.
template <typename T>
std::vector<T> filled(std::size_t count, const T& value = T()) {
  std::vector<T> v;
  v.reserve(count);
  prefault(v.data(), count * sizeof(T));
  v.resize(count, value);
  return v;
}

// Makes elements up to target ready to be written without a fault per page: capacity for
// target (growing geometrically, so repeated growth stays linear) and the pages from the
// current end to target mapped in bulk. Capacity past target stays untouched, so it costs
// address space, not memory.
template <typename T>
void prepare(std::vector<T>& v, std::size_t target) {
  if (target > v.capacity()) {
    std::vector<T> bigger;
    bigger.reserve(std::max(target, v.capacity() * 2));
    prefault(bigger.data(), target * sizeof(T));
    bigger.insert(bigger.end(), std::make_move_iterator(v.begin()), std::make_move_iterator(v.end()));
    v.swap(bigger);
  } else if (target > v.size()) {
    prefault(v.data() + v.size(), (target - v.size()) * sizeof(T));
  }
}

}  // namespace tallyfox::Memory
