#pragma once

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

namespace tallyfox::Memory {

// Large arrays are given huge pages where the system offers them (transparent huge pages
// on request) and their pages are mapped in bulk before they are filled. A page touched for
// the first time costs a fault, which costs far more than writing the page, most of all in
// virtual machines, where it is a trip to the hypervisor: a 2 MiB page costs one fault
// instead of 512. Small arrays are left alone.

// A capacity of at least count elements of the given size, raised for a large array so
// that the allocation fills whole huge pages (which the kernel then aligns to them).
std::size_t roomyCapacity(std::size_t count, std::size_t elementSize);

// Asks for huge pages over the allocation at data, bytes long, and maps its first
// `used` bytes. Failure (an older kernel, no huge pages) only means the pages fault one by
// one later.
void prepareRegion(void* data, std::size_t bytes, std::size_t used);

// Whether memory that is reserved but never touched costs nothing: false when the system
// charges every reservation up front (strict overcommit), where reserving generously
// could starve the rest of the program.
bool untouchedMemoryIsFree();

// Hands the whole pages inside a large block that is about to be freed back to the system.
// The C library keeps large blocks it once mapped in its heap after they are freed, so a
// freed array would otherwise still count until the heap is reused.
void giveBack(const void* data, std::size_t bytes);

// Frees a vector's memory now, its pages first.
template <typename T>
void release(std::vector<T>& v) {
  static_assert(std::is_trivially_destructible_v<T>);
  giveBack(v.data(), v.capacity() * sizeof(T));
  std::vector<T>().swap(v);
}

// The storage a vector grew out of, handed back before it is freed: a growing array would
// otherwise leave each smaller copy resident in the heap, about doubling what it holds.
template <typename T>
void releaseOld(std::vector<T>& old) {
  if constexpr (std::is_trivially_destructible_v<T>) giveBack(old.data(), old.capacity() * sizeof(T));
}

// Gives back the pages past a vector's elements, which prepare() may have mapped ahead of
// them; they read as zeros when touched again.
template <typename T>
void releaseUnused(std::vector<T>& v) {
  static_assert(std::is_trivially_destructible_v<T>);
  giveBack(v.data() + v.size(), (v.capacity() - v.size()) * sizeof(T));
}

// A vector of count copies of value, its memory prepared as above.
template <typename T>
std::vector<T> filled(std::size_t count, const T& value = T()) {
  std::vector<T> v;
  v.reserve(roomyCapacity(count, sizeof(T)));
  prepareRegion(v.data(), v.capacity() * sizeof(T), count * sizeof(T));
  v.resize(count, value);
  return v;
}

// Capacity for count elements in memory prepared for huge pages, without mapping any more
// of it than the elements already there: room to grow into without moving, which costs
// address space only.
template <typename T>
void reserve(std::vector<T>& v, std::size_t count) {
  if (count <= v.capacity()) return;
  std::vector<T> bigger;
  bigger.reserve(roomyCapacity(count, sizeof(T)));
  prepareRegion(bigger.data(), bigger.capacity() * sizeof(T), v.size() * sizeof(T));
  bigger.insert(bigger.end(), std::make_move_iterator(v.begin()), std::make_move_iterator(v.end()));
  v.swap(bigger);
  releaseOld(bigger);
}

// Pages to be mapped later, outside a lock: where they start, and how many bytes.
using Regions = std::vector<std::pair<void*, std::size_t>>;

// Maps the whole pages of bytes at data, as prepare() would have.
void populate(void* data, std::size_t bytes);

// Makes elements up to target ready to be written: capacity for target (growing
// geometrically, so that repeated growth stays linear) in prepared memory, and the pages
// from the current end to target mapped. With `later`, pages that need no new capacity are
// noted there instead, for the caller to populate().
template <typename T>
void prepare(std::vector<T>& v, std::size_t target, Regions* later = nullptr) {
  if (target > v.capacity()) {
    std::vector<T> bigger;
    bigger.reserve(roomyCapacity(std::max(target, v.capacity() * 2), sizeof(T)));
    prepareRegion(bigger.data(), bigger.capacity() * sizeof(T), target * sizeof(T));
    bigger.insert(bigger.end(), std::make_move_iterator(v.begin()), std::make_move_iterator(v.end()));
    v.swap(bigger);
    releaseOld(bigger);
  } else if (target > v.size()) {
    void* const end = v.data() + v.size();
    const std::size_t bytes = (target - v.size()) * sizeof(T);
    if (later)
      later->emplace_back(end, bytes);
    else
      populate(end, bytes);
  }
}

}  // namespace tallyfox::Memory
